#include "ui_hooks.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QUrl>

namespace tervalo {

UiHooks UiHooks::Desktop() {
    UiHooks h;
    h.message = [](QWidget* parent, const QString& text, QMessageBox::Icon icon) {
        QMessageBox box(icon, QGuiApplication::applicationDisplayName(), text, QMessageBox::Ok, parent);
        box.exec();
    };
    h.beep = [] { QApplication::beep(); };
    h.openFile = [](const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
    h.pickFolder = [](QWidget* parent, const QString& caption, const QString& startFolder) {
        return QFileDialog::getExistingDirectory(parent, caption, startFolder, QFileDialog::ShowDirsOnly);
    };
    h.execDialog = [](QDialog& dialog) { return dialog.exec(); };
    return h;
}

}  // namespace tervalo

#include "ui_hooks.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QUrl>

namespace tervalo {

UiHooks UiHooks::Desktop() {
    UiHooks h;
    h.message = [](QWidget* parent, const QString& text, QMessageBox::Icon icon) {
        QMessageBox box(icon, QGuiApplication::applicationDisplayName(), text, QMessageBox::Ok, parent);
        box.exec();
    };
    h.beep = [] { QApplication::beep(); };
    h.openFile = [](const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
    h.pickFolder = [](QWidget* parent, const QString& caption, const QString& startFolder) {
        return QFileDialog::getExistingDirectory(parent, caption, startFolder, QFileDialog::ShowDirsOnly);
    };
    h.execDialog = [](QDialog& dialog) { return dialog.exec(); };
    h.ask = [](QWidget* parent, const QString& text) {
        return QMessageBox::question(parent, QGuiApplication::applicationDisplayName(), text,
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
    };
    h.results = [](QWidget* parent, const QString& summary, const QList<QPair<QString, QString>>& rows) {
        QDialog dialog(parent);
        dialog.setWindowTitle(QStringLiteral("変換結果"));
        auto* layout = new QVBoxLayout(&dialog);
        layout->addWidget(new QLabel(summary, &dialog));
        auto* table = new QTableWidget(static_cast<int>(rows.size()), 2, &dialog);
        table->setHorizontalHeaderLabels({QStringLiteral("ファイル"), QStringLiteral("理由")});
        table->verticalHeader()->hide();
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->setSelectionBehavior(QAbstractItemView::SelectRows);
        for (int r = 0; r < rows.size(); ++r) {
            table->setItem(r, 0, new QTableWidgetItem(rows[r].first));
            table->setItem(r, 1, new QTableWidgetItem(rows[r].second));
        }
        table->resizeColumnsToContents();
        table->horizontalHeader()->setStretchLastSection(true);
        layout->addWidget(table, 1);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        layout->addWidget(buttons);
        dialog.resize(640, 360);
        dialog.exec();
    };
    return h;
}

}  // namespace tervalo

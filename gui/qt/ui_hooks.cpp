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
#include <QClipboard>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

#include "front_end.h"
#include "qt_text.h"

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
        auto* label = new QLabel(summary, &dialog);
        label->setWordWrap(true);
        layout->addWidget(label);
        auto* table = new QTableWidget(static_cast<int>(rows.size()), 2, &dialog);
        table->setHorizontalHeaderLabels({QStringLiteral("ファイル"), QStringLiteral("理由")});
        table->verticalHeader()->hide();
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->setSelectionBehavior(QAbstractItemView::SelectRows);
        table->setWordWrap(false);
        for (int r = 0; r < rows.size(); ++r) {
            table->setItem(r, 0, new QTableWidgetItem(rows[r].first));
            table->setItem(r, 1, new QTableWidgetItem(rows[r].second));
        }
        table->resizeColumnsToContents();
        table->horizontalHeader()->setStretchLastSection(true);
        layout->addWidget(table, 1);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
        QPushButton* copy = buttons->addButton(QStringLiteral("コピー(&C)"), QDialogButtonBox::ActionRole);
        QObject::connect(copy, &QPushButton::clicked, &dialog, [summary, rows] {
            std::vector<gui::ResultRow> list;
            for (const auto& [name, reason] : rows) list.push_back({U(name), U(reason)});
            QGuiApplication::clipboard()->setText(Q(gui::CopyText(U(summary), list)));
        });
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        layout->addWidget(buttons);
        // Wide enough for both columns, within the screen.
        const int wanted = table->horizontalHeader()->length() + 48;
        const QRect screen = dialog.screen() ? dialog.screen()->availableGeometry() : QRect(0, 0, 1024, 768);
        dialog.resize(std::clamp(wanted, 420, screen.width() * 9 / 10), std::min(420, screen.height() * 8 / 10));
        dialog.exec();
    };
    return h;
}

}  // namespace tervalo

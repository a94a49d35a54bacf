// The services of the desktop that the windows use: message boxes, the beep,
// opening a file with its application, the folder picker and modal dialogs.
// Each is a replaceable function, so the tests capture what would be shown
// instead of blocking in a modal loop.
#pragma once

#include <QMessageBox>
#include <QList>
#include <QPair>
#include <QString>
#include <functional>

class QDialog;
class QWidget;

namespace tervalo {

struct UiHooks {
    // A modal message box with an OK button; the title is the program's title.
    std::function<void(QWidget* parent, const QString& text, QMessageBox::Icon icon)> message;
    std::function<void()> beep;
    // Asks the desktop to open the file with its associated application;
    // false when no program took it.
    std::function<bool(const QString& path)> openFile;
    // A folder picker; an empty result means the user cancelled.
    std::function<QString(QWidget* parent, const QString& caption, const QString& startFolder)> pickFolder;
    // Shows a dialog modally and returns its result code.
    std::function<int(QDialog& dialog)> execDialog;
    // A question with Yes and No; true for Yes.
    std::function<bool(QWidget* parent, const QString& text)> ask;
    // The files a run did not convert, each with its reason, in a list the
    // user can read and close.
    std::function<void(QWidget* parent, const QString& summary, const QList<QPair<QString, QString>>& rows)> results;

    // The real services.
    static UiHooks Desktop();
};

}  // namespace tervalo

// The services of the desktop that the windows use: message boxes, the beep,
// opening a file with its application, the folder picker and modal dialogs.
// Each is a replaceable function, so the tests capture what would be shown
// instead of blocking in a modal loop.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QDialog;
class QWidget;

namespace tervalo {

struct UiHooks {
    // A modal message box with an OK button; the title is the program's title.
    std::function<void(QWidget* parent, const QString& text, QMessageBox::Icon icon)> message;
    std::function<void()> beep;
    // Asks the desktop to open the file with its associated application.
    std::function<void(const QString& path)> openFile;
    // A folder picker; an empty result means the user cancelled.
    std::function<QString(QWidget* parent, const QString& caption, const QString& startFolder)> pickFolder;
    // Shows a dialog modally and returns its result code.
    std::function<int(QDialog& dialog)> execDialog;

    // The real services.
    static UiHooks Desktop();
};

}  // namespace tervalo

// Helpers of the desktop program's tests: folders of their own for the
// program's files, captured message boxes and desktop services, and small
// drawing files.
#pragma once

#include <QDateTime>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <string>

#include "app_locations.h"
#include "convert/settings_file.h"
#include "listed_files.h"
#include "text/encoding.h"

namespace tervalo {
class TForm1;
}

namespace tervalo::apptest {

// A temporary folder whose "bin" subfolder stands for the program's folder;
// the fallback folders are "config" and "tmp" beside it.
class Sandbox {
public:
    Sandbox();
    QString path(const QString& relative = QString()) const;
    // Makes the folder (and its parents) and returns its path.
    QString makeDir(const QString& relative) const;
    AppLocations locations() const;
    // The settings file beside the program.
    QString settingsPath() const { return path(QStringLiteral("bin/tervalo.dat")); }
    // Writes the settings file beside the program.
    void writeSettings(const TSettingsData& data) const;

private:
    QTemporaryDir dir_;
};

// What the windows would have shown or asked the desktop for.
struct Captured {
    struct Message {
        QString text;
        QMessageBox::Icon icon;
    };
    std::vector<Message> messages;
    int beeps = 0;
    QStringList opened;
    QString pickResult;  // what the folder picker returns
    QString pickCaption;
    QString pickStart;
    int dialogRuns = 0;
    bool timerActiveInDialog = true;
    bool openResult = true;  // whether a program takes the file opened
    QStringList asked;       // questions asked
    bool answer = false;     // the answer to each
    QString resultsSummary;  // the results list shown after a run
    QList<QPair<QString, QString>> results;

    QStringList texts() const;
};

// Replaces the desktop services of the main window (and its dialog's beep).
void Capture(TForm1& form, Captured& captured);

// A main window on the sandbox's folders, with captured services, shown.
std::unique_ptr<TForm1> ShowForm(const Sandbox& sandbox, Captured& captured);

void WriteBytes(const QString& path, const Bytes& bytes);
Bytes ReadBytes(const QString& path);
void SetModified(const QString& path, const QDateTime& time);

using test::EmptyJws;
using test::JwcWithComments;
using test::JwwWithMemo;

// Waits until the window's listing has ended; false when it did not in time.
bool WaitListed(TForm1& form, int timeoutMs = 20000);

// Presses the convert button (or calls its handler) and waits until the run
// it starts has ended; false when it did not end in time.
bool ConvertAndWait(TForm1& form, bool click = false);

// The row of the list whose file name is `name`, or -1.
int RowOf(const TForm1& form, const QString& name);
// The texts of one row, columns 0 to 5.
QStringList RowTexts(const TForm1& form, int row);
// The file names in display order.
QStringList Captions(const TForm1& form);
// Selects exactly the rows of these file names.
void SelectNames(TForm1& form, const QStringList& names);

}  // namespace tervalo::apptest

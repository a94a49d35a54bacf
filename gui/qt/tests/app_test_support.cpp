#include "app_test_support.h"

#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QSignalSpy>
#include <QElapsedTimer>
#include <QTableView>
#include "file_list_model.h"
#include "file_rows.h"
#include <QTest>
#include <QTimer>

#include "listed_files.h"
#include "main_window.h"
#include "qt_text.h"
#include "settings_dialog.h"
#include "test_support.h"

namespace tervalo::apptest {

Sandbox::Sandbox() {
    if (!dir_.isValid()) qFatal("cannot create a temporary folder");
    makeDir(QStringLiteral("bin"));
}

QString Sandbox::path(const QString& relative) const {
    return relative.isEmpty() ? dir_.path() : dir_.path() + u'/' + relative;
}

QString Sandbox::makeDir(const QString& relative) const {
    const QString p = path(relative);
    if (!QDir().mkpath(p)) qFatal("cannot create %s", qPrintable(p));
    return p;
}

AppLocations Sandbox::locations() const {
    AppLocations l;
    l.executablePath = path(QStringLiteral("bin/tervalo"));
    l.configFallbackFolder = path(QStringLiteral("config"));
    l.tempFallbackParent = path(QStringLiteral("tmp"));
    QDir().mkpath(l.tempFallbackParent);
    return l;
}

void Sandbox::writeSettings(const TSettingsData& data) const {
    if (!SaveSettingsFile(U(settingsPath()), data)) qFatal("cannot write the settings file");
}

QStringList Captured::texts() const {
    QStringList list;
    for (const Message& m : messages) list << m.text;
    return list;
}

void Capture(TForm1& form, Captured& c) {
    form.hooks.message = [&c](QWidget*, const QString& text, QMessageBox::Icon icon) {
        c.messages.push_back({text, icon});
    };
    form.hooks.beep = [&c] { ++c.beeps; };
    form.hooks.openFile = [&c](const QString& path) {
        c.opened << path;
        return c.openResult;
    };
    form.hooks.ask = [&c](QWidget*, const QString& text) {
        c.asked << text;
        return c.answer;
    };
    form.hooks.results = [&c](QWidget*, const QString& summary, const QList<QPair<QString, QString>>& rows) {
        c.resultsSummary = summary;
        c.results = rows;
    };
    form.hooks.pickFolder = [&c](QWidget*, const QString& caption, const QString& start) {
        c.pickCaption = caption;
        c.pickStart = start;
        return c.pickResult;
    };
    form.hooks.execDialog = [&c, &form](QDialog&) {
        ++c.dialogRuns;
        c.timerActiveInDialog = form.Timer1->isActive();
        return 0;
    };
    form.Form2->beep = [&c] { ++c.beeps; };
}

std::unique_ptr<TForm1> ShowForm(const Sandbox& sandbox, Captured& captured) {
    auto form = std::make_unique<TForm1>(sandbox.locations());
    Capture(*form, captured);
    form->show();
    WaitListed(*form);
    return form;
}

bool WaitListed(TForm1& form, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (form.Listing() && t.elapsed() < timeoutMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return !form.Listing();
}

void WriteBytes(const QString& path, const Bytes& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size()))
        qFatal("cannot write %s", qPrintable(path));
}

Bytes ReadBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray data = f.readAll();
    return Bytes(data.begin(), data.end());
}

void SetModified(const QString& path, const QDateTime& time) {
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite) || !f.setFileTime(time, QFileDevice::FileModificationTime))
        qFatal("cannot set the time of %s", qPrintable(path));
}

bool ConvertAndWait(TForm1& form, bool click) {
    QSignalSpy finished(&form, &TForm1::RunFinished);
    if (click) QTest::mouseClick(form.ButtonT, Qt::LeftButton);
    else form.ButtonTClick();
    if (!form.Running()) return true;  // refused before a run began
    return finished.wait(20000) || finished.count() > 0;
}

int RowOf(const TForm1& form, const QString& name) {
    for (int r = 0; r < form.ListModel->rowCount(); ++r)
        if (form.ItemCaption(r) == name) return r;
    return -1;
}

QStringList RowTexts(const TForm1& form, int row) {
    QStringList texts;
    for (int c = 0; c < gui::kStoredColumns; ++c) texts << form.ListModel->index(row, c).data().toString();
    return texts;
}

QStringList Captions(const TForm1& form) {
    QStringList names;
    for (int r = 0; r < form.ListModel->rowCount(); ++r) names << form.ItemCaption(r);
    return names;
}

void SelectNames(TForm1& form, const QStringList& names) {
    form.ListView1->clearSelection();
    for (const QString& name : names) {
        const int row = RowOf(form, name);
        if (row < 0) qFatal("no row %s", qPrintable(name));
        form.ListView1->selectionModel()->select(form.ListModel->index(row, 0),
                                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

}  // namespace tervalo::apptest

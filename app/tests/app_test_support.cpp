#include "app_test_support.h"

#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include "jww_builder.h"
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
    return form;
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

Bytes JwwWithMemo(int version, const std::u16string& memo, bool point) {
    test::JwwHeaderBuilder header(version);
    const Bytes ansi = TextToAnsiBytes(memo);
    if (ansi.size() >= 255) qFatal("memo too long for a short archive string");
    header.memo = Bytes{static_cast<std::uint8_t>(ansi.size())};
    header.memo.insert(header.memo.end(), ansi.begin(), ansi.end());
    test::JwwBodyBuilder body(version);
    if (point) body.point(10, 20, true);
    return test::BuildJwwFrom(header.build(), version, body.build());
}

Bytes EmptyJws(int version) {
    test::ByteBuilder b;
    b.ascii("JwsData").fill(193, '.').i32(version).f64(12.5).f64(-7.25);
    for (int g = 0; g < 16; ++g) b.f64(1.0 + g);
    for (int i = 0; i < 6; ++i) b.i32(i);
    for (int i = 0; i < 6; ++i) b.f64(0.5 * i);
    b.f64(1).f64(2).f64(3).f64(4);
    b.bytes(test::EmptyJwwBody());
    return b.data();
}

Bytes JwcWithComments(const std::string& comment1, const std::string& comment2) {
    // Four blocks of 200 bytes; the first holds the signature in 40 bytes and
    // the comments in 32 bytes each, the second the drawing parameters.
    auto field = [](const std::string& s, std::size_t n) {
        Bytes b(s.begin(), s.end());
        b.resize(n, 0);
        return b;
    };
    Bytes out = field("jw_cad(c)data.......", 40);
    for (const Bytes& part : {field(comment1, 32), field(comment2, 32)}) out.insert(out.end(), part.begin(), part.end());
    out.resize(200, 0);
    const Bytes params = field("1,2", 200);
    out.insert(out.end(), params.begin(), params.end());
    out.resize(800, 0);
    return out;
}

bool ConvertAndWait(TForm1& form, bool click) {
    QSignalSpy finished(&form, &TForm1::RunFinished);
    if (click) QTest::mouseClick(form.ButtonT, Qt::LeftButton);
    else form.ButtonTClick();
    if (!form.Running()) return true;  // refused before a run began
    return finished.wait(20000) || finished.count() > 0;
}

int RowOf(const TForm1& form, const QString& name) {
    for (int r = 0; r < form.ListView1->rowCount(); ++r)
        if (form.ItemCaption(r) == name) return r;
    return -1;
}

QStringList RowTexts(const TForm1& form, int row) {
    QStringList texts;
    for (int c = 0; c < kStoredColumns; ++c) {
        const QTableWidgetItem* item = form.ListView1->item(row, c);
        texts << (item ? item->text() : QString());
    }
    return texts;
}

QStringList Captions(const TForm1& form) {
    QStringList names;
    for (int r = 0; r < form.ListView1->rowCount(); ++r) names << form.ItemCaption(r);
    return names;
}

void SelectNames(TForm1& form, const QStringList& names) {
    form.ListView1->clearSelection();
    for (const QString& name : names) {
        const int row = RowOf(form, name);
        if (row < 0) qFatal("no row %s", qPrintable(name));
        form.ListView1->selectionModel()->select(form.ListView1->model()->index(row, 0),
                                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

}  // namespace tervalo::apptest

// The settings file and the work folder of the main window: defaults at the
// first start, saved at close and loaded at the next start, and the fallback
// folders when the program's folder cannot be written.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSplitter>
#include <QTableView>
#include "file_rows.h"
#include <QTest>
#include <QTimer>

#include "app_test_registry.h"
#include "app_test_support.h"
#include "convert/convert_options.h"
#include "file_list_model.h"
#include "main_window.h"
#include "qt_text.h"
#include "settings_dialog.h"

namespace tervalo::apptest {

namespace {

QList<int> ColumnWidths(const TForm1& form) {
    QList<int> widths;
    for (int c = 0; c < gui::kStoredColumns; ++c) widths << form.ListView1->columnWidth(c);
    return widths;
}

QStringList FileLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QStringList lines = QString::fromLatin1(f.readAll()).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

}  // namespace

class SettingsPersistTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { ResetConvertOptions(); }
    void cleanup() { ResetConvertOptions(); }

    void firstStartDefaults() {
        Sandbox sandbox;
        ConvertOptions.Direction = 1;  // left over; the load resets it
        Captured captured;
        auto form = ShowForm(sandbox, captured);
        QCOMPARE(form->pos(), QPoint(64, 64));
        QCOMPARE(form->size(), QSize(600, 520));
        QCOMPARE(form->Panel1->width(), 200);
        // Wide enough for the whole date, size and version.
        const QList<int> widths = ColumnWidths(*form);
        const QFontMetrics metrics(form->ListView1->font());
        QVERIFY(widths[3] > metrics.horizontalAdvance(QStringLiteral("2026/12/31 23:59:59")));
        QVERIFY(widths[4] > metrics.horizontalAdvance(QStringLiteral("9,999,999")));
        QVERIFY(widths[5] > metrics.horizontalAdvance(QStringLiteral("Ver.")));
        QCOMPARE(form->Form2->pos(), QPoint(64, 64));
        QCOMPARE(form->preFolder(), QString());
        QCOMPARE(form->Edit1->text(), QString());
        QCOMPARE(form->ComboBox1->currentIndex(), 0);
        QCOMPARE(form->Label1->text(), QStringLiteral("参照フォルダ："));
        QCOMPARE(form->StatusText(), QStringLiteral("参照フォルダを選んで下さい。"));
        QCOMPARE(ConvertOptions.Direction, 0);
        QCOMPARE(ConvertOptions.SxfDimensions, 1);
        QCOMPARE(form->SettingsPath().loadPath, sandbox.settingsPath());
        QCOMPARE(form->SettingsPath().savePath, sandbox.settingsPath());
        QCOMPARE(form->ExeFolder(), sandbox.path(QStringLiteral("bin/")));
        QCOMPARE(form->TempFolder(), sandbox.path(QStringLiteral("bin/TEMP/")));
        QVERIFY(QFileInfo(form->TempFolder()).isDir());
        QVERIFY(form->Timer1->isActive());
        QCOMPARE(form->Timer1->interval(), 200);

        // A settings file cut after five lines gives no column the width 0.
        form.reset();
        QFile cut(sandbox.settingsPath());
        QVERIFY(cut.open(QIODevice::WriteOnly | QIODevice::Truncate));
        cut.write("64\r\n64\r\n600\r\n520\r\n200\r\n");
        cut.close();
        auto again = ShowForm(sandbox, captured);
        QCOMPARE(ColumnWidths(*again), widths);
    }

    void savedAtCloseAndLoadedAtStart() {
        Sandbox sandbox;
        const QString reference = sandbox.makeDir(QStringLiteral("図面フォルダ/参照"));
        const QString output = sandbox.makeDir(QStringLiteral("図面フォルダ/出力 先"));
        WriteBytes(reference + QStringLiteral("/a.jww"), JwwWithMemo(700, u"メモ"));
        {
            TSettingsData start;
            start.ReferenceFolder = U(reference);
            sandbox.writeSettings(start);
            Captured captured;
            auto form = ShowForm(sandbox, captured);
            QCOMPARE(form->preFolder(), reference);
            QCOMPARE(form->ListModel->rowCount(), 1);
            form->move(100, 120);
            form->resize(700, 540);
            form->Splitter1->setSizes({260, 440 - form->Splitter1->handleWidth()});
            const int widths[6] = {120, 50, 140, 130, 70, 45};
            for (int c = 0; c < 6; ++c) form->ListView1->setColumnWidth(c, widths[c]);
            captured.pickResult = output;
            form->BrowseForFolder1Execute();
            form->ComboBox1->setCurrentIndex(2);
            form->ComboBox1Select();
            form->Form2->move(210, 220);
            ConvertOptions.Direction = 1;
            ConvertOptions.MakeMarker = 1;
            ConvertOptions.MarkerIndex = 5;
            ConvertOptions.MarkerScale = 2.5;
            ConvertOptions.SxfDimensions = 0;
            ConvertOptions.BlockContents = 0;
            ConvertOptions.ConvertMarkers = 1;
            ConvertOptions.ConvertMarkerEnds = 1;
            QVERIFY(form->close());
            QVERIFY(!QFileInfo::exists(sandbox.path(QStringLiteral("bin/TEMP"))));
        }
        const QStringList lines = FileLines(sandbox.settingsPath());
        QCOMPARE(lines.size(), 24);
        QCOMPARE(lines.mid(0, 5), QStringList({"100", "120", "700", "540", "260"}));
        QCOMPARE(lines[5], QString::fromLatin1(reference.toUtf8().toHex().toUpper()));
        QCOMPARE(lines[6], QString::fromLatin1(output.toUtf8().toHex().toUpper()));
        QCOMPARE(lines.mid(7), QStringList({"2", "120", "50", "140", "130", "70", "45", "210", "220", "1", "1", "0",
                                            "0", "1", "1", "5", "2.5"}));

        ResetConvertOptions();
        Captured captured;
        auto form = ShowForm(sandbox, captured);
        QCOMPARE(form->pos(), QPoint(100, 120));
        QCOMPARE(form->size(), QSize(700, 540));
        QCOMPARE(form->Panel1->width(), 260);
        QCOMPARE(form->preFolder(), reference);
        QCOMPARE(form->Edit1->text(), output);
        QCOMPARE(form->ComboBox1->currentIndex(), 2);
        QCOMPARE(ColumnWidths(*form), QList<int>({120, 50, 140, 130, 70, 45}));
        QCOMPARE(form->Form2->pos(), QPoint(210, 220));
        QCOMPARE(ConvertOptions.Direction, 1);
        QCOMPARE(ConvertOptions.MakeMarker, 1);
        QCOMPARE(ConvertOptions.MarkerIndex, 5);
        QCOMPARE(ConvertOptions.MarkerScale, 2.5);
        QCOMPARE(ConvertOptions.SxfDimensions, 0);
        QCOMPARE(ConvertOptions.BlockContents, 0);
        QCOMPARE(ConvertOptions.ConvertMarkers, 1);
        QCOMPARE(ConvertOptions.ConvertMarkerEnds, 1);
        // The reference folder is listed with the stored file type (*.jww).
        QCOMPARE(Captions(*form), QStringList{"a.jww"});
    }

    void badFileTypeIndexListsEverything() {
        Sandbox sandbox;
        const QString reference = sandbox.makeDir(QStringLiteral("ref"));
        WriteBytes(reference + QStringLiteral("/a.txt"), Bytes{'x'});
        TSettingsData data;
        data.ReferenceFolder = U(reference);
        data.FileTypeIndex = 9;
        sandbox.writeSettings(data);
        Captured captured;
        auto form = ShowForm(sandbox, captured);
        QCOMPARE(form->ComboBox1->currentIndex(), -1);
        QCOMPARE(Captions(*form), QStringList{"a.txt"});
    }

    void tempFolderKeptWhenNotEmpty() {
        Sandbox sandbox;
        Captured captured;
        auto form = ShowForm(sandbox, captured);
        const QString temp = form->TempFolder();
        WriteBytes(temp + QStringLiteral("left.png"), Bytes{'x'});
        form->close();
        QVERIFY(QFileInfo(temp).isDir());
        QVERIFY(QFile::exists(sandbox.settingsPath()));
    }

    // An executable whose folder cannot be written: "bin" is a file here,
    // which refuses new entries even to the superuser.
    void fallbackWhenProgramFolderNotWritable() {
        Sandbox sandbox;
        WriteBytes(sandbox.path(QStringLiteral("blocked")), Bytes{'x'});
        AppLocations locations = sandbox.locations();
        locations.executablePath = sandbox.path(QStringLiteral("blocked/tervalo"));
        const QString fallbackFile = sandbox.path(QStringLiteral("config/tervalo.dat"));
        QString temp;
        {
            TForm1 form(locations);
            Captured captured;
            Capture(form, captured);
            form.show();
            QCOMPARE(form.SettingsPath().savePath, fallbackFile);
            temp = form.TempFolder();
            QVERIFY2(temp.startsWith(sandbox.path(QStringLiteral("tmp/tervalo-"))), qPrintable(temp));
            QVERIFY(temp.endsWith(u'/'));
            QVERIFY(QFileInfo(temp).isDir());
            QCOMPARE(QFile(temp).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
                     QFileDevice::Permissions());
            form.move(90, 91);
            ConvertOptions.MarkerIndex = 4;
            form.close();
        }
        QVERIFY(!QFileInfo::exists(temp));
        QVERIFY(QFile::exists(fallbackFile));
        ResetConvertOptions();
        TForm1 form(locations);
        Captured captured;
        Capture(form, captured);
        form.show();
        QCOMPARE(form.SettingsPath().loadPath, fallbackFile);
        QCOMPARE(form.pos(), QPoint(90, 91));
        QCOMPARE(ConvertOptions.MarkerIndex, 4);
    }

    void settingsLocation_data() {
        QTest::addColumn<bool>("writable");
        QTest::addColumn<bool>("besideExists");
        QTest::addColumn<bool>("fallbackExists");
        QTest::addColumn<QString>("load");
        QTest::addColumn<QString>("save");
        QTest::newRow("writable, none yet") << true << false << false << "beside" << "beside";
        QTest::newRow("writable, beside") << true << true << true << "beside" << "beside";
        QTest::newRow("writable, only fallback") << true << false << true << "fallback" << "beside";
        QTest::newRow("read-only, none yet") << false << false << false << "fallback" << "fallback";
        QTest::newRow("read-only, fallback") << false << true << true << "fallback" << "fallback";
        QTest::newRow("read-only, only beside") << false << true << false << "beside" << "fallback";
    }
    void settingsLocation() {
        QFETCH(bool, writable);
        QFETCH(bool, besideExists);
        QFETCH(bool, fallbackExists);
        QFETCH(QString, load);
        QFETCH(QString, save);
        const SettingsLocation s = ChooseSettingsLocation(QStringLiteral("beside"), QStringLiteral("fallback"),
                                                          writable, besideExists, fallbackExists);
        QCOMPARE(s.loadPath, load);
        QCOMPARE(s.savePath, save);
    }
};

TERVALO_APP_TEST(SettingsPersistTest);

}  // namespace tervalo::apptest

#include "settings_persist_test.moc"

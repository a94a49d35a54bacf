// The convert button, the output-folder picker and the settings button of
// the main window.
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include "app_test_registry.h"
#include "app_test_support.h"
#include "convert/batch.h"
#include "convert/convert_options.h"
#include "folder_tree.h"
#include "main_window.h"
#include "model/jww_data.h"
#include "qt_text.h"

namespace tervalo::apptest {

namespace {

// A window listing `reference` with `output` as its output folder.
std::unique_ptr<TForm1> StartWith(const Sandbox& sandbox, Captured& captured, const QString& reference,
                                  const QString& output) {
    TSettingsData data;
    data.ReferenceFolder = U(reference);
    data.OutputFolder = U(output);
    sandbox.writeSettings(data);
    return ShowForm(sandbox, captured);
}

// How many points of the drawing are temporary and how many real.
std::pair<int, int> PointKinds(const QString& path) {
    TJwwData jww;
    if (!jww.FileIn(U(path))) return {-1, -1};
    int temporary = 0, real = 0;
    for (std::int32_t i = 0; i < jww.EntTenN; ++i) (jww.EntTen[static_cast<std::size_t>(i)].bKariten ? temporary : real)++;
    return {temporary, real};
}

}  // namespace

class ConvertButtonTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { ResetConvertOptions(); }
    void cleanup() { ResetConvertOptions(); }

    void convertsSelectedFiles() {
        Sandbox sandbox;
        const QString reference = sandbox.makeDir(QStringLiteral("参照"));
        const QString output = sandbox.makeDir(QStringLiteral("出力"));
        WriteBytes(reference + QStringLiteral("/a.jww"), JwwWithMemo(700, u"memo", true));
        WriteBytes(reference + QStringLiteral("/b.jww"), JwwWithMemo(700, u"memo", true));
        Captured captured;
        auto form = StartWith(sandbox, captured, reference, output);
        SelectNames(*form, {"a.jww"});
        QVERIFY(ConvertAndWait(*form, true));
        QVERIFY(captured.messages.empty());
        QCOMPARE(form->StatusText(), QStringLiteral("1個のファイルを変換しました。"));
        QCOMPARE(PointKinds(output + QStringLiteral("/a.jww")), std::make_pair(0, 1));
        QVERIFY(!QFile::exists(output + QStringLiteral("/b.jww")));
        QVERIFY(form->Timer1->isActive());

        // The other direction, with the earlier output backed up.
        ConvertOptions.Direction = 1;
        QVERIFY(QFile::copy(output + QStringLiteral("/a.jww"), reference + QStringLiteral("/c.jww")));
        form->ListFolder(reference);
        SelectNames(*form, {"a.jww", "c.jww"});
        QVERIFY(ConvertAndWait(*form));
        QCOMPARE(form->StatusText(), QStringLiteral("2個のファイルを変換しました。"));
        QCOMPARE(PointKinds(output + QStringLiteral("/c.jww")), std::make_pair(1, 0));
        QCOMPARE(PointKinds(output + QStringLiteral("/a.BAK")), std::make_pair(0, 1));
    }

    void nothingSelected() {
        Sandbox sandbox;
        const QString reference = sandbox.makeDir(QStringLiteral("ref"));
        const QString output = sandbox.makeDir(QStringLiteral("out"));
        WriteBytes(reference + QStringLiteral("/a.jww"), JwwWithMemo(700, u"", true));
        Captured captured;
        auto form = StartWith(sandbox, captured, reference, output);
        QVERIFY(ConvertAndWait(*form));
        QCOMPARE(form->StatusText(), QStringLiteral("0個のファイルを変換しました。"));
        QVERIFY(QDir(output).isEmpty());
    }

    void outputFolderRefused_data() {
        QTest::addColumn<QString>("output");  // %1: the reference folder, %2: the sandbox
        QTest::addColumn<QString>("message");
        QTest::newRow("empty") << "" << QString::fromUtf16(kTextNoOutputFolder);
        QTest::newRow("missing") << "%2/nowhere" << QString::fromUtf16(kTextOutputFolderMissing);
        QTest::newRow("same as reference") << "%1" << QString::fromUtf16(kTextSameFolder);
        QTest::newRow("same, other spelling") << "%1/" << QString::fromUtf16(kTextSameFolder);
    }
    void outputFolderRefused() {
        QFETCH(QString, output);
        QFETCH(QString, message);
        Sandbox sandbox;
        const QString reference = sandbox.makeDir(QStringLiteral("参照フォルダ"));
        WriteBytes(reference + QStringLiteral("/a.jww"), JwwWithMemo(700, u"", true));
        const Bytes original = ReadBytes(reference + QStringLiteral("/a.jww"));
        Captured captured;
        auto form = StartWith(sandbox, captured, reference,
                              QString(output).replace(QStringLiteral("%1"), reference).replace(QStringLiteral("%2"), sandbox.path()));
        SelectNames(*form, {"a.jww"});
        const QString status = form->StatusText();
        QVERIFY(ConvertAndWait(*form));
        QCOMPARE(captured.texts(), QStringList{message});
        QCOMPARE(captured.messages[0].icon, QMessageBox::NoIcon);
        QCOMPARE(captured.beeps, 0);
        QCOMPARE(form->focusWidget(), static_cast<QWidget*>(form->Button1));
        QCOMPARE(form->StatusText(), status);
        QCOMPARE(QDir(reference).entryList(QDir::Files), QStringList{"a.jww"});
        QCOMPARE(ReadBytes(reference + QStringLiteral("/a.jww")), original);
    }

    void unsupportedExtensionReported() {
        Sandbox sandbox;
        const QString reference = sandbox.makeDir(QStringLiteral("ref"));
        const QString output = sandbox.makeDir(QStringLiteral("out"));
        WriteBytes(reference + QStringLiteral("/notes.txt"), Bytes{'x'});
        WriteBytes(reference + QStringLiteral("/a.jww"), JwwWithMemo(700, u"", true));
        Captured captured;
        auto form = StartWith(sandbox, captured, reference, output);
        SelectNames(*form, {"notes.txt", "a.jww"});
        QVERIFY(ConvertAndWait(*form));
        QCOMPARE(captured.texts(), QStringList{QStringLiteral("このファイル拡張子（種類）の変換には対応していません。\r\n"
                                                              "ファイル名：notes.txt\r\n　　拡張子：.txt")});
        QCOMPARE(form->StatusText(), QStringLiteral("1個のファイルを変換しました。"));
    }

    // plan.jww and plan.jws both have a target in the output folder; the one
    // converted first (in display order) gets plan.BAK, the later one
    // plan.jws.BAK or plan.jww.BAK.
    void filesRunInDisplayOrder_data() {
        QTest::addColumn<int>("clicks");
        QTest::addColumn<QString>("firstBackedUp");
        QTest::newRow("names descending") << 1 << "plan.jww";
        QTest::newRow("names ascending") << 2 << "plan.jws";
    }
    void filesRunInDisplayOrder() {
        QFETCH(int, clicks);
        QFETCH(QString, firstBackedUp);
        Sandbox sandbox;
        const QString reference = sandbox.makeDir(QStringLiteral("ref"));
        const QString output = sandbox.makeDir(QStringLiteral("out"));
        WriteBytes(reference + QStringLiteral("/plan.jww"), JwwWithMemo(700, u"", true));
        WriteBytes(reference + QStringLiteral("/plan.jws"), EmptyJws(700));
        WriteBytes(output + QStringLiteral("/plan.jww"), Bytes{'o', 'l', 'd', 'w'});
        WriteBytes(output + QStringLiteral("/plan.jws"), Bytes{'o', 'l', 'd', 's'});
        Captured captured;
        auto form = StartWith(sandbox, captured, reference, output);
        for (int i = 0; i < clicks; ++i) form->ListView1ColumnClick(0);
        SelectNames(*form, {"plan.jww", "plan.jws"});
        QVERIFY(ConvertAndWait(*form));
        QCOMPARE(form->StatusText(), QStringLiteral("2個のファイルを変換しました。"));
        const Bytes oldJww{'o', 'l', 'd', 'w'};
        const Bytes oldJws{'o', 'l', 'd', 's'};
        const bool jwsFirst = firstBackedUp == QStringLiteral("plan.jws");
        QCOMPARE(ReadBytes(output + QStringLiteral("/plan.BAK")), jwsFirst ? oldJws : oldJww);
        const QString secondBackup = jwsFirst ? QStringLiteral("/plan.jww.BAK") : QStringLiteral("/plan.jws.BAK");
        QCOMPARE(ReadBytes(output + secondBackup), jwsFirst ? oldJww : oldJws);
    }

    // A long run: the window shows "k / n", the controls that would change
    // the run are disabled, closing asks first, and the convert button,
    // which reads 中止, stops the run after the current file.
    void longRunShowsProgressAndStops() {
        Sandbox sandbox;
        const QString reference = sandbox.makeDir(QStringLiteral("ref"));
        const QString output = sandbox.makeDir(QStringLiteral("out"));
        const Bytes drawing = JwwWithMemo(700, u"", true);
        const int files = 600;
        for (int i = 0; i < files; ++i) WriteBytes(reference + QStringLiteral("/f%1.jww").arg(i, 4, 10, QChar(u'0')), drawing);
        Captured captured;
        auto form = StartWith(sandbox, captured, reference, output);
        form->ListView1->selectAll();
        QSignalSpy finished(form.get(), &TForm1::RunFinished);
        QTest::mouseClick(form->ButtonT, Qt::LeftButton);
        QVERIFY(form->Running());
        QCOMPARE(form->ButtonT->text(), QStringLiteral("中止"));
        for (QWidget* w : {static_cast<QWidget*>(form->Button1), static_cast<QWidget*>(form->Button2),
                           static_cast<QWidget*>(form->ComboBox1), static_cast<QWidget*>(form->plExplorerFolderTree1)})
            QVERIFY(!w->isEnabled());
        QVERIFY(!form->Timer1->isActive());
        captured.answer = false;
        QVERIFY(!form->close());
        QCOMPARE(captured.asked, QStringList{QStringLiteral("変換中です。中止して終了しますか？")});
        QVERIFY(form->Running());
        QTRY_VERIFY_WITH_TIMEOUT(form->StatusText().contains(QStringLiteral(" / %1　ファイル「").arg(files)), 10000);
        QTest::mouseClick(form->ButtonT, Qt::LeftButton);
        QVERIFY(finished.wait(20000));
        QVERIFY(form->StatusText().startsWith(QStringLiteral("変換を中止しました。")));
        const int written = static_cast<int>(QDir(output).entryList(QDir::Files).size());
        QVERIFY2(written > 0 && written < files, qPrintable(QString::number(written)));
        QVERIFY(form->StatusText().contains(QStringLiteral("%1個のファイルを変換しました。").arg(written)));
        QCOMPARE(form->ButtonT->text(), QStringLiteral("変換 (&T)"));
        QVERIFY(form->Button2->isEnabled() && form->ButtonT->isEnabled() && form->Timer1->isActive());

        // Closing during a run, answered yes: the window closes when the run has stopped.
        QTest::mouseClick(form->ButtonT, Qt::LeftButton);
        captured.answer = true;
        QVERIFY(!form->close());
        QVERIFY(finished.wait(20000));
        QTRY_VERIFY(!form->isVisible());
    }

    // After a run, the files not converted are listed with their reasons,
    // and every file of an unsupported kind is named in one message.
    void resultsNameEachFileNotConverted() {
        Sandbox sandbox;
        const QString reference = sandbox.makeDir(QStringLiteral("ref"));
        const QString output = sandbox.makeDir(QStringLiteral("out"));
        Bytes cut = JwwWithMemo(700, u"", true);
        cut.resize(cut.size() - 4);
        WriteBytes(reference + QStringLiteral("/cut.jww"), cut);
        WriteBytes(reference + QStringLiteral("/good.jww"), JwwWithMemo(700, u"", true));
        WriteBytes(reference + QStringLiteral("/a.txt"), Bytes{'x'});
        WriteBytes(reference + QStringLiteral("/b.dxf"), Bytes{'x'});
        Captured captured;
        auto form = StartWith(sandbox, captured, reference, output);
        form->ListView1->selectAll();
        QVERIFY(ConvertAndWait(*form));
        QCOMPARE(form->StatusText(), QStringLiteral("1個のファイルを変換しました。1個のファイルは変換できませんでした。"));
        QCOMPARE(captured.resultsSummary, form->StatusText());
        QCOMPARE(captured.results.size(), 1);
        QCOMPARE(captured.results[0].first, QStringLiteral("cut.jww"));
        QVERIFY2(captured.results[0].second.startsWith(QStringLiteral("ファイルを読み込めませんでした（")),
                 qPrintable(captured.results[0].second));
        // One message, its files in the list's order.
        QCOMPARE(captured.messages.size(), std::size_t(1));
        const QStringList lines = captured.messages[0].text.split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QStringLiteral("このファイル拡張子（種類）の変換には対応していません。"));
        QVERIFY(lines.contains(QStringLiteral("ファイル名：a.txt　拡張子：.txt")));
        QVERIFY(lines.contains(QStringLiteral("ファイル名：b.dxf　拡張子：.dxf")));
    }

    void outputFolderPicker() {
        Sandbox sandbox;
        Captured captured;
        const QString start = sandbox.makeDir(QStringLiteral("start"));
        TSettingsData data;
        data.OutputFolder = U(start);
        sandbox.writeSettings(data);
        auto form = ShowForm(sandbox, captured);
        captured.pickResult = sandbox.makeDir(QStringLiteral("変換後"));
        QTest::mouseClick(form->Button1, Qt::LeftButton);
        QCOMPARE(captured.pickCaption, QStringLiteral("変換後のファイルを保存するフォルダを指定して下さい"));
        QCOMPARE(captured.pickStart, start);
        QCOMPARE(form->Edit1->text(), captured.pickResult);
        // Cancelled: the folder stays.
        const QString chosen = captured.pickResult;
        captured.pickResult.clear();
        form->BrowseForFolder1Execute();
        QCOMPARE(captured.pickStart, chosen);
        QCOMPARE(form->Edit1->text(), chosen);
    }

    void settingsButtonPausesTimer() {
        Sandbox sandbox;
        Captured captured;
        auto form = ShowForm(sandbox, captured);
        QVERIFY(form->Timer1->isActive());
        QTest::mouseClick(form->Button2, Qt::LeftButton);
        QCOMPARE(captured.dialogRuns, 1);
        QVERIFY(!captured.timerActiveInDialog);
        QVERIFY(form->Timer1->isActive());
        QCOMPARE(form->Timer1->interval(), 200);
    }
};

TERVALO_APP_TEST(ConvertButtonTest);

}  // namespace tervalo::apptest

#include "convert_button_test.moc"

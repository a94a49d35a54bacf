// The file list: the cells of each kind of file, the file-type masks, the
// column sort and opening a file by double click.
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QFile>
#include <QLocale>
#include <QTest>
#include <cstdio>
#include <string>
#include <QTimer>

#include "app_test_registry.h"
#include "app_test_support.h"
#include "convert/batch.h"
#include "list_compare.h"
#include "main_window.h"
#include "settings_dialog.h"

namespace tervalo::apptest {

namespace {

const QString kSearching = QStringLiteral("ファイル検索中です");

QString Found(int n) { return QStringLiteral("ファイル検索しました（ファイル数：%1）").arg(n); }

// A settings file whose reference folder is `folder`, so the window lists it at start.
void StartIn(const Sandbox& sandbox, const QString& folder) {
    TSettingsData data;
    data.ReferenceFolder = folder.toStdU16String();
    sandbox.writeSettings(data);
}

}  // namespace

class ListingTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everyCellOfEachKind() {
        Sandbox sandbox;
        const QString folder = sandbox.makeDir(QStringLiteral("図面"));
        const QDateTime time(QDate(2024, 3, 5), QTime(7, 8, 9));
        struct File {
            QString name;
            Bytes bytes;
            QStringList cells;  // kind, memo, version (time and size are computed)
        };
        const std::vector<File> files = {
            {"a.jww", JwwWithMemo(700, u"一行目 の^m二行目　です\\nおわり"), {".jww", "一行目の二行目ですおわり", "700"}},
            {"b.JWS", EmptyJws(600), {".jws", "", "600"}},
            {"a.bk3", JwwWithMemo(600, u"bk3 memo"), {".bk3", "bk3memo", "600"}},
            {"a.jw$", JwwWithMemo(420, u"^m"), {".jw$", "", "420"}},
            {"plan.BAK", JwwWithMemo(351, u"old"), {".bak", "old", "351"}},
            {"c.jwc", JwcWithComments("JWC comment", "two  words"), {".jwc", "JWCcommenttwowords", "DOS"}},
            {"notes.txt", Bytes{'h', 'e', 'l', 'l', 'o'}, {".txt", "", ""}},
            {"noext", Bytes{'x'}, {"", "", ""}},
            {"broken.jww", Bytes{'J', 'w', 'w'}, {".jww", "", ""}},
            {"fake.jws", JwwWithMemo(700, u"not a figure"), {".jws", "", ""}},
        };
        for (const File& f : files) {
            WriteBytes(folder + u'/' + f.name, f.bytes);
            SetModified(folder + u'/' + f.name, time);
        }
        StartIn(sandbox, folder);
        Captured captured;
        auto form = ShowForm(sandbox, captured);

        QCOMPARE(form->preFolder(), folder);
        QCOMPARE(form->Label1->text(), QStringLiteral("参照フォルダ：") + folder);
        QCOMPARE(form->StatusText(), Found(static_cast<int>(files.size())));
        QCOMPARE(form->ListView1->rowCount(), static_cast<int>(files.size()));
        for (const File& f : files) {
            const int row = RowOf(*form, f.name);
            QVERIFY2(row >= 0, qPrintable(f.name));
            const QStringList expected = {f.name, f.cells[0], f.cells[1], QStringLiteral("2024/03/05 07:08:09"),
                                          QLocale(QLocale::English).toString(static_cast<qlonglong>(f.bytes.size())),
                                          f.cells[2]};
            QCOMPARE(RowTexts(*form, row), expected);
        }
        // The size column is right-aligned, the others left.
        const int row = RowOf(*form, QStringLiteral("a.jww"));
        QCOMPARE(form->ListView1->item(row, 4)->textAlignment() & Qt::AlignHorizontal_Mask, int(Qt::AlignRight));
        QCOMPARE(form->ListView1->item(row, 2)->textAlignment() & Qt::AlignHorizontal_Mask, int(Qt::AlignLeft));
        QVERIFY(captured.messages.empty());
    }

    void outputFolderBoxIsReadOnly() {
        Sandbox sandbox;
        Captured captured;
        auto form = ShowForm(sandbox, captured);
        QCOMPARE(form->windowTitle(), QStringLiteral("Tervalo Ver.1.10"));
        QVERIFY(form->Edit1->isReadOnly());
        QVERIFY(!(form->Edit1->focusPolicy() & Qt::TabFocus));
    }

    void fileTypeMasks_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QStringList>("names");
        const QStringList all = {"a.jww", "b.JWS", "c.jwc", "d.jwk", "e.txt", "f.jw$", "g", "h.jwww"};
        QTest::newRow("all files") << 0 << all;
        QTest::newRow("jw?") << 1 << QStringList({"a.jww", "b.JWS", "c.jwc", "d.jwk", "f.jw$"});
        QTest::newRow("jww") << 2 << QStringList({"a.jww"});
        QTest::newRow("jws, any case") << 3 << QStringList({"b.JWS"});
        QTest::newRow("jwc") << 4 << QStringList({"c.jwc"});
        QTest::newRow("jwk") << 5 << QStringList({"d.jwk"});
        QTest::newRow("none selected") << -1 << all;
    }
    void fileTypeMasks() {
        QFETCH(int, index);
        QFETCH(QStringList, names);
        Sandbox sandbox;
        const QString folder = sandbox.makeDir(QStringLiteral("ref"));
        for (const char* name : {"a.jww", "b.JWS", "c.jwc", "d.jwk", "e.txt", "f.jw$", "g", "h.jwww"})
            WriteBytes(folder + u'/' + QString::fromUtf8(name), Bytes{'x'});
        sandbox.makeDir(QStringLiteral("ref/sub.jww"));  // folders are never listed
        StartIn(sandbox, folder);
        Captured captured;
        auto form = ShowForm(sandbox, captured);
        form->ComboBox1->setCurrentIndex(index);
        form->ComboBox1Select();
        QStringList listed = Captions(*form);
        listed.sort();
        names.sort();
        QCOMPARE(listed, names);
        QCOMPARE(form->StatusText(), Found(static_cast<int>(names.size())));
    }

    void missingFolderLeavesListEmpty() {
        Sandbox sandbox;
        const QString folder = sandbox.makeDir(QStringLiteral("ref"));
        WriteBytes(folder + QStringLiteral("/a.jww"), Bytes{'x'});
        Captured captured;
        auto form = ShowForm(sandbox, captured);
        // First start: no reference folder.
        QCOMPARE(form->ListView1->rowCount(), 0);
        QCOMPARE(form->StatusText(), QStringLiteral("参照フォルダを選んで下さい。"));
        form->ListFolder(folder);
        QCOMPARE(form->ListView1->rowCount(), 1);
        form->ListFolder(sandbox.path(QStringLiteral("missing")));
        QCOMPARE(form->ListView1->rowCount(), 0);
        QCOMPARE(form->StatusText(), QStringLiteral("参照フォルダが存在しません。"));
        QVERIFY(form->Timer1->isActive());
    }

    void compareTexts_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("sign");
        QTest::newRow("ascii letters ignore case") << "ABC" << "abc" << 0 << 0;
        QTest::newRow("then ordinal") << "abc" << "ABD" << 0 << -1;
        QTest::newRow("folded to upper case") << "a_" << "aB" << 0 << 1;
        QTest::newRow("prefix first") << "ab" << "abc" << 0 << -1;
        QTest::newRow("other letters keep case") << QString::fromUtf16(u"é") << QString::fromUtf16(u"É") << 0 << 1;
        QTest::newRow("code units") << QString::fromUtf16(u"図") << QString::fromUtf16(u"あ") << 2 << 1;
        QTest::newRow("sizes by value") << "9" << "10" << 4 << -1;
        QTest::newRow("sizes equal") << "100" << "100" << 4 << 0;
        QTest::newRow("other columns by text") << "9" << "10" << 3 << 1;
    }
    void compareTexts() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, column);
        QFETCH(int, sign);
        const int cmp = CompareListTexts(a, b, column);
        QCOMPARE((cmp > 0) - (cmp < 0), sign);
        const int back = CompareListTexts(b, a, column);
        QCOMPARE((back > 0) - (back < 0), -sign);
    }

    void sortByColumnClicks() {
        Sandbox sandbox;
        const QString folder = sandbox.makeDir(QStringLiteral("ref"));
        WriteBytes(folder + QStringLiteral("/b.txt"), Bytes(100, 'x'));
        WriteBytes(folder + QStringLiteral("/C.txt"), Bytes(9, 'x'));
        WriteBytes(folder + QStringLiteral("/a.txt"), Bytes(10, 'x'));
        StartIn(sandbox, folder);
        Captured captured;
        auto form = ShowForm(sandbox, captured);
        QCOMPARE(form->Sort1(), -1);
        QCOMPARE(form->Sort2(), 0);
        SelectNames(*form, {"C.txt"});

        // A real click on the size header: the first click sorts descending.
        QHeaderView* header = form->ListView1->horizontalHeader();
        const QPoint sizeHeader(header->sectionViewportPosition(4) + header->sectionSize(4) / 2, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, sizeHeader);
        QCOMPARE(form->Sort1(), 4);
        QCOMPARE(form->Sort2(), 1);
        QCOMPARE(Captions(*form), QStringList({"b.txt", "a.txt", "C.txt"}));  // 100, 10, 9
        form->ListView1ColumnClick(4);
        QCOMPARE(Captions(*form), QStringList({"C.txt", "a.txt", "b.txt"}));  // 9, 10, 100
        // The flag is one for all columns: the next click on the names is descending.
        form->ListView1ColumnClick(0);
        QCOMPARE(form->Sort2(), 1);
        QCOMPARE(Captions(*form), QStringList({"C.txt", "b.txt", "a.txt"}));
        form->ListView1ColumnClick(0);
        QCOMPARE(Captions(*form), QStringList({"a.txt", "b.txt", "C.txt"}));
        // The selection stays with its file.
        const QList<QTableWidgetItem*> selected = form->ListView1->selectedItems();
        QVERIFY(!selected.isEmpty());
        for (const QTableWidgetItem* item : selected) QCOMPARE(form->ItemCaption(item->row()), QStringLiteral("C.txt"));
        // A new listing keeps the scan order; the sort state stays.
        form->ListFolder(folder);
        QCOMPARE(form->Sort1(), 0);
        QCOMPARE(form->ListView1->rowCount(), 3);
    }

    void doubleClickWithoutReferenceFolder() {
        Sandbox sandbox;
        Captured captured;
        auto form = ShowForm(sandbox, captured);
        form->ListView1DblClick();
        const QString text = QStringLiteral("参照フォルダを指定して下さい。");
        QCOMPARE(captured.beeps, 1);
        QCOMPARE(captured.texts(), QStringList{text});
        QCOMPARE(captured.messages[0].icon, QMessageBox::Critical);
        QCOMPARE(form->StatusText(), text);
        QVERIFY(captured.opened.isEmpty());
    }

    void doubleClickMessages_data() {
        QTest::addColumn<bool>("removeFolder");
        QTest::addColumn<QString>("select");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("opened");
        QTest::newRow("folder gone") << true << "" << "参照フォルダが存在しません。" << "参照フォルダが存在しません。" << "";
        QTest::newRow("nothing selected") << false << "" << "ファイルを指示して下さい。" << "ファイルを指示して下さい。" << "";
        QTest::newRow("opens the file") << false << "b.jww" << "" << "ファイル「%1/b.jww」" << "%1/b.jww";
    }
    void doubleClickMessages() {
        QFETCH(bool, removeFolder);
        QFETCH(QString, select);
        QFETCH(QString, message);
        QFETCH(QString, status);
        QFETCH(QString, opened);
        Sandbox sandbox;
        const QString folder = sandbox.makeDir(QStringLiteral("参照"));
        WriteBytes(folder + QStringLiteral("/a.jww"), Bytes{'x'});
        WriteBytes(folder + QStringLiteral("/b.jww"), Bytes{'x'});
        StartIn(sandbox, folder);
        Captured captured;
        auto form = ShowForm(sandbox, captured);
        if (!select.isEmpty()) SelectNames(*form, {select});
        if (removeFolder) QVERIFY(QDir(folder).removeRecursively());
        form->ListView1DblClick();
        QCOMPARE(captured.texts(), message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(captured.beeps, 0);
        QCOMPARE(form->StatusText(), status.replace(QStringLiteral("%1"), folder));
        QCOMPARE(captured.opened, opened.isEmpty() ? QStringList() : QStringList{opened.replace(QStringLiteral("%1"), folder)});
    }

    void doubleClickOnARowOpensIt() {
        Sandbox sandbox;
        const QString folder = sandbox.makeDir(QStringLiteral("ref"));
        WriteBytes(folder + QStringLiteral("/only.jww"), Bytes{'x'});
        StartIn(sandbox, folder);
        Captured captured;
        auto form = ShowForm(sandbox, captured);
        const QRect cell = form->ListView1->visualRect(form->ListView1->model()->index(0, 0));
        QTest::mouseClick(form->ListView1->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(form->ListView1->viewport(), Qt::LeftButton, {}, cell.center());
        QTRY_COMPARE(captured.opened, QStringList{folder + QStringLiteral("/only.jww")});
        // No program takes the file: the status bar says so.
        captured.openResult = false;
        form->ListView1DblClick();
        QVERIFY2(form->StatusText().endsWith(QStringLiteral("を開くプログラムがありません。")), qPrintable(form->StatusText()));
    }

    // Sizes of 2 GiB and more show their whole value and sort by it; a name
    // that is not UTF-8 (Shift_JIS from a Windows archive) is listed
    // readably, marked, and reported as not converted.
    void largeSizesAndNamesThatAreNotUtf8() {
        Sandbox sandbox;
        const QString folder = sandbox.makeDir(QStringLiteral("ref"));
        const QString output = sandbox.makeDir(QStringLiteral("out"));
        const std::pair<const char*, qint64> sizes[] = {
            {"small.jww", 100}, {"two.jww", (qint64(1) << 31) + 100}, {"four.jww", (qint64(1) << 32) + 100}};
        for (const auto& [name, size] : sizes) {
            QFile f(folder + u'/' + QString::fromLatin1(name));
            if (!f.open(QIODevice::WriteOnly) || !f.resize(size)) QSKIP("cannot make large sparse files here");
        }
        // 図面.jww in code page 932 bytes.
        const std::string sjis = QFile::encodeName(folder).toStdString() + "/\x90\x7D\x96\xCA.jww";
        std::FILE* raw = std::fopen(sjis.c_str(), "wb");  // the bytes as they are, no text in between
        QVERIFY(raw);
        std::fwrite("0123456789", 1, 10, raw);
        std::fclose(raw);
        TSettingsData data;
        data.ReferenceFolder = folder.toStdU16String();
        data.OutputFolder = output.toStdU16String();
        sandbox.writeSettings(data);
        Captured captured;
        auto form = ShowForm(sandbox, captured);
        QCOMPARE(form->ListView1->rowCount(), 4);
        QCOMPARE(RowTexts(*form, RowOf(*form, QStringLiteral("four.jww")))[4], QStringLiteral("4,294,967,396"));
        QCOMPARE(RowTexts(*form, RowOf(*form, QStringLiteral("two.jww")))[4], QStringLiteral("2,147,483,748"));
        form->ListView1ColumnClick(4);  // descending
        QCOMPARE(Captions(*form), QStringList({"four.jww", "two.jww", "small.jww", "図面.jww"}));
        const int row = RowOf(*form, QStringLiteral("図面.jww"));
        QVERIFY(row >= 0);
        QVERIFY(RowTexts(*form, row)[2].contains(QStringLiteral("変換できません")));
        SelectNames(*form, {QStringLiteral("図面.jww")});
        QVERIFY(ConvertAndWait(*form));
        QCOMPARE(captured.results.size(), 1);
        QCOMPARE(captured.results[0].first, QStringLiteral("図面.jww"));
        QCOMPARE(captured.results[0].second, QString::fromStdU16String(JapaneseReasonText(NotConvertedReason::NameNotText)));
    }
};

TERVALO_APP_TEST(ListingTest);

}  // namespace tervalo::apptest

#include "listing_test.moc"

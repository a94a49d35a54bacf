// What only the window shows: the Qt model over the shared list, the sort
// arrow, the keyboard, the preview following the selection, dropped files,
// the window kept on a screen and its layout restored, and the state of its
// controls during a run. The decisions behind them are tested with the
// shared logic (tests/gui_*).
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSplitter>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>

#include "app_test_registry.h"
#include "app_test_support.h"
#include "convert/convert_options.h"
#include "file_list_model.h"
#include "folder_tree.h"
#include "main_logic.h"
#include "main_window.h"
#include "preview.h"
#include "preview_job.h"
#include "settings_dialog.h"
#include "qt_text.h"

namespace tervalo::apptest {

namespace {

std::unique_ptr<TForm1> StartWith(const Sandbox& sandbox, Captured& captured, const QString& reference,
                                  const QString& output = QString()) {
    TSettingsData data;
    data.ReferenceFolder = U(reference);
    data.OutputFolder = U(output);
    sandbox.writeSettings(data);
    return ShowForm(sandbox, captured);
}

void Drop(TForm1& form, const QStringList& paths) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &drop);
}

QStringList SelectedNames(const TForm1& form) {
    QStringList names;
    for (std::size_t r : form.SelectedRows()) names << form.ItemCaption(static_cast<int>(r));
    return names;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { ResetConvertOptions(); }
    void cleanup() { ResetConvertOptions(); }

    // The model shows the shared rows; a header click sorts, shows the
    // arrow and keeps the selection with its file; a refresh keeps both.
    void modelSortArrowAndRefresh() {
        Sandbox sandbox;
        const QString folder = sandbox.makeDir(QStringLiteral("ref"));
        WriteBytes(folder + QStringLiteral("/b.txt"), Bytes(100, 'x'));
        WriteBytes(folder + QStringLiteral("/C.txt"), Bytes(9, 'x'));
        WriteBytes(folder + QStringLiteral("/a.jww"), JwwWithMemo(700, u"メモ"));
        Captured captured;
        auto form = StartWith(sandbox, captured, folder);
        // The scan order: names without regard to ASCII case.
        QCOMPARE(Captions(*form), QStringList({"a.jww", "b.txt", "C.txt"}));
        QCOMPARE(form->ListModel->columnCount(), gui::kColumnCount);
        QCOMPARE(RowTexts(*form, 0).mid(1, 2), QStringList({".jww", "メモ"}));
        QCOMPARE(RowTexts(*form, 0)[5], QStringLiteral("700"));
        QCOMPARE(form->ListModel->index(0, gui::kSizeColumn).data(Qt::TextAlignmentRole).toInt() & Qt::AlignHorizontal_Mask,
                 int(Qt::AlignRight));
        QCOMPARE(form->ListModel->headerData(gui::kNameColumn, Qt::Horizontal).toString(), QStringLiteral("ファイル名"));
        QHeaderView* header = form->ListView1->horizontalHeader();
        QVERIFY(!header->isSortIndicatorShown());

        SelectNames(*form, {"C.txt"});
        const int size = gui::kSizeColumn;
        const QPoint at(header->sectionViewportPosition(size) + header->sectionSize(size) / 2, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(form->Sort1(), size);
        QCOMPARE(form->Sort2(), 1);
        QVERIFY(header->isSortIndicatorShown());
        QCOMPARE(header->sortIndicatorSection(), size);
        QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);  // drawn pointing down, as for descending on Windows
        QCOMPARE(Captions(*form).mid(1), QStringList({"b.txt", "C.txt"}));  // 100, then 9
        QCOMPARE(SelectedNames(*form), QStringList{"C.txt"});

        // F5 lists again: same order, same selection, a new file in its place.
        WriteBytes(folder + QStringLiteral("/d.txt"), Bytes(50, 'x'));
        QTest::keyClick(form.get(), Qt::Key_F5);
        QVERIFY(WaitListed(*form));
        QCOMPARE(Captions(*form).mid(1), QStringList({"b.txt", "d.txt", "C.txt"}));
        QCOMPARE(SelectedNames(*form), QStringList{"C.txt"});
        QVERIFY(header->isSortIndicatorShown());

        // The watcher lists a folder that changed without being asked.
        WriteBytes(folder + QStringLiteral("/e.txt"), Bytes(1, 'x'));
        QTRY_VERIFY_WITH_TIMEOUT(Captions(*form).contains(QStringLiteral("e.txt")), 5000);
    }

    // Tab goes from control to control, not from cell to cell; Enter in the
    // list opens the current file as a double click does.
    void keyboard() {
        Sandbox sandbox;
        const QString folder = sandbox.makeDir(QStringLiteral("ref"));
        WriteBytes(folder + QStringLiteral("/one.jww"), Bytes{'x'});
        WriteBytes(folder + QStringLiteral("/two.jww"), Bytes{'x'});
        Captured captured;
        auto form = StartWith(sandbox, captured, folder);
        QVERIFY(!form->ListView1->tabKeyNavigation());
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        const QList<QWidget*> expected = {form->plExplorerFolderTree1->view(), form->ComboBox1, form->Button1,
                                          form->Edit1, form->OpenOutputButton, form->Button2, form->ButtonT,
                                          form->ButtonX, form->RefreshButton, form->PreviewToggle, form->HelpButton,
                                          form->ListView1};
        expected.front()->setFocus();
        QList<QWidget*> seen = {QApplication::focusWidget()};
        while (seen.size() < expected.size()) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            seen << QApplication::focusWidget();
        }
        QCOMPARE(seen, expected);
        form->ListView1->setFocus();
        QTest::keyClick(form->ListView1, Qt::Key_Down);
        const int current = form->ListView1->currentIndex().row();
        QVERIFY(current >= 0);
        QTest::keyClick(form->ListView1, Qt::Key_Return);
        QCOMPARE(captured.opened, QStringList{folder + u'/' + form->ItemCaption(current)});
        // Tab leaves the list for the preview's controls.
        form->ListView1->setFocus();
        QTest::keyClick(form->ListView1, Qt::Key_Tab);
        QVERIFY(form->focusWidget() != form->ListView1);
        // Double click opens too.
        const QRect cell = form->ListView1->visualRect(form->ListModel->index(0, 0));
        QTest::mouseDClick(form->ListView1->viewport(), Qt::LeftButton, {}, cell.center());
        QTRY_COMPARE(captured.opened.size(), 2);
    }

    // The preview shows the selected file, not the one with the focus, and
    // names it; an empty preview says what to do.
    void previewFollowsSelection() {
        Sandbox sandbox;
        const QString folder = sandbox.makeDir(QStringLiteral("ref"));
        WriteBytes(folder + QStringLiteral("/a.jww"), JwwWithMemo(700, u"", true));
        WriteBytes(folder + QStringLiteral("/b.jww"), JwwWithMemo(700, u"", true));
        Captured captured;
        auto form = StartWith(sandbox, captured, folder);
        form->PreviewToggle->setChecked(true);
        QVERIFY(form->Splitter2->sizes().value(1) > 0);
        QCOMPARE(form->PreviewPane->View->Message(), QString::fromUtf16(gui::kPreviewEmptyText));
        SelectNames(*form, {"a.jww"});
        QCOMPARE(form->PreviewPane->View->Path(), folder + QStringLiteral("/a.jww"));
        QCOMPARE(form->PreviewPane->Caption->text(), QStringLiteral("a.jww"));
        // The focus moves to b.jww without selecting it (Ctrl+Down).
        form->ListView1->setFocus();
        QTest::keyClick(form->ListView1, Qt::Key_Down, Qt::ControlModifier);
        QCOMPARE(form->ListView1->currentIndex().row(), RowOf(*form, QStringLiteral("b.jww")));
        QCOMPARE(form->PreviewPane->View->Path(), folder + QStringLiteral("/a.jww"));
        QSignalSpy loaded(form->PreviewPane->View, &TPreview::Loaded);
        QVERIFY(loaded.wait(5000) || form->PreviewPane->View->Scene());
        QVERIFY(form->PreviewPane->Info->text().startsWith(QStringLiteral("<nobr>仮")));
        // Folded away, it reads nothing.
        form->PreviewToggle->setChecked(false);
        QCOMPARE(form->Splitter2->sizes().value(1), 0);
    }

    // A dropped folder becomes the reference folder; dropped files of
    // another folder have it listed and are selected.
    void dropFoldersAndFiles() {
        Sandbox sandbox;
        const QString first = sandbox.makeDir(QStringLiteral("first"));
        const QString second = sandbox.makeDir(QStringLiteral("second"));
        WriteBytes(first + QStringLiteral("/x.jww"), Bytes{'x'});
        for (const char* n : {"p.jww", "q.jww", "r.jww"}) WriteBytes(second + u'/' + QString::fromLatin1(n), Bytes{'x'});
        Captured captured;
        auto form = ShowForm(sandbox, captured);
        Drop(*form, {first});
        QVERIFY(WaitListed(*form));
        QCOMPARE(form->preFolder(), first);
        QCOMPARE(form->Label1->text(), QStringLiteral("参照フォルダ：") + first);
        QCOMPARE(Captions(*form), QStringList{"x.jww"});
        Drop(*form, {second + QStringLiteral("/r.jww"), second + QStringLiteral("/p.jww")});
        QVERIFY(WaitListed(*form));
        QCOMPARE(form->preFolder(), second);
        QCOMPARE(SelectedNames(*form), QStringList({"p.jww", "r.jww"}));
    }

    // Bounds beyond every screen come back onto one; the layout of the
    // dividers, the count columns and the preview toggle is restored.
    void placementAndLayoutRestored() {
        Sandbox sandbox;
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        TSettingsData data;
        data.FormLeft = screen.right() + 3000;
        data.FormTop = screen.bottom() + 2000;
        data.FormWidth = screen.width() * 3;
        data.FormHeight = 500;
        data.DialogLeft = -5000;
        data.DialogTop = 100;
        sandbox.writeSettings(data);
        {
            Captured captured;
            auto form = ShowForm(sandbox, captured);
            QVERIFY2(screen.contains(QRect(form->pos(), form->size())), qPrintable(QStringLiteral("%1,%2 %3x%4")
                         .arg(form->x()).arg(form->y()).arg(form->width()).arg(form->height())));
            QVERIFY(screen.contains(form->Form2->pos()));
            QVERIFY(!form->PreviewToggle->isChecked());  // folded at the first start
            form->PreviewToggle->setChecked(true);
            const int total = form->Splitter2->sizes().value(0) + form->Splitter2->sizes().value(1);
            form->Splitter2->setSizes({total - 200, 200});
            QCOMPARE(form->Splitter2->sizes().value(1), 200);
            form->ListView1->setColumnWidth(gui::kTemporaryColumn, 77);
            form->ListView1->setColumnWidth(gui::kMarkerColumn, 91);
            QVERIFY(form->close());
        }
        Captured captured;
        auto form = ShowForm(sandbox, captured);
        QVERIFY(form->PreviewToggle->isChecked());
        QCOMPARE(form->Splitter2->sizes().value(1), 200);
        QCOMPARE(form->ListView1->columnWidth(gui::kTemporaryColumn), 77);
        QCOMPARE(form->ListView1->columnWidth(gui::kMarkerColumn), 91);
    }

    // A long run: "k / n" and the progress bar, the controls that would
    // change the run disabled, closing asks first, and the convert button,
    // which reads 中止, stops the run after the current file.
    void longRunShowsProgressAndStops() {
        Sandbox sandbox;
        const QString reference = sandbox.makeDir(QStringLiteral("ref"));
        const QString output = sandbox.makeDir(QStringLiteral("out"));
        const Bytes drawing = JwwWithMemo(700, u"", true);
        const int files = 3000;
        for (int i = 0; i < files; ++i) WriteBytes(reference + QStringLiteral("/f%1.jww").arg(i, 4, 10, QChar(u'0')), drawing);
        Captured captured;
        auto form = StartWith(sandbox, captured, reference, output);
        form->ListView1->selectAll();
        QSignalSpy finished(form.get(), &TForm1::RunFinished);
        QTest::mouseClick(form->ButtonT, Qt::LeftButton);
        QVERIFY(form->Running());
        QCOMPARE(form->ButtonT->text(), QStringLiteral("中止"));
        for (QWidget* w : {static_cast<QWidget*>(form->Button1), static_cast<QWidget*>(form->Button2),
                           static_cast<QWidget*>(form->ComboBox1), static_cast<QWidget*>(form->Edit1),
                           static_cast<QWidget*>(form->plExplorerFolderTree1)})
            QVERIFY(!w->isEnabled());
        QVERIFY(!form->Timer1->isActive());
        QVERIFY(form->Progress->isVisible());
        captured.answer = false;
        QVERIFY(!form->close());
        QCOMPARE(captured.asked, QStringList{QStringLiteral("変換中です。中止して終了しますか？")});
        QVERIFY(form->Running());
        QTRY_VERIFY_WITH_TIMEOUT(form->StatusText().contains(QStringLiteral(" / %1　f").arg(files)), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(form->Progress->value() > 0, 10000);
        QTest::mouseClick(form->ButtonT, Qt::LeftButton);
        QVERIFY(finished.wait(20000));
        QVERIFY(form->StatusText().startsWith(QStringLiteral("変換を中止しました。")));
        const int written = static_cast<int>(QDir(output).entryList(QDir::Files).size());
        QVERIFY2(written > 0 && written < files, qPrintable(QString::number(written)));
        QVERIFY(form->StatusText().contains(QStringLiteral("%1個のファイルを変換しました。").arg(written)));
        QCOMPARE(form->ButtonT->text(), QStringLiteral("変換 (&T)"));
        QVERIFY(form->Button2->isEnabled() && form->ButtonT->isEnabled() && form->Timer1->isActive());
        QVERIFY(!form->Progress->isVisible());

        // Closing during a run, answered yes: the window closes when the run has stopped.
        QTest::mouseClick(form->ButtonT, Qt::LeftButton);
        captured.answer = true;
        QVERIFY(!form->close());
        QVERIFY(finished.wait(20000));
        QTRY_VERIFY(!form->isVisible());
    }

    // The picker, a pasted path, and the button that opens the folder.
    void outputFolderField() {
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
        QCOMPARE(form->Logic().OutputFolder(), U(captured.pickResult));
        QVERIFY(!form->Edit1->isReadOnly());
        form->Edit1->setFocus();
        form->Edit1->selectAll();
        QTest::keyClicks(form->Edit1, start);
        QCOMPARE(form->Logic().OutputFolder(), U(start));
        QTest::mouseClick(form->OpenOutputButton, Qt::LeftButton);
        QCOMPARE(captured.opened, QStringList{start});
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

TERVALO_APP_TEST(MainWindowTest);

}  // namespace tervalo::apptest

#include "main_window_test.moc"

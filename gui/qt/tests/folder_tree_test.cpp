// The folder tree: roots, selections made by the program (not reported) and
// by the user (reported once), and the main window following the user's
// selection.
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableWidget>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include "app_test_registry.h"
#include "app_test_support.h"
#include "folder_tree.h"
#include "file_list_model.h"
#include "main_window.h"

namespace tervalo::apptest {

namespace {

// What a click on a folder does: makes it the tree's current item.
// The user moves the selection to `folder`: a key press on the tree, then
// the selection it leads to.
void UserSelects(TplExplorerFolderTree& tree, const QString& folder) {
    const QModelIndex index = tree.model()->index(folder);
    QVERIFY2(index.isValid(), qPrintable(folder));
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier);
    QCoreApplication::sendEvent(tree.view(), &press);
    tree.view()->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
}

QString CurrentFolder(const TplExplorerFolderTree& tree) {
    return tree.model()->filePath(tree.view()->currentIndex());
}

}  // namespace

class FolderTreeTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Home, the desktop where there is one, and the root are the top
    // entries; home is open; a folder without subfolders has no expander.
    void startsAtHome() {
        Sandbox sandbox;
        const QString leaf = sandbox.makeDir(QStringLiteral("parent/leaf"));
        TplExplorerFolderTree tree;
        QSignalSpy rootChanged(&tree, &TplExplorerFolderTree::RootFolderChanged);
        tree.SetRootFolder(QString());
        QCOMPARE(rootChanged.count(), 1);
        QCOMPARE(tree.RootFolder(), QString());
        FolderModel& m = *tree.model();
        QVERIFY(m.rowCount() >= 2);
        const QModelIndex home = m.QStandardItemModel::index(0, 0);
        QCOMPARE(m.filePath(home), QDir::cleanPath(QDir::homePath()));
        QCOMPARE(m.filePath(m.QStandardItemModel::index(m.rowCount() - 1, 0)), QStringLiteral("/"));
        QVERIFY(tree.view()->isExpanded(home) || !m.hasChildren(home));
        const QModelIndex parent = m.index(sandbox.path(QStringLiteral("parent")));
        QVERIFY(m.hasChildren(parent));
        const QModelIndex leafIndex = m.index(leaf);
        QVERIFY(leafIndex.isValid());
        QVERIFY(!m.hasChildren(leafIndex));
        // Re-rooting at the default always happens.
        tree.SetRootFolder(QString());
        QCOMPARE(rootChanged.count(), 2);
    }

    void rootFolderSetOnce() {
        Sandbox sandbox;
        const QString root = sandbox.makeDir(QStringLiteral("root"));
        sandbox.makeDir(QStringLiteral("root/b"));
        sandbox.makeDir(QStringLiteral("root/A"));
        TplExplorerFolderTree tree;
        QSignalSpy rootChanged(&tree, &TplExplorerFolderTree::RootFolderChanged);
        tree.SetRootFolder(root);
        tree.SetRootFolder(root);
        QCOMPARE(rootChanged.count(), 1);
        // The root's subfolders are the top entries, in the list's order.
        QCOMPARE(tree.model()->rowCount(), 2);
        QCOMPARE(tree.model()->filePath(tree.model()->QStandardItemModel::index(0, 0)), root + QStringLiteral("/A"));
        tree.SetRootFolder(sandbox.path(QStringLiteral("missing")));
        QCOMPARE(rootChanged.count(), 1);
        QCOMPARE(tree.RootFolder(), root);
    }

    void programSelectionIsNotReported() {
        Sandbox sandbox;
        const QString folder = sandbox.makeDir(QStringLiteral("a/b"));
        TplExplorerFolderTree tree;
        tree.SetRootFolder(QString());
        QSignalSpy selected(&tree, &TplExplorerFolderTree::SelectFolderChanged);
        tree.SetSelectFolder(folder);
        QCOMPARE(CurrentFolder(tree), folder);
        QCOMPARE(tree.RecordedFolder(), folder);
        QCOMPARE(tree.SelectFolder(), QString());
        QCOMPARE(selected.count(), 0);
        // The user clicking the folder already recorded reports nothing either.
        tree.view()->selectionModel()->clearCurrentIndex();
        UserSelects(tree, folder);
        QCOMPARE(selected.count(), 0);
        QCOMPARE(tree.SelectFolder(), QString());
    }

    void ignoredSelections_data() {
        QTest::addColumn<QString>("path");  // %1: the sandbox
        QTest::newRow("empty") << "";
        QTest::newRow("missing folder") << "%1/root/missing";
        QTest::newRow("a file") << "%1/root/file.txt";
        QTest::newRow("outside the root") << "%1/outside";
        QTest::newRow("the root's neighbour with a longer name") << "%1/rootx";
    }
    void ignoredSelections() {
        QFETCH(QString, path);
        Sandbox sandbox;
        const QString root = sandbox.makeDir(QStringLiteral("root"));
        const QString inside = sandbox.makeDir(QStringLiteral("root/inside"));
        sandbox.makeDir(QStringLiteral("outside"));
        sandbox.makeDir(QStringLiteral("rootx"));
        WriteBytes(root + QStringLiteral("/file.txt"), Bytes{'x'});
        TplExplorerFolderTree tree;
        tree.SetRootFolder(root);
        tree.SetSelectFolder(inside);
        QCOMPARE(tree.RecordedFolder(), inside);
        tree.SetSelectFolder(path.contains(u'%') ? path.arg(sandbox.path()) : path);
        QCOMPARE(tree.RecordedFolder(), inside);
        QCOMPARE(CurrentFolder(tree), inside);
    }

    void userSelectionIsReportedOnce() {
        Sandbox sandbox;
        const QString first = sandbox.makeDir(QStringLiteral("first"));
        const QString second = sandbox.makeDir(QStringLiteral("second"));
        TplExplorerFolderTree tree;
        tree.SetRootFolder(QString());
        tree.SetSelectFolder(first);
        QSignalSpy selected(&tree, &TplExplorerFolderTree::SelectFolderChanged);
        UserSelects(tree, second);
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected[0][0].toString(), second);
        QCOMPARE(tree.SelectFolder(), second);
        QCOMPARE(tree.RecordedFolder(), second);
        // Back to the first: reported, as it is no longer the recorded one.
        UserSelects(tree, first);
        QCOMPARE(selected.count(), 2);
        QCOMPARE(tree.SelectFolder(), first);
        // The program selecting the second folder leaves SelectFolder alone.
        tree.SetSelectFolder(second);
        QCOMPARE(tree.SelectFolder(), first);
        QCOMPARE(selected.count(), 2);
    }

    void windowFollowsTheTree() {
        Sandbox sandbox;
        const QString folder = sandbox.makeDir(QStringLiteral("選んだフォルダ"));
        WriteBytes(folder + QStringLiteral("/a.jww"), JwwWithMemo(700, u"x"));
        WriteBytes(folder + QStringLiteral("/b.txt"), Bytes{'x'});
        Captured captured;
        auto form = ShowForm(sandbox, captured);
        QCOMPARE(form->ListModel->rowCount(), 0);
        // A file type chosen before any folder leaves the list empty...
        form->ComboBox1->setCurrentIndex(2);
        form->ComboBox1Select();
        QCOMPARE(form->ListModel->rowCount(), 0);
        QCOMPARE(form->StatusText(), QStringLiteral("参照フォルダを選んで下さい。"));
        // ...and the tree still works: a selection is listed within a few ticks.
        UserSelects(*form->plExplorerFolderTree1, folder);
        QTRY_COMPARE_WITH_TIMEOUT(form->preFolder(), folder, 3000);
        QVERIFY(WaitListed(*form));
        QCOMPARE(form->Label1->text(), QStringLiteral("参照フォルダ：") + folder);
        QCOMPARE(Captions(*form), QStringList{"a.jww"});
        QCOMPARE(form->StatusText(), QStringLiteral("ファイル検索しました（ファイル数：1）"));
        QVERIFY(form->Timer1->isActive());
    }

    // The listed folder is renamed outside the program: the tree's selection
    // moves, but the window keeps listing the folder the user chose, and a
    // conversion says that it is gone.
    void vanishedFolderIsNotReplaced() {
        Sandbox sandbox;
        const QString folder = sandbox.makeDir(QStringLiteral("tree/b"));
        sandbox.makeDir(QStringLiteral("tree/a"));
        sandbox.makeDir(QStringLiteral("tree/c"));
        const QString output = sandbox.makeDir(QStringLiteral("out"));
        WriteBytes(folder + QStringLiteral("/x.jww"), JwwWithMemo(700, u"x", true));
        Captured captured;
        auto form = ShowForm(sandbox, captured);
        form->Edit1->setText(output);
        UserSelects(*form->plExplorerFolderTree1, folder);
        QTRY_COMPARE_WITH_TIMEOUT(form->preFolder(), folder, 3000);
        QVERIFY(WaitListed(*form));
        QVERIFY(QDir().rename(folder, sandbox.path(QStringLiteral("tree/renamed"))));
        // What the tree's model does when it sees the folder go: the current
        // row moves to a neighbour, with no input of the user.
        TplExplorerFolderTree& tree = *form->plExplorerFolderTree1;
        tree.view()->selectionModel()->setCurrentIndex(tree.model()->index(sandbox.path(QStringLiteral("tree/c"))),
                                                       QItemSelectionModel::ClearAndSelect);
        QTest::qWait(600);  // several ticks of the folder-following timer
        QCOMPARE(form->preFolder(), folder);
        QCOMPARE(Captions(*form), QStringList{"x.jww"});
        SelectNames(*form, {"x.jww"});
        QVERIFY(ConvertAndWait(*form));
        QCOMPARE(captured.texts(), QStringList{QStringLiteral("参照フォルダが存在しません。")});
        QVERIFY(QDir(output).isEmpty());
    }

    void startFolderIsPreselected() {
        Sandbox sandbox;
        const QString folder = sandbox.makeDir(QStringLiteral("start"));
        TSettingsData data;
        data.ReferenceFolder = folder.toStdU16String();
        sandbox.writeSettings(data);
        Captured captured;
        auto form = ShowForm(sandbox, captured);
        QCOMPARE(CurrentFolder(*form->plExplorerFolderTree1), folder);
        QCOMPARE(form->plExplorerFolderTree1->SelectFolder(), QString());
        QCOMPARE(form->preFolder(), folder);
        // Scrolled into view once the folders on the way have been read.
        QTreeView* view = form->plExplorerFolderTree1->view();
        QTRY_VERIFY(view->viewport()->rect().contains(view->visualRect(view->currentIndex())));
    }
};

TERVALO_APP_TEST(FolderTreeTest);

}  // namespace tervalo::apptest

#include "folder_tree_test.moc"

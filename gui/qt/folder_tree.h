// A folder tree for choosing the reference folder: folders only, with the
// user's home folder, the desktop (where there is one) and the root of the
// file system (on Windows the drives) as its top entries; or rooted at a
// given folder, whose subfolders are then the top entries. Folders are read
// when they are first opened, and a folder without subfolders has no
// expander. It reports the folder the user selects as a path; a folder the
// program selects is shown selected but not reported, so the main window
// does not list it a second time.
#pragma once

#include <QPersistentModelIndex>
#include <QStandardItemModel>
#include <QString>
#include <QWidget>

class QTimer;
class QTreeView;
class QModelIndex;

namespace tervalo {

// The tree's folders: an item per folder, its path as data; children are
// read when the folder is first opened.
class FolderModel : public QStandardItemModel {
    Q_OBJECT

public:
    explicit FolderModel(QObject* parent = nullptr);
    using QStandardItemModel::index;
    // The item of a folder below one of the top entries, its parents read on
    // the way; invalid when the folder is not in the tree.
    QModelIndex index(const QString& path);
    QString filePath(const QModelIndex& index) const;
    // Replaces the top entries: (label, path) pairs.
    void SetTop(const QList<QPair<QString, QString>>& top);
    // Reads the subfolders of a folder not read yet.
    void Populate(const QModelIndex& index);

private:
    QStandardItem* Make(const QString& label, const QString& path);
};

class TplExplorerFolderTree : public QWidget {
    Q_OBJECT

public:
    explicit TplExplorerFolderTree(QWidget* parent = nullptr);
    ~TplExplorerFolderTree() override;

    // The root given last; empty = the file system's root with the home folder
    // expanded. Setting the same non-empty root again does nothing; setting a
    // folder that does not exist changes nothing. A non-empty root's
    // subfolders are the top items of the tree.
    QString RootFolder() const { return FRootFolder; }
    void SetRootFolder(const QString& folder);

    // The folder the user selected last; empty until the user selects one.
    // Setting it selects that folder in the tree and scrolls to it without
    // changing SelectFolder and without signalling; an empty path, a path that
    // is no folder, a folder outside the root or the folder recorded already
    // change nothing.
    QString SelectFolder() const { return FSelectFolder; }
    void SetSelectFolder(const QString& folder);

    // The folder recorded as selected, by the user or by the program.
    QString RecordedFolder() const { return recordedFolder_; }

    // The tree keeps no event loop of its own: Qt's loop serves it also while
    // a modal dialog runs, so there is nothing to stop or restart. Kept so the
    // main window can say when its modal dialog runs.
    void IdleStop() {}
    void IdleRestart() {}

    QTreeView* view() const { return view_; }
    FolderModel* model() const { return model_; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

Q_SIGNALS:
    void RootFolderChanged(const QString& path);
    void SelectFolderChanged(const QString& path);

private:
    void OnCurrentChanged(const QModelIndex& current);
    bool UnderRoot(const QString& path) const;
    void ExpandTo(const QModelIndex& index);
    void ScrollToTarget();

    QString FRootFolder;
    QString FSelectFolder;
    QString recordedFolder_;  // the folder recorded as selected last
    QString rootPath_;        // the root in use: "/", "" (the drives) or the given folder
    bool rootSet_ = false;
    int programSelecting_ = 0;  // above 0 while the program selects or expands
    int userActing_ = 0;        // above 0 while the user's click or key is handled
    bool shownOnce_ = false;
    QPersistentModelIndex scrollTarget_;  // the program's selection, kept in view while folders load
    QTimer* scrollTimer_;
    FolderModel* model_;
    QTreeView* view_;
};

}  // namespace tervalo

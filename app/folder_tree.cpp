#include "folder_tree.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QVBoxLayout>

namespace tervalo {

namespace {

// Draws the item with the keyboard focus in dark red, as the folder the
// keyboard is on stands out from the selected one.
class FocusDelegate : public QStyledItemDelegate {
public:
    FocusDelegate(QTreeView* view) : QStyledItemDelegate(view), view_(view) {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index == view_->currentIndex()) {
            const QColor red(200, 0, 0);
            option->palette.setColor(QPalette::Text, red);
            option->palette.setColor(QPalette::HighlightedText, red);
        }
    }

private:
    QTreeView* view_;
};

QString CleanFolder(const QString& path) { return QDir::cleanPath(QFileInfo(path).absoluteFilePath()); }

// The folder holding a path, with a trailing "/".
QString FolderOfTarget(const QString& path) { return path.left(path.lastIndexOf(u'/') + 1); }

}  // namespace

TplExplorerFolderTree::TplExplorerFolderTree(QWidget* parent) : QWidget(parent) {
    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    model_->setReadOnly(true);
    model_->setRootPath(QStringLiteral("/"));

    view_ = new QTreeView(this);
    view_->setModel(model_);
    for (int c = 1; c < model_->columnCount(); ++c) view_->hideColumn(c);
    view_->setHeaderHidden(true);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setItemDelegate(new FocusDelegate(view_));
    view_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    view_->header()->setStretchLastSection(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    resize(250, 300);

    connect(view_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { OnCurrentChanged(current); });
    connect(model_, &QFileSystemModel::directoryLoaded, this, &TplExplorerFolderTree::OnDirectoryLoaded);
}

TplExplorerFolderTree::~TplExplorerFolderTree() = default;

void TplExplorerFolderTree::SetRootFolder(const QString& folder) {
    if (!folder.isEmpty() && rootSet_ && folder == FRootFolder) return;
    const QString root = folder.isEmpty() ? QStringLiteral("/") : CleanFolder(folder);
    if (!QFileInfo(root).isDir()) return;
    const QModelIndex rootIndex = model_->index(root);
    if (!rootIndex.isValid()) return;
    rootPath_ = root;
    rootSet_ = true;
    if (folder.isEmpty()) {
        // The file system's root is the one top item, expanded, and so is the
        // way down to the user's home folder.
        view_->setRootIndex(QModelIndex());
        view_->expand(rootIndex);
        const QModelIndex home = model_->index(QDir::homePath());
        if (home.isValid()) {
            ExpandTo(home);
            view_->expand(home);
        }
    } else {
        view_->setRootIndex(rootIndex);
    }
    FRootFolder = folder;
    Q_EMIT RootFolderChanged(FRootFolder);
}

void TplExplorerFolderTree::SetSelectFolder(const QString& folder) {
    if (folder.isEmpty() || !rootSet_) return;
    const QString path = CleanFolder(folder);
    if (!QFileInfo(path).isDir() || !UnderRoot(path) || path == recordedFolder_) return;
    const QModelIndex index = model_->index(path);
    if (!index.isValid()) return;
    ++programSelecting_;
    ExpandTo(index);
    view_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    view_->scrollTo(index, QAbstractItemView::PositionAtCenter);
    --programSelecting_;
    scrollTarget_ = index;
    recordedFolder_ = path;
}

void TplExplorerFolderTree::OnCurrentChanged(const QModelIndex& current) {
    if (programSelecting_ > 0 || !current.isValid()) return;
    scrollTarget_ = QPersistentModelIndex();  // the user has moved on
    const QString path = model_->filePath(current);
    if (path == recordedFolder_) return;
    recordedFolder_ = path;
    FSelectFolder = path;
    Q_EMIT SelectFolderChanged(FSelectFolder);
}

void TplExplorerFolderTree::OnDirectoryLoaded(const QString& path) {
    // Folders are read in the background and sorted when read, which moves
    // the rows; keep the folder the program selected in view until the
    // folders on its way down have been read.
    if (!scrollTarget_.isValid()) return;
    const QString target = model_->filePath(scrollTarget_);
    const QString loaded = path.endsWith(u'/') ? path : path + u'/';
    if (!target.startsWith(loaded)) return;
    view_->scrollTo(scrollTarget_, QAbstractItemView::PositionAtCenter);
    if (FolderOfTarget(target) == loaded) scrollTarget_ = QPersistentModelIndex();
}

bool TplExplorerFolderTree::UnderRoot(const QString& path) const {
    if (rootPath_ == QLatin1String("/")) return path.startsWith(u'/');
    return path.startsWith(rootPath_ + u'/');
}

void TplExplorerFolderTree::ExpandTo(const QModelIndex& index) {
    for (QModelIndex p = index.parent(); p.isValid(); p = p.parent()) view_->expand(p);
}

}  // namespace tervalo

#include "folder_tree.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QScrollBar>
#include <QTimer>
#include <QShowEvent>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QVBoxLayout>

namespace tervalo {

namespace {

// Draws the selected folder on a light background and the folder with the
// keyboard focus in dark red, so both read well whether or not the tree has
// the focus.
class FocusDelegate : public QStyledItemDelegate {
public:
    FocusDelegate(QTreeView* view) : QStyledItemDelegate(view), view_(view) {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index == view_->currentIndex()) {
            const QColor red(200, 0, 0);
            for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
                option->palette.setColor(group, QPalette::Text, red);
                option->palette.setColor(group, QPalette::HighlightedText, red);
            }
        }
    }

private:
    QTreeView* view_;
};

QString CleanFolder(const QString& path) { return QDir::cleanPath(QFileInfo(path).absoluteFilePath()); }

// The top of the whole tree: the file system's root "/" where there is one
// root, else (Windows) Qt's "this computer", the empty path, whose children
// are the drives.
QString ComputerRoot() {
    const QFileInfoList drives = QDir::drives();
    return drives.size() == 1 && drives.front().filePath() == QLatin1String("/") ? QStringLiteral("/") : QString();
}


}  // namespace

TplExplorerFolderTree::TplExplorerFolderTree(QWidget* parent) : QWidget(parent) {
    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    model_->setReadOnly(true);
    model_->setRootPath(ComputerRoot());

    view_ = new QTreeView(this);
    view_->setModel(model_);
    for (int c = 1; c < model_->columnCount(); ++c) view_->hideColumn(c);
    view_->setHeaderHidden(true);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setItemDelegate(new FocusDelegate(view_));
    QPalette palette = view_->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Highlight, QColor(204, 232, 255));
        palette.setColor(group, QPalette::HighlightedText, palette.color(group, QPalette::Text));
    }
    view_->setPalette(palette);
    // The names fit the panel: no sideways scrolling, no clipped parents;
    // a long name is cut at its end instead.
    view_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    view_->header()->setStretchLastSection(true);
    view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view_->setTextElideMode(Qt::ElideRight);
    view_->setAutoScroll(false);
    // Only the user's own clicks and keys select a folder: a selection that
    // moves because a folder vanished or was renamed is not a choice.
    view_->viewport()->installEventFilter(this);
    view_->installEventFilter(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    resize(250, 300);

    connect(view_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { OnCurrentChanged(current); });
    // Folders are read in the background and sorted afterwards, which moves
    // the rows: the folder the program selected is scrolled into view again
    // whenever rows arrive or move, until the user does something in the tree.
    scrollTimer_ = new QTimer(this);
    scrollTimer_->setSingleShot(true);
    scrollTimer_->setInterval(20);
    connect(scrollTimer_, &QTimer::timeout, this, &TplExplorerFolderTree::ScrollToTarget);
    auto later = [this] {
        if (scrollTarget_.isValid()) scrollTimer_->start();
    };
    connect(model_, &QFileSystemModel::directoryLoaded, this, later);
    connect(model_, &QAbstractItemModel::layoutChanged, this, later);
    connect(model_, &QAbstractItemModel::rowsInserted, this, later);
    connect(view_, &QTreeView::expanded, this, [this] {
        if (programSelecting_ == 0) scrollTarget_ = QPersistentModelIndex();
    });
    connect(view_->verticalScrollBar(), &QScrollBar::actionTriggered, this,
            [this] { scrollTarget_ = QPersistentModelIndex(); });
}

TplExplorerFolderTree::~TplExplorerFolderTree() = default;

void TplExplorerFolderTree::SetRootFolder(const QString& folder) {
    if (!folder.isEmpty() && rootSet_ && folder == FRootFolder) return;
    const QString root = folder.isEmpty() ? ComputerRoot() : CleanFolder(folder);
    const bool computer = root.isEmpty();  // the drives are the top items
    if (!computer && !QFileInfo(root).isDir()) return;
    const QModelIndex rootIndex = computer ? QModelIndex() : model_->index(root);
    if (!computer && !rootIndex.isValid()) return;
    rootPath_ = root;
    rootSet_ = true;
    ++programSelecting_;
    if (folder.isEmpty()) {
        // The file system's root is the one top item, expanded, and so is the
        // way down to the user's home folder.
        view_->setRootIndex(QModelIndex());
        if (!computer) view_->expand(rootIndex);
        const QModelIndex home = model_->index(QDir::homePath());
        if (home.isValid()) {
            ExpandTo(home);
            view_->expand(home);
        }
    } else {
        view_->setRootIndex(rootIndex);
    }
    --programSelecting_;
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
    scrollTimer_->start();
    recordedFolder_ = path;
}

bool TplExplorerFolderTree::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
            // The selection that follows from this input is the user's.
            ++userActing_;
            QTimer::singleShot(0, this, [this] { --userActing_; });
            break;
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

void TplExplorerFolderTree::OnCurrentChanged(const QModelIndex& current) {
    if (programSelecting_ > 0 || !current.isValid()) return;
    if (userActing_ == 0) return;  // moved by the model (a folder vanished), not by the user
    scrollTarget_ = QPersistentModelIndex();  // the user has moved on
    const QString path = model_->filePath(current);
    if (path == recordedFolder_) return;
    recordedFolder_ = path;
    FSelectFolder = path;
    Q_EMIT SelectFolderChanged(FSelectFolder);
}

void TplExplorerFolderTree::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Before the tree is first shown its view has no real height to centre
    // in; scroll again once the window's layout is done.
    if (event->spontaneous() || shownOnce_) return;
    shownOnce_ = true;
    if (scrollTarget_.isValid()) scrollTimer_->start();
}

void TplExplorerFolderTree::ScrollToTarget() {
    if (scrollTarget_.isValid()) view_->scrollTo(scrollTarget_, QAbstractItemView::PositionAtCenter);
}

bool TplExplorerFolderTree::UnderRoot(const QString& path) const {
    if (rootPath_.isEmpty()) return QFileInfo(path).isAbsolute();  // every drive
    // A root ending in '/' ("/", "C:/") holds every path that starts with it.
    if (rootPath_.endsWith(u'/')) return path.startsWith(rootPath_);
    return path.startsWith(rootPath_ + u'/');
}

void TplExplorerFolderTree::ExpandTo(const QModelIndex& index) {
    for (QModelIndex p = index.parent(); p.isValid(); p = p.parent()) view_->expand(p);
}

}  // namespace tervalo

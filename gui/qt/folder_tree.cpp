#include "folder_tree.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QDirIterator>
#include <QStandardPaths>
#include <algorithm>
#include <QHeaderView>
#include <QScrollBar>
#include <QTimer>
#include <QShowEvent>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QVBoxLayout>

#include "file_rows.h"
#include "placement.h"
#include "qt_text.h"

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

constexpr int kPathRole = Qt::UserRole + 1;
constexpr int kReadRole = Qt::UserRole + 2;  // the children have been read

bool HasSubfolder(const QString& path) {
    QDirIterator it(path, QDir::Dirs | QDir::NoDotAndDotDot);
    return it.hasNext();
}

// The path below `parent` a child named `name` has.
QString ChildPath(const QString& parent, const QString& name) {
    return parent.endsWith(u'/') ? parent + name : parent + u'/' + name;
}

// The top entries of the whole tree: home, the desktop, the root (or the
// drives on Windows).
QList<QPair<QString, QString>> DefaultTop() {
    const QString home = CleanFolder(QDir::homePath());
    const QString desktop = CleanFolder(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
    const QFileInfoList drives = QDir::drives();
    const QString root = drives.size() == 1 ? drives.front().filePath() : QString();
    QList<QPair<QString, QString>> top;
    for (const std::u16string& f : gui::TreeTopFolders(U(home), U(desktop), U(root))) {
        const QString path = Q(f);
        const QString label = path == home      ? QStringLiteral("ホーム（%1）").arg(QFileInfo(home).fileName())
                              : path == desktop ? QStringLiteral("デスクトップ")
                                                : path;
        top.append({label, path});
    }
    if (root.isEmpty())
        for (const QFileInfo& d : drives) top.append({d.filePath(), d.filePath()});
    return top;
}

}  // namespace

FolderModel::FolderModel(QObject* parent) : QStandardItemModel(parent) {}

QStandardItem* FolderModel::Make(const QString& label, const QString& path) {
    auto* item = new QStandardItem(label);
    item->setEditable(false);
    item->setData(path, kPathRole);
    item->setToolTip(path);
    item->setData(false, kReadRole);
    // An expander only where there are subfolders: a placeholder child
    // until the folder is read.
    if (HasSubfolder(path)) item->appendRow(new QStandardItem);
    else item->setData(true, kReadRole);
    return item;
}

void FolderModel::SetTop(const QList<QPair<QString, QString>>& top) {
    clear();
    for (const auto& [label, path] : top) appendRow(Make(label, path));
}

void FolderModel::Populate(const QModelIndex& index) {
    QStandardItem* item = itemFromIndex(index);
    if (!item || item->data(kReadRole).toBool()) return;
    item->setData(true, kReadRole);
    const QString path = item->data(kPathRole).toString();
    QStringList names = QDir(path).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return gui::CompareCellTexts(U(a), U(b), gui::kNameColumn) < 0;
    });
    QList<QStandardItem*> rows;
    for (const QString& name : names) rows.append(Make(name, ChildPath(path, name)));
    item->removeRows(0, item->rowCount());
    for (QStandardItem* r : rows) item->appendRow(r);
}

QString FolderModel::filePath(const QModelIndex& index) const { return index.data(kPathRole).toString(); }

QModelIndex FolderModel::index(const QString& folder) {
    const QString path = CleanFolder(folder);
    // The top entry that holds the path nearest.
    QModelIndex best;
    qsizetype bestLength = -1;
    for (int r = 0; r < rowCount(); ++r) {
        const QModelIndex i = QStandardItemModel::index(r, 0);
        const QString top = filePath(i);
        const bool holds = path == top || path.startsWith(top.endsWith(u'/') ? top : top + u'/');
        if (holds && top.size() > bestLength) {
            best = i;
            bestLength = top.size();
        }
    }
    if (!best.isValid()) return {};
    QModelIndex at = best;
    while (filePath(at) != path) {
        Populate(at);
        const QString here = filePath(at);
        const QString rest = path.mid(here.endsWith(u'/') ? here.size() : here.size() + 1);
        const QString name = rest.section(u'/', 0, 0);
        const QString next = ChildPath(here, name);
        QModelIndex found;
        for (int r = 0; r < rowCount(at); ++r) {
            const QModelIndex c = QStandardItemModel::index(r, 0, at);
            if (filePath(c) == next) found = c;
        }
        if (!found.isValid()) return {};
        at = found;
    }
    return at;
}

TplExplorerFolderTree::TplExplorerFolderTree(QWidget* parent) : QWidget(parent) {
    model_ = new FolderModel(this);

    view_ = new QTreeView(this);
    view_->setModel(model_);
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
    view_->header()->setStretchLastSection(true);
    view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view_->setTextElideMode(Qt::ElideRight);
    view_->setAutoScroll(false);
    // Only the user's own clicks and keys select a folder.
    view_->viewport()->installEventFilter(this);
    view_->installEventFilter(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    resize(250, 300);

    connect(view_, &QTreeView::expanded, this, [this](const QModelIndex& index) { model_->Populate(index); });
    connect(view_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { OnCurrentChanged(current); });
    // Once the window's layout is done the program's selection is scrolled
    // into view again.
    scrollTimer_ = new QTimer(this);
    scrollTimer_->setSingleShot(true);
    scrollTimer_->setInterval(20);
    connect(scrollTimer_, &QTimer::timeout, this, &TplExplorerFolderTree::ScrollToTarget);
    connect(view_->verticalScrollBar(), &QScrollBar::actionTriggered, this,
            [this] { scrollTarget_ = QPersistentModelIndex(); });
}

TplExplorerFolderTree::~TplExplorerFolderTree() = default;

void TplExplorerFolderTree::SetRootFolder(const QString& folder) {
    if (!folder.isEmpty() && rootSet_ && folder == FRootFolder) return;
    QList<QPair<QString, QString>> top;
    if (folder.isEmpty()) {
        top = DefaultTop();
        rootPath_.clear();
    } else {
        const QString root = CleanFolder(folder);
        if (!QFileInfo(root).isDir()) return;
        QStringList names = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
            return gui::CompareCellTexts(U(a), U(b), gui::kNameColumn) < 0;
        });
        for (const QString& n : names) top.append({n, ChildPath(root, n)});
        rootPath_ = root;
    }
    rootSet_ = true;
    ++programSelecting_;
    model_->SetTop(top);
    // The home folder opened, so its folders show at once.
    if (folder.isEmpty() && model_->rowCount() > 0) view_->expand(model_->QStandardItemModel::index(0, 0));
    --programSelecting_;
    recordedFolder_.clear();
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
    if (rootPath_.isEmpty()) return QFileInfo(path).isAbsolute();  // below one of the top entries
    // A root ending in '/' ("/", "C:/") holds every path that starts with it.
    if (rootPath_.endsWith(u'/')) return path.startsWith(rootPath_);
    return path.startsWith(rootPath_ + u'/');
}

void TplExplorerFolderTree::ExpandTo(const QModelIndex& index) {
    for (QModelIndex p = index.parent(); p.isValid(); p = p.parent()) view_->expand(p);
}

}  // namespace tervalo

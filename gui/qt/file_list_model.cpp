#include "file_list_model.h"

#include <QColor>

#include "main_logic.h"
#include "qt_text.h"

namespace tervalo {

FileListModel::FileListModel(gui::MainLogic& logic, QObject* parent) : QAbstractTableModel(parent), logic_(logic) {}

int FileListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : static_cast<int>(rows_); }

int FileListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : gui::kColumnCount; }

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || static_cast<std::size_t>(index.row()) >= rows_) return {};
    const std::size_t row = static_cast<std::size_t>(index.row());
    switch (role) {
        case Qt::DisplayRole: return Q(logic_.CellText(row, index.column()));
        case Qt::TextAlignmentRole:
            return static_cast<int>((gui::ColumnOf(index.column()).rightAligned ? Qt::AlignRight : Qt::AlignLeft) |
                                    Qt::AlignVCenter);
        case Qt::ForegroundRole:
            if (logic_.Row(row).nameNotText) return QColor(128, 128, 128);
            return {};
        case kNameNotTextRole: return logic_.Row(row).nameNotText;
        default: return {};
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= gui::kColumnCount) return {};
    if (role == Qt::DisplayRole) return QString::fromUtf16(gui::ColumnOf(section).caption);
    if (role == Qt::TextAlignmentRole)
        return static_cast<int>((gui::ColumnOf(section).rightAligned ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void FileListModel::Reset() {
    beginResetModel();
    rows_ = logic_.RowCount();
    endResetModel();
}

void FileListModel::Added(std::size_t first, std::size_t count) {
    if (count == 0) return;
    beginInsertRows(QModelIndex(), static_cast<int>(first), static_cast<int>(first + count - 1));
    rows_ = first + count;
    endInsertRows();
}

void FileListModel::Changed(std::size_t first, std::size_t count) {
    if (count == 0) return;
    Q_EMIT dataChanged(index(static_cast<int>(first), gui::kFirstCountColumn),
                       index(static_cast<int>(first + count - 1), gui::kColumnCount - 1));
}

void FileListModel::Reordered(const std::vector<std::size_t>& oldOfNew) {
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newOfOld(oldOfNew.size());
    for (std::size_t i = 0; i < oldOfNew.size(); ++i) newOfOld[oldOfNew[i]] = static_cast<int>(i);
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& i : from) {
        const std::size_t old = static_cast<std::size_t>(i.row());
        to.append(old < newOfOld.size() ? index(newOfOld[old], i.column()) : QModelIndex());
    }
    changePersistentIndexList(from, to);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace tervalo

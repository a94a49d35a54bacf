// The file list for Qt's views: a table model over the shared list of the
// window logic. It holds no rows of its own; the logic's notices become the
// model's signals.
#pragma once

#include <QAbstractTableModel>

namespace tervalo::gui {
class MainLogic;
}

namespace tervalo {

// Item data of a row's first cell: the name on disk is not valid text.
inline constexpr int kNameNotTextRole = Qt::UserRole + 1;

class FileListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit FileListModel(gui::MainLogic& logic, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // From the logic's notices.
    void Reset();
    void Added(std::size_t first, std::size_t count);
    void Changed(std::size_t first, std::size_t count);
    // Moves the persistent indexes (the view's selection and current row)
    // with their rows.
    void Reordered(const std::vector<std::size_t>& oldOfNew);

private:
    gui::MainLogic& logic_;
    std::size_t rows_ = 0;  // the rows announced to the views
};

}  // namespace tervalo

#include "platform/qt/grid_table_model.h"

namespace velmaris::platform {

QColor GridColor(std::uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFFu), static_cast<int>((bgr >> 8) & 0xFFu),
                  static_cast<int>((bgr >> 16) & 0xFFu));
}

GridTableModel::GridTableModel(grid::GridModel& grid, QObject* parent)
    : QAbstractTableModel(parent), grid_(grid) {
    grid_.SetObserver(this);
}

int GridTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : grid_.RowCount();
}

int GridTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : grid_.ColCount();
}

QVariant GridTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    const int row = index.row() + 1;
    const int col = index.column() + 1;
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            return QString::fromStdString(grid_.CellText(row, col));
        case Qt::BackgroundRole:
            if (grid_.HasOwnColors(row, col)) {
                return GridColor(grid_.CellBackColor(row, col));
            }
            return {};
        case Qt::ForegroundRole:
            if (grid_.HasOwnColors(row, col)) {
                return GridColor(grid_.CellForeColor(row, col));
            }
            return {};
        default:
            return {};
    }
}

QVariant GridTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole) {
        return QString::fromStdString(grid_.ColHeaderText(section + 1));
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags GridTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    const Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    return grid_.Editable() ? flags | Qt::ItemIsEditable : flags;
}

bool GridTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole || !grid_.Editable()) {
        return false;
    }
    // The grid tells the view of the change itself.
    grid_.SetCellValue(index.row() + 1, index.column() + 1, value.toString().toStdString());
    return true;
}

void GridTableModel::BeforeLayoutChange() {
    if (layoutDepth_++ == 0) {
        beginResetModel();
    }
}

void GridTableModel::AfterLayoutChange() {
    if (layoutDepth_ > 0 && --layoutDepth_ == 0) {
        endResetModel();
    }
}

void GridTableModel::CellChanged(int row, int col) {
    // Within a layout change the reset redraws everything anyway.
    if (layoutDepth_ == 0) {
        const QModelIndex cell = index(row - 1, col - 1);
        emit dataChanged(cell, cell);
    }
}

void GridTableModel::CurrentRowChanged(int row) {
    // After a reset the view reads the current row afresh.
    if (layoutDepth_ == 0) {
        emit currentRowChanged(row);
    }
}

}  // namespace velmaris::platform

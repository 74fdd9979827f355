// Shows a grid model to Qt's item views: Qt's rows and columns from 0 are the model's from 1.
#pragma once

#include <QAbstractTableModel>
#include <QColor>

#include <cstdint>

#include "grid/grid_model.h"

namespace velmaris::platform {

// A grid colour in blue-green-red integer form (red in the low byte) as a QColor.
QColor GridColor(std::uint32_t bgr);

class GridTableModel : public QAbstractTableModel, public grid::GridObserver {
    Q_OBJECT

  public:
    // Observes grid from now on. The grid must outlive every use of this adapter; the adapter
    // leaves the grid alone when destroyed, as the grid's owner usually goes first.
    explicit GridTableModel(grid::GridModel& grid, QObject* parent = nullptr);

    grid::GridModel& Grid() { return grid_; }
    const grid::GridModel& Grid() const { return grid_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // Cells are editable only while the grid says so; an edit writes the text as UTF-8.
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    void BeforeLayoutChange() override;
    void AfterLayoutChange() override;
    void CellChanged(int row, int col) override;
    void CurrentRowChanged(int row) override;

  signals:
    // The model's current row changed (from 1; 0 for none).
    void currentRowChanged(int row);

  private:
    grid::GridModel& grid_;
    int layoutDepth_ = 0;  // a reset spans nested layout changes once
};

}  // namespace velmaris::platform

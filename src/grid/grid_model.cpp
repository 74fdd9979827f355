#include "grid/grid_model.h"

#include <algorithm>

namespace velmaris::grid {

namespace {

const grid::CellValue kEmptyValue{};
const std::string kEmptyText;

// Rank of a value's kind in the sort order: empty, then numbers, then texts.
int KindRank(const grid::CellValue& value) {
    return static_cast<int>(value.index());
}

bool SortsBefore(const grid::CellValue& a, const grid::CellValue& b) {
    if (a.index() != b.index()) {
        return KindRank(a) < KindRank(b);
    }
    if (const auto* n = std::get_if<std::int64_t>(&a)) {
        return *n < std::get<std::int64_t>(b);
    }
    if (const auto* s = std::get_if<std::string>(&a)) {
        return *s < std::get<std::string>(b);
    }
    return false;
}

}  // namespace

void GridModel::SetRowCount(int count) {
    count = std::max(count, 0);
    BeginLayout();
    rows_.resize(static_cast<size_t>(count), Row(cols_.size()));
    if (curRow_ > count) {
        curRow_ = 0;
    }
    EndLayout();
}

void GridModel::SetColCount(int count) {
    count = std::max(count, 0);
    BeginLayout();
    cols_.resize(static_cast<size_t>(count));
    for (Row& row : rows_) {
        row.resize(cols_.size());
    }
    EndLayout();
}

const std::string& GridModel::ColHeaderText(int col) const {
    const Column* column = ColumnAt(col);
    return column ? column->header : kEmptyText;
}

void GridModel::SetColHeaderText(int col, const std::string& text) {
    if (Column* column = ColumnAt(col)) {
        BeginLayout();
        column->header = text;
        EndLayout();
    }
}

int GridModel::ColWidth(int col) const {
    const Column* column = ColumnAt(col);
    return column && column->width ? *column->width : kDefaultColWidth;
}

void GridModel::SetColWidth(int col, int pixels) {
    if (Column* column = ColumnAt(col)) {
        BeginLayout();
        column->width = pixels;
        EndLayout();
    }
}

bool GridModel::ColVisible(int col) const {
    const Column* column = ColumnAt(col);
    return column && column->visible;
}

void GridModel::SetColVisible(int col, bool visible) {
    if (Column* column = ColumnAt(col)) {
        BeginLayout();
        column->visible = visible;
        EndLayout();
    }
}

const grid::CellValue& GridModel::CellValue(int row, int col) const {
    const Cell* cell = CellAt(row, col);
    return cell ? cell->value : kEmptyValue;
}

void GridModel::SetCellValue(int row, int col, grid::CellValue value) {
    if (Cell* cell = CellAt(row, col)) {
        cell->value = std::move(value);
        NotifyCell(row, col);
    }
}

std::string GridModel::CellText(int row, int col) const {
    const grid::CellValue& value = CellValue(row, col);
    if (const auto* n = std::get_if<std::int64_t>(&value)) {
        return std::to_string(*n);
    }
    if (const auto* s = std::get_if<std::string>(&value)) {
        return *s;
    }
    return {};
}

std::uint32_t GridModel::CellBackColor(int row, int col) const {
    const Cell* cell = CellAt(row, col);
    return cell && cell->back ? *cell->back : kDefaultBackColor;
}

void GridModel::SetCellBackColor(int row, int col, std::uint32_t color) {
    if (Cell* cell = CellAt(row, col)) {
        cell->back = color;
        NotifyCell(row, col);
    }
}

std::uint32_t GridModel::CellForeColor(int row, int col) const {
    const Cell* cell = CellAt(row, col);
    return cell && cell->fore ? *cell->fore : kDefaultForeColor;
}

void GridModel::SetCellForeColor(int row, int col, std::uint32_t color) {
    if (Cell* cell = CellAt(row, col)) {
        cell->fore = color;
        NotifyCell(row, col);
    }
}

bool GridModel::HasOwnColors(int row, int col) const {
    const Cell* cell = CellAt(row, col);
    return cell && (cell->back || cell->fore);
}

void GridModel::SetCurRow(int row) {
    const int next = (row >= 1 && row <= RowCount()) ? row : 0;
    if (next != curRow_) {
        curRow_ = next;
        if (observer_) {
            observer_->CurrentRowChanged(curRow_);
        }
    }
}

void GridModel::AddRow() {
    BeginLayout();
    rows_.emplace_back(cols_.size());
    EndLayout();
}

void GridModel::RemoveRow(int row, int count) {
    if (row < 1 || row > RowCount() || count < 1) {
        return;
    }
    const int last = std::min(row + count - 1, RowCount());
    BeginLayout();
    rows_.erase(rows_.begin() + (row - 1), rows_.begin() + last);
    if (curRow_ >= row && curRow_ <= last) {
        curRow_ = 0;
    } else if (curRow_ > last) {
        curRow_ -= last - row + 1;
    }
    EndLayout();
}

void GridModel::Sort(int col) {
    if (!ColumnAt(col)) {
        return;
    }
    const auto c = static_cast<size_t>(col - 1);
    BeginLayout();
    // The current row follows its contents.
    std::vector<std::pair<Row, bool>> keyed;
    keyed.reserve(rows_.size());
    for (size_t i = 0; i < rows_.size(); ++i) {
        keyed.emplace_back(std::move(rows_[i]), static_cast<int>(i) + 1 == curRow_);
    }
    std::stable_sort(keyed.begin(), keyed.end(), [c](const auto& a, const auto& b) {
        return SortsBefore(a.first[c].value, b.first[c].value);
    });
    curRow_ = 0;
    for (size_t i = 0; i < keyed.size(); ++i) {
        rows_[i] = std::move(keyed[i].first);
        if (keyed[i].second) {
            curRow_ = static_cast<int>(i) + 1;
        }
    }
    EndLayout();
}

bool GridModel::HasCell(int row, int col) const {
    return row >= 1 && row <= RowCount() && col >= 1 && col <= ColCount();
}

const GridModel::Cell* GridModel::CellAt(int row, int col) const {
    return HasCell(row, col) ? &rows_[static_cast<size_t>(row - 1)][static_cast<size_t>(col - 1)]
                             : nullptr;
}

GridModel::Cell* GridModel::CellAt(int row, int col) {
    return HasCell(row, col) ? &rows_[static_cast<size_t>(row - 1)][static_cast<size_t>(col - 1)]
                             : nullptr;
}

GridModel::Column* GridModel::ColumnAt(int col) {
    return col >= 1 && col <= ColCount() ? &cols_[static_cast<size_t>(col - 1)] : nullptr;
}

const GridModel::Column* GridModel::ColumnAt(int col) const {
    return col >= 1 && col <= ColCount() ? &cols_[static_cast<size_t>(col - 1)] : nullptr;
}

void GridModel::BeginLayout() {
    if (observer_) {
        observer_->BeforeLayoutChange();
    }
}

void GridModel::EndLayout() {
    if (observer_) {
        observer_->AfterLayoutChange();
    }
}

void GridModel::NotifyCell(int row, int col) {
    if (observer_) {
        observer_->CellChanged(row, col);
    }
}

}  // namespace velmaris::grid

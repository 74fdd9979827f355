// The single store of a grid's rows: the source drives and the jobs live in its cells.
// Rows and columns count from 1; a cell keeps the type of the value put in it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace velmaris::grid {

using CellValue = std::variant<std::monostate, std::int64_t, std::string>;

// Told of every change so that a front end can redraw. Structural changes (rows, columns,
// order, captions, widths, visibility) come between BeforeLayoutChange and AfterLayoutChange.
class GridObserver {
  public:
    virtual ~GridObserver() = default;
    virtual void BeforeLayoutChange() = 0;
    virtual void AfterLayoutChange() = 0;
    virtual void CellChanged(int row, int col) = 0;
    virtual void CurrentRowChanged(int row) = 0;
};

class GridModel {
  public:
    // Colours in the grid's blue-green-red integer form (red in the low byte).
    static constexpr std::uint32_t kDefaultBackColor = 0xFFFFFF;
    static constexpr std::uint32_t kDefaultForeColor = 0x000000;
    static constexpr int kDefaultColWidth = 64;

    void SetObserver(GridObserver* observer) { observer_ = observer; }

    int RowCount() const { return static_cast<int>(rows_.size()); }
    void SetRowCount(int count);
    int ColCount() const { return static_cast<int>(cols_.size()); }
    void SetColCount(int count);

    const std::string& ColHeaderText(int col) const;
    void SetColHeaderText(int col, const std::string& text);
    int ColWidth(int col) const;
    void SetColWidth(int col, int pixels);
    bool ColVisible(int col) const;
    void SetColVisible(int col, bool visible);

    const grid::CellValue& CellValue(int row, int col) const;
    void SetCellValue(int row, int col, grid::CellValue value);
    // The text the cell shows.
    std::string CellText(int row, int col) const;

    std::uint32_t CellBackColor(int row, int col) const;
    void SetCellBackColor(int row, int col, std::uint32_t color);
    std::uint32_t CellForeColor(int row, int col) const;
    void SetCellForeColor(int row, int col, std::uint32_t color);
    // Whether the cell has colours of its own rather than the grid's defaults.
    bool HasOwnColors(int row, int col) const;

    int CurRow() const { return curRow_; }
    void SetCurRow(int row);

    void AddRow();
    void RemoveRow(int row, int count = 1);
    // Ascending and stable: numbers by value, before texts; empty cells first.
    void Sort(int col);

    bool Editable() const { return editable_; }
    void SetEditable(bool editable) { editable_ = editable; }

  private:
    struct Cell {
        grid::CellValue value;
        std::optional<std::uint32_t> back;
        std::optional<std::uint32_t> fore;
    };
    struct Column {
        std::string header;
        std::optional<int> width;
        bool visible = true;
    };
    using Row = std::vector<Cell>;

    bool HasCell(int row, int col) const;
    const Cell* CellAt(int row, int col) const;
    Cell* CellAt(int row, int col);
    Column* ColumnAt(int col);
    const Column* ColumnAt(int col) const;
    void BeginLayout();
    void EndLayout();
    void NotifyCell(int row, int col);

    std::vector<Column> cols_;
    std::vector<Row> rows_;
    int curRow_ = 0;
    bool editable_ = false;
    GridObserver* observer_ = nullptr;
};

}  // namespace velmaris::grid

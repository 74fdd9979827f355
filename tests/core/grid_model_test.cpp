#include "grid/grid_model.h"

#include <gtest/gtest.h>

namespace velmaris::grid {
namespace {

GridModel GridWithIds(std::initializer_list<std::int64_t> ids) {
    GridModel grid;
    grid.SetColCount(2);
    for (const std::int64_t id : ids) {
        grid.AddRow();
        grid.SetCellValue(grid.RowCount(), 1, id);
        grid.SetCellValue(grid.RowCount(), 2, "row " + std::to_string(grid.RowCount()));
    }
    return grid;
}

TEST(GridModel, ValuesKeepTheirTypeAndNothingIsWrittenOutsideTheGrid) {
    GridModel grid = GridWithIds({7});
    grid.SetCellValue(1, 2, std::string("500107862016"));
    EXPECT_EQ(std::get<std::int64_t>(grid.CellValue(1, 1)), 7);
    EXPECT_EQ(std::get<std::string>(grid.CellValue(1, 2)), "500107862016");
    EXPECT_EQ(grid.CellText(1, 1), "7");
    EXPECT_FALSE(grid.HasOwnColors(1, 1));
    EXPECT_EQ(grid.CellBackColor(1, 2), GridModel::kDefaultBackColor);
    // Outside the grid nothing is written and reads are empty.
    grid.SetCellValue(2, 1, std::int64_t{1});
    grid.SetCellValue(1, 3, std::int64_t{1});
    EXPECT_EQ(grid.RowCount(), 1);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(grid.CellValue(0, 1)));
}

TEST(GridModel, SortComparesNumbersByValueAndKeepsRowsWhole) {
    GridModel grid = GridWithIds({10, 2, 1, 2});
    grid.SetCellBackColor(1, 2, 192);  // on drive 10's row
    grid.SetCurRow(2);                 // the first drive 2
    grid.Sort(1);
    EXPECT_EQ(grid.CellText(1, 1), "1");
    EXPECT_EQ(grid.CellText(2, 2), "row 2");  // stable: the first 2 stays first
    EXPECT_EQ(grid.CellText(3, 2), "row 4");
    EXPECT_EQ(grid.CellText(4, 1), "10");
    EXPECT_EQ(grid.CellBackColor(4, 2), 192u);
    EXPECT_EQ(grid.CurRow(), 2);
}

TEST(GridModel, RemovingRowsMovesLaterRowsUpAndTheCurrentRowWithThem) {
    GridModel grid = GridWithIds({1, 2, 3, 4});
    grid.SetCurRow(4);
    grid.RemoveRow(2, 2);
    ASSERT_EQ(grid.RowCount(), 2);
    EXPECT_EQ(grid.CellText(2, 1), "4");
    EXPECT_EQ(grid.CurRow(), 2);
    grid.RemoveRow(2);
    EXPECT_EQ(grid.CurRow(), 0);
    grid.SetRowCount(0);
    EXPECT_EQ(grid.RowCount(), 0);
    // Columns added later exist in rows added earlier.
    grid.AddRow();
    grid.SetColCount(5);
    grid.SetCellValue(1, 5, "x");
    EXPECT_EQ(grid.CellText(1, 5), "x");
}

}  // namespace
}  // namespace velmaris::grid

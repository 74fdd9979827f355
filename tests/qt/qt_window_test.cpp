// The real Qt window driven by the real frmMain over fake machine services.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>

#include <cstdlib>

#include "fake_services.h"
#include "platform/qt/qt_window.h"
#include "ui/frm_main.h"

namespace velmaris::platform {
namespace {

template <typename W>
W* Find(QtWindow& window, const char* name) {
    W* widget = window.findChild<W*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

QString Cell(QTableView* view, int row, int col, int role = Qt::DisplayRole) {
    return view->model()->index(row, col).data(role).toString();
}

TEST(QtWindowTest, StartUpShowsAReadyWindowWithTheDrivesListed) {
    fakes::FakeMachine machine;
    machine.catalog.AddDisk(3, "Backup Disk", "500107862016");
    machine.catalog.AddDisk(0, "System Disk", "256060514304", {"C:"});
    machine.catalog.AddDisk(1, "Data Disk", "1000204886016", {"D:"});
    QtWindow window;
    ui::frmMain frm(window, machine.services);
    frm.Form_Load();

    EXPECT_EQ(window.windowTitle(), "Quorvel - Velmaris");
    // Every icon has a drawn image at each size, read from the program's resources.
    const QIcon icons[] = {window.windowIcon(), Find<QPushButton>(window, "Command1")->icon(),
                           Find<QPushButton>(window, "Command2")->icon(),
                           Find<QPushButton>(window, "XPButton1")->icon()};
    for (const QIcon& icon : icons) {
        for (const int size : {16, 24, 32, 48}) {
            EXPECT_EQ(icon.pixmap(size).size(), QSize(size, size));
        }
    }
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(QApplication::overrideCursor()) << "busy pointer left on";
    EXPECT_EQ(Find<QLabel>(window, "StatusBar1Panel1")->text(), "Ready");
    EXPECT_FALSE(Find<QPushButton>(window, "Command2")->isEnabled());
    EXPECT_TRUE(Find<QPushButton>(window, "Command1")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>(window, "XPButton1")->isEnabled());
    EXPECT_TRUE(Find<QProgressBar>(window, "ProgBarXP1")->isHidden());
    EXPECT_TRUE(Find<QPushButton>(window, "Command6")->isHidden());
    EXPECT_TRUE(Find<QWidget>(window, "AlertBox1")->isHidden());
    EXPECT_EQ(Find<QLabel>(window, "Label2")->text(), "No target selected");
    EXPECT_FALSE(Find<QCheckBox>(window, "Check1")->isChecked());
    EXPECT_FALSE(Find<QMenu>(window, "mnuNew")->menuAction()->isVisible());
    EXPECT_TRUE(Find<QMenu>(window, "mnuFile")->menuAction()->isVisible());

    QTableView* grid1 = Find<QTableView>(window, "iGrid1");
    ASSERT_EQ(grid1->model()->rowCount(), 3);
    EXPECT_EQ(Cell(grid1, 0, 0), "0");
    EXPECT_EQ(Cell(grid1, 1, 0), "1");
    EXPECT_EQ(Cell(grid1, 2, 0), "3");
    EXPECT_EQ(grid1->model()->headerData(1, Qt::Horizontal).toString(), "Model");
    EXPECT_EQ(grid1->columnWidth(1), frm.Grid1().ColWidth(2));
    EXPECT_FALSE(grid1->isColumnHidden(2));
    EXPECT_TRUE(grid1->isColumnHidden(3));
    EXPECT_TRUE(grid1->isColumnHidden(4));
    EXPECT_EQ(grid1->editTriggers(), QAbstractItemView::NoEditTriggers);
    // The system drive is marked dark red with white text; the others keep the view's colours.
    const QColor darkRed(192, 0, 0);
    EXPECT_EQ(grid1->model()->index(0, 1).data(Qt::BackgroundRole).value<QColor>(), darkRed);
    EXPECT_EQ(grid1->model()->index(0, 1).data(Qt::ForegroundRole).value<QColor>(),
              QColor(Qt::white));
    EXPECT_FALSE(grid1->model()->index(1, 1).data(Qt::BackgroundRole).isValid());

    QTableView* grid2 = Find<QTableView>(window, "iGrid2");
    EXPECT_EQ(grid2->model()->rowCount(), 0);
    EXPECT_EQ(grid2->model()->columnCount(), 7);
    EXPECT_TRUE(grid2->isColumnHidden(3));
    EXPECT_FALSE(grid2->isColumnHidden(5));
}

struct NoEvents : WindowEvents {
    void Form_Load() override {}
};

TEST(QtWindowTest, GridViewFollowsItsModelAndReportsTheCurrentRow) {
    QtWindow window;
    NoEvents events;
    ui::GridModel grid1;
    ui::GridModel grid2;
    window.Bind(events, grid1, grid2);
    QTableView* view = Find<QTableView>(window, "iGrid1");

    grid1.SetColCount(3);
    grid1.SetRowCount(3);
    grid1.SetColWidth(2, 123);
    grid1.SetColVisible(3, false);
    grid1.SetCellValue(2, 1, std::int64_t{42});
    EXPECT_EQ(view->columnWidth(1), 123);
    EXPECT_TRUE(view->isColumnHidden(2));
    EXPECT_EQ(Cell(view, 1, 0), "42");

    // A cell's change reaches the view as that cell's change.
    QModelIndex changed;
    QObject::connect(view->model(), &QAbstractItemModel::dataChanged,
                     [&changed](const QModelIndex& from) { changed = from; });
    grid1.SetCellBackColor(3, 2, 0x804020);  // blue 0x80, green 0x40, red 0x20
    EXPECT_EQ(changed, view->model()->index(2, 1));
    EXPECT_EQ(view->model()->index(2, 1).data(Qt::BackgroundRole).value<QColor>(),
              QColor(0x20, 0x40, 0x80));
    EXPECT_EQ(view->model()->index(2, 1).data(Qt::ForegroundRole).value<QColor>(),
              QColor(Qt::black));

    // The model's current row is selected, and a row the user moves to becomes current.
    grid1.SetCurRow(2);
    EXPECT_EQ(view->selectionModel()->currentIndex().row(), 1);
    EXPECT_TRUE(view->selectionModel()->isRowSelected(1, {}));
    view->selectionModel()->setCurrentIndex(
        view->model()->index(2, 0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    EXPECT_EQ(grid1.CurRow(), 3);

    // A layout change keeps widths and hidden columns, and the selection moves with the
    // current row, which follows its contents (empty cells sort first).
    grid1.Sort(1);
    ASSERT_EQ(grid1.CurRow(), 2);
    EXPECT_EQ(view->columnWidth(1), 123);
    EXPECT_TRUE(view->isColumnHidden(2));
    EXPECT_EQ(view->selectionModel()->currentIndex().row(), 1);
    EXPECT_TRUE(view->selectionModel()->isRowSelected(1, {}));
    grid1.SetRowCount(0);
    EXPECT_FALSE(view->selectionModel()->hasSelection());
    EXPECT_EQ(grid1.CurRow(), 0);
}

}  // namespace
}  // namespace velmaris::platform

int main(int argc, char* argv[]) {
    // Discovery runs this program too, without the test's environment.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

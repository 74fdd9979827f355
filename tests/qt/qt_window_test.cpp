// The real Qt window driven by the real frmMain over fake machine services.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFileDialog>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "fake_services.h"
#include "platform/qt/qt_window.h"
#include "spy_events.h"
#include "ui/frm_main.h"

// Failures show the text, not its UTF-16 code units.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace velmaris::platform {
namespace {

using fakes::SpyEvents;

template <typename W>
W* Find(QObject& parent, const char* name) {
    W* widget = parent.findChild<W*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

QString Cell(QTableView* view, int row, int col) {
    return view->model()->index(row, col).data().toString();
}

// Runs act on the next modal dialog or pop-up menu of type W, from within its own loop.
template <typename W>
void OnNext(std::function<void(W&)> act, int tries = 400) {
    QTimer::singleShot(5, [act = std::move(act), tries]() mutable {
        QWidget* shown = QApplication::activePopupWidget();
        if (shown == nullptr) {
            shown = QApplication::activeModalWidget();
        }
        if (auto* widget = qobject_cast<W*>(shown)) {
            act(*widget);
        } else if (tries > 0) {
            OnNext<W>(std::move(act), tries - 1);
        } else {
            ADD_FAILURE() << "no " << W::staticMetaObject.className() << " was shown";
        }
    });
}

QPoint CellCentre(QTableView* view, int row, int col) {
    return view->visualRect(view->model()->index(row, col)).center();
}

TEST(QtWindowTest, GridViewFollowsItsModelAndReportsTheCurrentRow) {
    QtWindow window;
    SpyEvents events;
    grid::GridModel& grid1 = events.grid1;
    window.Bind(events, grid1, events.grid2);
    QTableView* view = Find<QTableView>(window, "iGrid1");

    grid1.SetColCount(3);
    grid1.SetRowCount(3);
    grid1.SetColWidth(2, 123);
    grid1.SetColVisible(3, false);
    grid1.SetColHeaderText(2, "Model");
    grid1.SetCellValue(2, 1, std::int64_t{42});
    EXPECT_EQ(view->columnWidth(1), 123);
    EXPECT_TRUE(view->isColumnHidden(2));
    EXPECT_EQ(view->model()->headerData(1, Qt::Horizontal).toString(), "Model");
    EXPECT_EQ(Cell(view, 1, 0), "42");

    // A cell's change reaches the view as that cell's change.
    QModelIndex changed;
    QObject::connect(view->model(), &QAbstractItemModel::dataChanged,
                     [&changed](const QModelIndex& from) { changed = from; });
    grid1.SetCellBackColor(3, 2, 0x804020);  // blue 0x80, green 0x40, red 0x20
    grid1.SetCellForeColor(3, 2, 0x102030);
    EXPECT_EQ(changed, view->model()->index(2, 1));
    EXPECT_EQ(view->model()->index(2, 1).data(Qt::BackgroundRole).value<QColor>(),
              QColor(0x20, 0x40, 0x80));
    EXPECT_EQ(view->model()->index(2, 1).data(Qt::ForegroundRole).value<QColor>(),
              QColor(0x30, 0x20, 0x10));
    // A cell without colours of its own keeps the view's.
    EXPECT_FALSE(view->model()->index(1, 1).data(Qt::BackgroundRole).isValid());

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

TEST(QtWindowTest, ClicksAndGridMouseEventsReachTheirHandlersWithTheirRows) {
    QtWindow window;
    SpyEvents events;
    window.Bind(events, events.grid1, events.grid2);
    for (grid::GridModel* grid : {&events.grid1, &events.grid2}) {
        grid->SetColCount(2);
        grid->SetRowCount(2);
    }
    window.show();
    QTableView* sources = Find<QTableView>(window, "iGrid1");
    QTableView* jobs = Find<QTableView>(window, "iGrid2");
    const QPoint below(CellCentre(jobs, 1, 1).x(), jobs->viewport()->height() - 2);

    // The right button leaves the current row to frmMain; the left one moves it first.
    QTest::mousePress(jobs->viewport(), Qt::RightButton, {}, CellCentre(jobs, 1, 1));
    QTest::mouseRelease(jobs->viewport(), Qt::RightButton, {}, CellCentre(jobs, 1, 1));
    QTest::mousePress(jobs->viewport(), Qt::RightButton, {}, below);
    QTest::mouseRelease(jobs->viewport(), Qt::RightButton, {}, below);
    QTest::mouseClick(jobs->viewport(), Qt::LeftButton, {}, CellCentre(jobs, 1, 0));
    // A double-click makes its row current before it is reported.
    QTest::mouseDClick(sources->viewport(), Qt::LeftButton, {}, CellCentre(sources, 0, 1));
    QTest::mouseRelease(sources->viewport(), Qt::LeftButton, {}, CellCentre(sources, 0, 1));
    QTest::mouseDClick(sources->viewport(), Qt::LeftButton, {}, below);
    QTest::mouseRelease(sources->viewport(), Qt::LeftButton, {}, below);
    // The other buttons, menu items and the timer: through frmMain in FrmMainInQt and RunInQt.
    for (const char* button : {"Command3", "Command6"}) {
        Find<QPushButton>(window, button)->click();
    }
    for (const char* menu : {"mnuExit", "mnuSetTarget"}) {
        Find<QAction>(window, menu)->trigger();
    }
    // frmMain clears the check box when a run is stopped.
    QCheckBox* check1 = Find<QCheckBox>(window, "Check1");
    check1->setChecked(true);
    window.SetChecked(Control::Check1, false);
    EXPECT_FALSE(check1->isChecked());

    EXPECT_EQ(events.heard,
              (std::vector<std::string>{"Mouse2 2 2 cur 0", "Mouse2 2 0 cur 0", "Mouse2 1 2 cur 2",
                                        "DblClick1 1 2 cur 1", "DblClick1 0 2 cur 1", "Command3",
                                        "Command6", "mnuExit", "mnuSetTarget"}));
}

TEST(QtWindowTest, CellsAreEditedOnlyThroughStartEditAndEachEditEndsOnce) {
    QtWindow window;
    SpyEvents events;
    window.Bind(events, events.grid1, events.grid2);
    grid::GridModel& grid = events.grid2;
    grid.SetColCount(2);
    grid.SetRowCount(1);
    grid.SetCellValue(1, 2, std::string("old"));
    window.show();
    QTableView* view = Find<QTableView>(window, "iGrid2");
    const QModelIndex cell = view->model()->index(0, 1);

    // Neither a locked grid nor the user's double-click or F2 opens an editor.
    window.StartEdit(Grid::iGrid2, 1, 2);
    EXPECT_EQ(view->indexWidget(cell), nullptr);
    grid.SetEditable(true);
    view->setFocus();
    QTest::keyClick(view, Qt::Key_F2);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, CellCentre(view, 0, 1));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, CellCentre(view, 0, 1));
    EXPECT_EQ(view->indexWidget(cell), nullptr);

    // An edit ends once, committed or cancelled.
    for (const Qt::Key ending : {Qt::Key_Return, Qt::Key_Escape}) {
        window.StartEdit(Grid::iGrid2, 1, 2);
        QWidget* editor = view->indexWidget(cell);
        ASSERT_NE(editor, nullptr);
        QTest::keyClick(editor, ending);
        QCoreApplication::processEvents();  // Enter commits from the event loop
    }
    EXPECT_EQ(std::count(events.heard.begin(), events.heard.end(), "EditEnded"), 2);
}

TEST(QtWindowDeathTest, EndProgramEndsAtOnceWithoutUnloading) {
    QtWindow window;
    EXPECT_EXIT(
        {
            std::atexit([] { std::_Exit(3); });  // runs only on an orderly exit
            window.EndProgram();
        },
        ::testing::ExitedWithCode(0), "");
}

// The real frmMain over fake machine services, with a real folder as its target.
class FrmMainInQt : public ::testing::Test {
  protected:
    FrmMainInQt() {
        machine.files.separator = '/';
        machine.files.keepsDoubledSeparator = false;
    }

    void SetUp() override {
        AddDisks();
        frm.Form_Load();
    }

    virtual void AddDisks() {
        machine.catalog.AddDisk(0, "System Disk", "256060514304", {"C:"});
        machine.catalog.AddDisk(1, "Data Disk", "1000204886016", {"D:"});
    }

    QTableView* View(const char* name) { return Find<QTableView>(window, name); }

    // Through Command1 and the real folder dialog.
    void ChooseTarget() {
        OnNext<QFileDialog>([this](QFileDialog& dialog) {
            dialog.setDirectory(dir.path());
            static_cast<QDialog&>(dialog).accept();  // the file dialog's own check runs
        });
        QTest::mouseClick(Find<QPushButton>(window, "Command1"), Qt::LeftButton);
    }

    void DoubleClick(QTableView* view, int row) {
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, CellCentre(view, row, 1));
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, CellCentre(view, row, 1));
    }

    fakes::FakeMachine machine;
    QtWindow window;
    ui::frmMain frm{window, machine.services};
    QTemporaryDir dir;
};

// What the window itself draws and starts with; the rows and texts are frmMain's own tests'.
TEST_F(FrmMainInQt, StartUpShowsAReadyWindowWithItsIcons) {
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
    EXPECT_TRUE(Find<QWidget>(window, "AlertBox1")->isHidden());
    EXPECT_FALSE(Find<QMenu>(window, "mnuNew")->menuAction()->isVisible());
    // frmMain leaves these to the window at start.
    EXPECT_FALSE(Find<QPushButton>(window, "XPButton1")->isEnabled());
    EXPECT_TRUE(Find<QProgressBar>(window, "ProgBarXP1")->isHidden());
    EXPECT_TRUE(Find<QPushButton>(window, "Command6")->isHidden());
}

TEST_F(FrmMainInQt, RightClickOnAJobOffersItsMenuAndRenamesItsImageInPlace) {
    ChooseTarget();
    DoubleClick(View("iGrid1"), 1);
    QTableView* jobs = View("iGrid2");
    ASSERT_EQ(jobs->model()->rowCount(), 1);
    const QModelIndex path = jobs->model()->index(0, 5);

    // Right click on the job, choose "Change File Name", type, and end the edit.
    const auto rename = [&](const std::string& typed, Qt::Key ending) {
        QString firstItem;
        OnNext<QMenu>([&firstItem](QMenu& menu) {
            firstItem = menu.actions().value(0)->text();
            menu.setActiveAction(menu.actions().value(1));
            QTest::keyClick(&menu, Qt::Key_Return);
        });
        QTest::mousePress(jobs->viewport(), Qt::RightButton, {}, CellCentre(jobs, 0, 1));
        QTest::mouseRelease(jobs->viewport(), Qt::RightButton, {}, CellCentre(jobs, 0, 1));
        EXPECT_EQ(firstItem, "Set target folder for : " + Cell(jobs, 0, 1));
        EXPECT_FALSE(Find<QMenu>(window, "mnuNew")->menuAction()->isVisible());
        auto* editor = qobject_cast<QLineEdit*>(jobs->indexWidget(path));
        ASSERT_NE(editor, nullptr);
        EXPECT_TRUE(frm.Grid2().Editable());
        editor->setText(QString::fromStdString(typed));
        QTest::keyClick(editor, ending);
        QCoreApplication::processEvents();
        EXPECT_EQ(jobs->indexWidget(path), nullptr);
        EXPECT_FALSE(frm.Grid2().Editable());
    };
    const std::string renamed = dir.path().toStdString() + "/\u00e9t\u00e9 2024.img";
    rename(renamed, Qt::Key_Return);
    EXPECT_EQ(frm.Grid2().CellValue(1, 6), grid::CellValue(renamed));
    rename("discarded", Qt::Key_Escape);
    EXPECT_EQ(frm.Grid2().CellValue(1, 6), grid::CellValue(renamed));
}

TEST_F(FrmMainInQt, AboutBoxShowsTheVersionAndGoesAwayOnOk) {
    QPointer<QDialog> about;
    OnNext<QDialog>([&](QDialog& dialog) {
        about = &dialog;
        EXPECT_EQ(dialog.objectName(), "frmABout");
        EXPECT_EQ(dialog.windowTitle(), "About");
        EXPECT_EQ(Find<QGroupBox>(dialog, "Frame1")->title(), "About Velmaris");
        EXPECT_EQ(Find<QLabel>(dialog, "Label2")->text(), QString("Version : %1.%2.%3")
                                                              .arg(VELMARIS_VERSION_MAJOR)
                                                              .arg(VELMARIS_VERSION_MINOR)
                                                              .arg(VELMARIS_VERSION_PATCH));
        EXPECT_EQ(Find<QLabel>(dialog, "Image1")->pixmap().size(), QSize(400, 86));
        EXPECT_EQ(dialog.windowIcon().pixmap(32).toImage(),
                  window.windowIcon().pixmap(32).toImage());
        Find<QPushButton>(dialog, "Command1")->click();
    });
    Find<QAction>(window, "mnuAbout")->trigger();
    EXPECT_TRUE(about.isNull()) << "made anew for each showing";
    EXPECT_TRUE(window.isVisible());
}

// A close refused and allowed again: RunInQt, during and after its run.
TEST_F(FrmMainInQt, DisabledCloseHidesTheCloseButtonAndKeepsTheWindowWhereItWas) {
    const QPoint where = window.pos();
    window.DisableClose(true);
    EXPECT_EQ(window.pos(), where);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowCloseButtonHint);
    window.DisableClose(false);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowCloseButtonHint);
}

TEST_F(FrmMainInQt, ToolTipsShowTheirToolsTextInTheirColours) {
    ui::clsToolTip& tip = *frm.ToolTip();
    EXPECT_EQ(tip.MaxTipWidth(), 240);
    // A tool without text shows nothing, not even the widget's own tooltip.
    ASSERT_TRUE(tip.AddTool(Control::Label12));
    EXPECT_EQ(tip.ToolCount(), 3);
    const auto hover = [](QWidget* widget) {
        QHelpEvent event(QEvent::ToolTip, QPoint(5, 5), widget->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(widget, &event);
    };
    QToolTip::hideText();
    hover(Find<QLabel>(window, "Label12"));
    EXPECT_FALSE(QToolTip::isVisible()) << QToolTip::text().toStdString();

    tip.SetToolText(Control::iGrid1, "Double click a drive to add it");
    tip.SetBackColor(0x0000FF);  // red in the low byte
    tip.SetForeColor(0xFFFFFF);
    hover(View("iGrid1")->viewport());
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), "Double click a drive to add it");
    EXPECT_EQ(QToolTip::palette().color(QPalette::ToolTipBase), QColor(Qt::red));
    EXPECT_EQ(QToolTip::palette().color(QPalette::ToolTipText), QColor(Qt::white));
    QToolTip::hideText();
}

// Whole runs started with the real Run button, over in-memory drives, timed by the real Timer1.
class RunInQt : public FrmMainInQt {
  protected:
    static constexpr std::uint64_t kBlock = 131072;

    void AddDisks() override {
        machine.catalog.AddDisk(9, "System Disk", "256060514304", {"C:"});
        for (const auto& [n, size] : {std::pair{1u, kBlock * 40 + 512 * 3}, {2u, kBlock * 25}}) {
            machine.catalog.AddDisk(n, "Data Disk", std::to_string(size));
            machine.storage.AddDrive(n, size);
        }
        machine.files.folders.insert(dir.path().toStdString());
    }

    void SetUp() override {
        FrmMainInQt::SetUp();
        // The checks below run in the pump after a pass, not in one while a pass waits.
        frm.PumpWhileWaiting = std::chrono::hours(1);
        ChooseTarget();
        DoubleClick(View("iGrid1"), 0);
        DoubleClick(View("iGrid1"), 0);
        ASSERT_EQ(View("iGrid2")->model()->rowCount(), 2);
        Find<QCheckBox>(window, "Check1")->click();  // turn off the computer at the end
    }

    QPushButton* Button(const char* name) { return Find<QPushButton>(window, name); }
    QString Text(const char* name) { return Find<QLabel>(window, name)->text(); }
    const fakes::FakeDrive& DriveOf(int row) {
        return machine.storage.drives.at(Cell(View("iGrid2"), row, 0).toUInt());
    }
    const fakes::FakeImage& ImageOf(int row) {
        return machine.storage.files.at(Cell(View("iGrid2"), row, 5).toStdString());
    }
};

TEST_F(RunInQt, RunImagesEveryDriveWhileTheWindowIsLockedTimedAndAsks) {
    machine.clock.step = 2000;  // each reading 2 s after the one before
    // The first image is there already: a Yes overwrites it.
    const std::string existing = Cell(View("iGrid2"), 0, 5).toStdString();
    machine.storage.files[existing] = {};
    std::vector<QString> asked;
    const auto answerNext = [&asked](QMessageBox::StandardButton answer) {
        OnNext<QMessageBox>([&asked, answer](QMessageBox& box) {
            asked.push_back(box.text());
            box.button(answer)->click();
        });
    };
    QTimer* timer1 = Find<QTimer>(window, "Timer1");
    QProgressBar* bar = Find<QProgressBar>(window, "ProgBarXP1");
    bool lookedMidRun = false;
    // In the pump after the first pass: the window is locked and timed, and a Stop declined.
    QObject::connect(bar, &QProgressBar::valueChanged, bar, [&](int pass) {
        if (pass != 1) {
            return;
        }
        QTimer::singleShot(0, bar, [&] {
            lookedMidRun = true;
            EXPECT_FALSE(Button("Command2")->isEnabled());
            EXPECT_FALSE(Button("Command1")->isEnabled());
            EXPECT_TRUE(Button("XPButton1")->isEnabled());
            EXPECT_FALSE(Find<QGroupBox>(window, "Frame1")->isEnabled());
            EXPECT_TRUE(bar->isVisible());
            EXPECT_FALSE(window.close());
            EXPECT_TRUE(window.isVisible());
            // One tick, one reading: a block done in 2 s, and 40 of the largest drive's left.
            EXPECT_TRUE(QTest::qWaitFor([this] { return Text("Label12") != "0:00:00"; }, 5000));
            EXPECT_EQ(Text("Label12"), "0:00:02");
            EXPECT_EQ(Text("Label7"), "0:01:20");
            answerNext(QMessageBox::No);
            QTest::mouseClick(Button("XPButton1"), Qt::LeftButton);
        });
    });
    answerNext(QMessageBox::Yes);
    QTest::mouseClick(Button("Command2"), Qt::LeftButton);

    EXPECT_TRUE(lookedMidRun);
    EXPECT_EQ(asked, (std::vector<QString>{
                         QString::fromStdString("The file " + existing +
                                                " already exists and will be overwritten. Are you "
                                                "sure you want to do this?"),
                         "Stop the imaging process, are you sure"}));
    EXPECT_EQ(Text("StatusBar1Panel1"), "Process Complete");
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(Cell(View("iGrid2"), row, 6), "Done.");
        EXPECT_TRUE(ImageOf(row).finished);
        EXPECT_TRUE(ImageOf(row).data == DriveOf(row).data) << "row " << row;
    }
    // 40 whole blocks of the largest drive and the empty read that ends them.
    EXPECT_EQ(Text("Label5"), "5,373,952");
    EXPECT_TRUE(bar->isHidden());
    EXPECT_TRUE(Button("Command2")->isEnabled());
    EXPECT_TRUE(Button("Command1")->isEnabled());
    EXPECT_FALSE(Button("XPButton1")->isEnabled());
    EXPECT_FALSE(timer1->isActive());
    EXPECT_EQ(machine.power.calls, std::vector<std::string>{"shutdown"});
    EXPECT_TRUE(Button("Command6")->isVisible());
    EXPECT_TRUE(window.close());
}

}  // namespace
}  // namespace velmaris::platform

int main(int argc, char* argv[]) {
    // Discovery runs this program too, without the test's environment.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);  // tests close windows with no loop to end
    return RUN_ALL_TESTS();
}

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
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
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
#include "ui/frm_main.h"

// Failures show the text, not its UTF-16 code units.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace velmaris::platform {
namespace {

template <typename W>
W* Find(QObject& parent, const char* name) {
    W* widget = parent.findChild<W*>(name);
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

// Records each event with the grid's current row at that moment.
struct SpyEvents : WindowEvents {
    ui::GridModel grid1;
    ui::GridModel grid2;
    std::vector<std::string> heard;

    void Hear(const std::string& what, const ui::GridModel& grid, int a, int b) {
        heard.push_back(what + " " + std::to_string(a) + " " + std::to_string(b) + " cur " +
                        std::to_string(grid.CurRow()));
    }
    void Form_Load() override { heard.push_back("Form_Load"); }
    void iGrid1_DblClick(int row, int col) override { Hear("DblClick1", grid1, row, col); }
    void iGrid2_DblClick(int row, int col) override { Hear("DblClick2", grid2, row, col); }
    void iGrid1_MouseButton(int button, int row) override { Hear("Mouse1", grid1, button, row); }
    void iGrid2_MouseButton(int button, int row) override { Hear("Mouse2", grid2, button, row); }
    void iGrid2_EditEnded() override { heard.push_back("EditEnded"); }
    void Command1_Click() override { heard.push_back("Command1"); }
    void mnuExit_Click() override { heard.push_back("mnuExit"); }
    void mnuAbout_Click() override { heard.push_back("mnuAbout"); }
    void mnuSetTarget_Click() override { heard.push_back("mnuSetTarget"); }
    void mnuCFN_Click() override { heard.push_back("mnuCFN"); }
    void Command2_Click() override { heard.push_back("Command2"); }
    void XPButton1_Click() override { heard.push_back("XPButton1"); }
    void Command3_Click() override { heard.push_back("Command3"); }
    void Command6_Click() override { heard.push_back("Command6"); }
    void Timer1_Timer() override { heard.push_back("Timer1"); }
};

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
    ui::GridModel& grid1 = events.grid1;
    window.Bind(events, grid1, events.grid2);
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

TEST(QtWindowTest, ClicksAndGridMouseEventsReachTheirHandlersWithTheirRows) {
    QtWindow window;
    SpyEvents events;
    window.Bind(events, events.grid1, events.grid2);
    for (ui::GridModel* grid : {&events.grid1, &events.grid2}) {
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
    window.SetEnabled(Control::Command2, true);
    window.SetEnabled(Control::XPButton1, true);
    for (const char* button : {"Command1", "Command2", "XPButton1", "Command3", "Command6"}) {
        Find<QPushButton>(window, button)->click();
    }
    for (const char* menu : {"mnuExit", "mnuAbout", "mnuSetTarget", "mnuCFN"}) {
        Find<QAction>(window, menu)->trigger();
    }
    window.SetEnabled(Control::Timer1, true);
    QTest::qWait(1300);
    window.SetEnabled(Control::Timer1, false);

    EXPECT_EQ(events.heard,
              (std::vector<std::string>{"Mouse2 2 2 cur 0", "Mouse2 2 0 cur 0", "Mouse2 1 2 cur 2",
                                        "DblClick1 1 2 cur 1", "DblClick1 0 2 cur 1", "Command1",
                                        "Command2", "XPButton1", "Command3", "Command6", "mnuExit",
                                        "mnuAbout", "mnuSetTarget", "mnuCFN", "Timer1"}));
}

TEST(QtWindowTest, CellsAreEditedOnlyThroughStartEditAndEachEditEndsOnce) {
    QtWindow window;
    SpyEvents events;
    window.Bind(events, events.grid1, events.grid2);
    ui::GridModel& grid = events.grid2;
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
    EXPECT_EQ(frm.Grid2().CellValue(1, 6), ui::CellValue(renamed));
    rename("discarded", Qt::Key_Escape);
    EXPECT_EQ(frm.Grid2().CellValue(1, 6), ui::CellValue(renamed));
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

TEST_F(FrmMainInQt, DisabledCloseKeepsTheWindowOpenWhereItWas) {
    const QPoint where = window.pos();
    window.DisableClose(true);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.pos(), where);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());

    window.DisableClose(false);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(window.close());
    EXPECT_FALSE(window.isVisible());
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

TEST_F(RunInQt, RunImagesEveryDriveWhileTheWindowIsLockedAndTimed) {
    machine.clock.step = 2000;  // each reading 2 s after the one before
    QTimer* timer1 = Find<QTimer>(window, "Timer1");
    int ticks = 0;
    QObject::connect(timer1, &QTimer::timeout, timer1, [&ticks] { ++ticks; });
    bool lookedMidRun = false;
    // Posted before the click: it runs in the pump after the first pass.
    QTimer::singleShot(0, &window, [&] {
        lookedMidRun = true;
        EXPECT_FALSE(Button("Command2")->isEnabled());
        EXPECT_FALSE(Button("Command1")->isEnabled());
        EXPECT_TRUE(Button("XPButton1")->isEnabled());
        EXPECT_FALSE(Find<QGroupBox>(window, "Frame1")->isEnabled());
        EXPECT_TRUE(Find<QProgressBar>(window, "ProgBarXP1")->isVisible());
        EXPECT_FALSE(window.close());
        EXPECT_TRUE(window.isVisible());
        // One tick, one reading: a block done in 2 s, and 40 of the largest drive's left.
        EXPECT_TRUE(QTest::qWaitFor([&ticks] { return ticks > 0; }, 5000));
        EXPECT_EQ(Text("Label12"), "0:00:02");
        EXPECT_EQ(Text("Label7"), "0:01:20");
    });
    QTest::mouseClick(Button("Command2"), Qt::LeftButton);

    EXPECT_TRUE(lookedMidRun);
    EXPECT_EQ(Text("StatusBar1Panel1"), "Process Complete");
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(Cell(View("iGrid2"), row, 6), "Done.");
        EXPECT_TRUE(ImageOf(row).finished);
        EXPECT_TRUE(ImageOf(row).data == DriveOf(row).data) << "row " << row;
    }
    // 40 whole blocks of the largest drive and the empty read that ends them.
    EXPECT_EQ(Text("Label5"), "5,373,952");
    const QRegularExpression clock("^\\d+:\\d\\d:\\d\\d$");
    EXPECT_TRUE(clock.match(Text("Label12")).hasMatch()) << Text("Label12").toStdString();
    EXPECT_TRUE(clock.match(Text("Label7")).hasMatch()) << Text("Label7").toStdString();
    EXPECT_TRUE(Find<QProgressBar>(window, "ProgBarXP1")->isHidden());
    EXPECT_TRUE(Button("Command2")->isEnabled());
    EXPECT_TRUE(Button("Command1")->isEnabled());
    EXPECT_FALSE(Button("XPButton1")->isEnabled());
    EXPECT_FALSE(timer1->isActive());
    EXPECT_EQ(machine.power.calls, std::vector<std::string>{"shutdown"});
    EXPECT_TRUE(Button("Command6")->isVisible());
    EXPECT_TRUE(window.close());
}

TEST_F(RunInQt, StopButtonEndsTheRunAfterItsPassOnlyWhenConfirmed) {
    std::vector<QString> asked;
    const auto askToStop = [&](QMessageBox::StandardButton answer) {
        OnNext<QMessageBox>([&asked, answer](QMessageBox& box) {
            asked.push_back(box.text());
            box.button(answer)->click();
        });
        QTest::mouseClick(Button("XPButton1"), Qt::LeftButton);
    };
    // Stop is declined in the pump after the first pass and confirmed after the second.
    QProgressBar* bar = Find<QProgressBar>(window, "ProgBarXP1");
    QObject::connect(bar, &QProgressBar::valueChanged, bar, [&](int pass) {
        if (pass == 1 || pass == 2) {
            QTimer::singleShot(0, bar, [&askToStop, pass] {
                askToStop(pass == 1 ? QMessageBox::No : QMessageBox::Yes);
            });
        }
    });
    QTest::mouseClick(Button("Command2"), Qt::LeftButton);

    EXPECT_EQ(asked, std::vector<QString>(2, "Stop the imaging process, are you sure"));
    EXPECT_EQ(Text("StatusBar1Panel1"), "Process stopped by user");
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(Cell(View("iGrid2"), row, 6), "Stopped");
        // Two whole passes were copied and the image closed.
        const fakes::FakeImage& image = ImageOf(row);
        EXPECT_TRUE(image.finished);
        ASSERT_EQ(image.data.size(), 2 * kBlock);
        EXPECT_TRUE(std::equal(image.data.begin(), image.data.end(), DriveOf(row).data.begin()));
    }
    EXPECT_FALSE(Find<QCheckBox>(window, "Check1")->isChecked());
    EXPECT_TRUE(machine.power.calls.empty());
    EXPECT_TRUE(bar->isHidden());
    EXPECT_TRUE(Button("Command2")->isEnabled());
    EXPECT_FALSE(Button("XPButton1")->isEnabled());
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

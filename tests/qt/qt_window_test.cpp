// The real Qt window: only what the window itself shows. frmMain's rules, texts and runs are
// proven once, through the fake window, in tests/core.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "fake_window.h"
#include "platform/qt/qt_window.h"
#include "spy_events.h"
#include "ui/cls_tool_tip.h"

// Failures show the text, not its UTF-16 code units.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace velmaris::platform {
namespace {

using fakes::SpyEvents;

template <typename W>
W* Find(QObject& parent, const std::string& name) {
    W* widget = parent.findChild<W*>(QString::fromStdString(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
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

void Press(QTableView* view, Qt::MouseButton button, QPoint at, bool twice = false) {
    if (twice) {
        QTest::mouseDClick(view->viewport(), button, {}, at);
    } else {
        QTest::mousePress(view->viewport(), button, {}, at);
    }
    QTest::mouseRelease(view->viewport(), button, {}, at);
}

// The caption a control shows, wherever its kind of widget keeps it.
QString CaptionOf(QWidget* widget) {
    for (const char* property : {"title", "format", "text"}) {
        if (const QVariant value = widget->property(property); value.isValid()) {
            return value.toString();
        }
    }
    auto* inner = widget->findChild<QLabel*>();  // the status bar's panel, the notice's text
    return inner != nullptr ? inner->text() : QString();
}

// What the window draws itself; then every control shows the caption, state and visibility it
// is set to, and so do the menus and the progress bar.
TEST(QtWindowTest, ControlsStartAsDesignedAndShowWhatTheyAreSet) {
    QtWindow window;
    EXPECT_EQ(window.windowTitle(), "Quorvel - Velmaris");
    EXPECT_FALSE(Find<QPushButton>(window, "XPButton1")->isEnabled());
    for (const char* hidden : {"ProgBarXP1", "Command6", "Command3", "AlertBox1"}) {
        EXPECT_TRUE(Find<QWidget>(window, hidden)->isHidden()) << hidden;
    }

    window.show();
    // Both boxes start unticked; Tab goes from Check2 to Check1.
    for (const auto& [name, caption] : {std::pair{"Check2", "Verify images after imaging"},
                                        std::pair{"Check1", "Turn off computer on completion"}}) {
        const auto* box = Find<QCheckBox>(window, name);
        EXPECT_TRUE(box->text() == caption && !box->isChecked()) << name;
    }
    EXPECT_EQ(Find<QWidget>(window, "Check2")->nextInFocusChain(), Find<QWidget>(window, "Check1"));
    for (int i = 0; i <= static_cast<int>(Control::AlertBox1); ++i) {
        const auto control = static_cast<Control>(i);
        if (control == Control::Timer1) {
            continue;
        }
        const std::string name = fakes::NameOf(control);
        auto* widget = Find<QWidget>(window, name);
        window.SetEnabled(control, false);
        window.SetVisible(control, false);
        EXPECT_FALSE(widget->isEnabled() || widget->isVisible()) << name;
        window.SetEnabled(control, true);
        window.SetVisible(control, true);
        EXPECT_TRUE(widget->isEnabled() && widget->isVisible()) << name;
        if (!qobject_cast<QTableView*>(widget)) {
            window.SetCaption(control, "<b>\u00e9t\u00e9</b> " + name);
            EXPECT_EQ(CaptionOf(widget), QString::fromStdString("<b>\u00e9t\u00e9</b> " + name));
        }
    }
    // Labels show their text as typed, never as markup.
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
    }

    window.SetMenuVisible(Menu::mnuNew, false);
    EXPECT_FALSE(Find<QMenu>(window, "mnuNew")->menuAction()->isVisible());
    // The menu shows "&" as it is, not as the mark of a shortcut.
    window.SetMenuCaption(Menu::mnuSetTarget, "Set target folder for : A & B");
    EXPECT_EQ(Find<QAction>(window, "mnuSetTarget")->iconText(), "Set target folder for : A & B");

    auto* bar = Find<QProgressBar>(window, "ProgBarXP1");
    window.SetProgressMax(4);
    window.SetProgressValue(3);
    EXPECT_EQ(std::pair(bar->maximum(), bar->value()), std::pair(4, 3));
}

TEST(QtWindowTest, GridViewFollowsItsModelAndReportsTheCurrentRow) {
    QtWindow window;
    SpyEvents events;
    grid::GridModel& grid1 = events.grid1;
    window.Bind(events, grid1, events.grid2);
    QTableView* view = Find<QTableView>(window, "iGrid1");
    const auto at = [view](int row, int col) { return view->model()->index(row, col); };

    grid1.SetColCount(3);
    grid1.SetRowCount(3);
    grid1.SetColWidth(2, 123);
    grid1.SetColVisible(3, false);
    grid1.SetColHeaderText(2, "Model");
    grid1.SetCellValue(2, 1, std::int64_t{42});
    EXPECT_EQ(view->columnWidth(1), 123);
    EXPECT_TRUE(view->isColumnHidden(2));
    EXPECT_EQ(view->model()->headerData(1, Qt::Horizontal).toString(), "Model");
    EXPECT_EQ(at(1, 0).data().toString(), "42");

    // A cell's change reaches the view as that cell's change.
    QModelIndex changed;
    QObject::connect(view->model(), &QAbstractItemModel::dataChanged,
                     [&changed](const QModelIndex& from) { changed = from; });
    grid1.SetCellBackColor(3, 2, 0x804020);  // blue 0x80, green 0x40, red 0x20
    grid1.SetCellForeColor(3, 2, 0x102030);
    EXPECT_EQ(changed, at(2, 1));
    EXPECT_EQ(at(2, 1).data(Qt::BackgroundRole).value<QColor>(), QColor(0x20, 0x40, 0x80));
    EXPECT_EQ(at(2, 1).data(Qt::ForegroundRole).value<QColor>(), QColor(0x30, 0x20, 0x10));
    // A cell without colours of its own keeps the view's.
    EXPECT_FALSE(at(1, 1).data(Qt::BackgroundRole).isValid());

    // The model's current row is selected, and a row the user moves to becomes current.
    grid1.SetCurRow(2);
    EXPECT_EQ(view->selectionModel()->currentIndex().row(), 1);
    EXPECT_TRUE(view->selectionModel()->isRowSelected(1, {}));
    view->selectionModel()->setCurrentIndex(
        at(2, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    EXPECT_EQ(grid1.CurRow(), 3);

    // A width the user drags, hidden columns and the selection stay through a sort; the
    // current row follows its contents (empty cells sort first).
    QWidget* header = view->horizontalHeader()->viewport();
    const int edge = view->horizontalHeader()->sectionViewportPosition(1) + 123 - 1;
    QTest::mousePress(header, Qt::LeftButton, {}, QPoint(edge, 5));
    QTest::mouseMove(header, QPoint(edge + 40, 5));
    QTest::mouseRelease(header, Qt::LeftButton, {}, QPoint(edge + 40, 5));
    ASSERT_EQ(view->columnWidth(1), 163);
    grid1.Sort(1);
    ASSERT_EQ(grid1.CurRow(), 2);
    EXPECT_EQ(view->columnWidth(1), 163);
    EXPECT_TRUE(view->isColumnHidden(2));
    EXPECT_EQ(view->selectionModel()->currentIndex().row(), 1);
    EXPECT_TRUE(view->selectionModel()->isRowSelected(1, {}));
    grid1.SetRowCount(0);
    EXPECT_FALSE(view->selectionModel()->hasSelection());
    EXPECT_EQ(grid1.CurRow(), 0);
}

TEST(QtWindowTest, ClicksTicksAndGridMouseEventsReachTheirHandlersWithTheirRows) {
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
    Press(jobs, Qt::RightButton, CellCentre(jobs, 1, 1));
    Press(jobs, Qt::RightButton, below);
    QTest::mouseClick(jobs->viewport(), Qt::LeftButton, {}, CellCentre(jobs, 1, 0));
    // A double-click makes its row current before it is reported.
    Press(sources, Qt::LeftButton, CellCentre(sources, 0, 1), true);
    Press(sources, Qt::LeftButton, below, true);
    std::vector<std::string> expected = {"Mouse2 2 2 cur 0", "Mouse2 2 0 cur 0", "Mouse2 1 2 cur 2",
                                         "DblClick1 1 2 cur 1", "DblClick1 0 2 cur 1"};
    for (const char* button : {"Command1", "Command2", "XPButton1", "Command3", "Command6"}) {
        auto* widget = Find<QPushButton>(window, button);
        widget->setVisible(true);
        widget->setEnabled(true);
        QTest::mouseClick(widget, Qt::LeftButton);
        expected.emplace_back(button);
    }
    for (const char* menu : {"mnuExit", "mnuAbout", "mnuSetTarget"}) {
        Find<QAction>(window, menu)->trigger();
        expected.emplace_back(menu);
    }
    // A pop-up menu's item runs its event before the menu returns.
    OnNext<QMenu>([](QMenu& menu) {
        menu.setActiveAction(menu.actions().value(1));
        QTest::keyClick(&menu, Qt::Key_Return);
    });
    window.ShowPopupMenu(Menu::mnuNew);
    expected.emplace_back("mnuCFN");
    EXPECT_EQ(events.heard, expected);
    // Timer1 ticks while enabled, and a pump runs what is queued.
    window.SetEnabled(Control::Timer1, true);
    EXPECT_TRUE(QTest::qWaitFor([&events] { return events.heard.back() == "Timer1"; }, 3000));
    window.SetEnabled(Control::Timer1, false);
    EXPECT_FALSE(Find<QTimer>(window, "Timer1")->isActive());
    expected.emplace_back("Timer1");
    bool pumped = false;
    QTimer::singleShot(0, &window, [&pumped] { pumped = true; });
    window.PumpMessages();
    EXPECT_TRUE(pumped);
    EXPECT_EQ(events.heard, expected);

    // The user's tick is read from the box; frmMain clears it when a run is stopped.
    for (const Control box : {Control::Check1, Control::Check2}) {
        QTest::mouseClick(Find<QCheckBox>(window, fakes::NameOf(box)), Qt::LeftButton);
        EXPECT_TRUE(window.IsChecked(box));
        window.SetChecked(box, false);
        EXPECT_FALSE(Find<QCheckBox>(window, fakes::NameOf(box))->isChecked());
    }
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
    Press(view, Qt::LeftButton, CellCentre(view, 0, 1), true);
    EXPECT_EQ(view->indexWidget(cell), nullptr);

    // An edit ends once, committed by Enter or cancelled by Escape.
    const std::string typed = "/srv/\u00e9t\u00e9 2024.img";
    for (const Qt::Key ending : {Qt::Key_Return, Qt::Key_Escape}) {
        window.StartEdit(Grid::iGrid2, 1, 2);
        auto* editor = qobject_cast<QLineEdit*>(view->indexWidget(cell));
        ASSERT_NE(editor, nullptr);
        editor->setText(ending == Qt::Key_Return ? QString::fromStdString(typed) : "discarded");
        QTest::keyClick(editor, ending);
        QCoreApplication::processEvents();  // Enter commits from the event loop
        EXPECT_EQ(grid.CellValue(1, 2), grid::CellValue(typed));
    }
    // CommitEdit ends an open edit at once, committing it as Enter does.
    window.StartEdit(Grid::iGrid2, 1, 2);
    qobject_cast<QLineEdit*>(view->indexWidget(cell))->setText("committed");
    window.CommitEdit(Grid::iGrid2);
    EXPECT_EQ(view->indexWidget(cell), nullptr);
    EXPECT_EQ(grid.CellText(1, 2), "committed");
    window.CommitEdit(Grid::iGrid2);
    EXPECT_EQ(std::count(events.heard.begin(), events.heard.end(), "EditEnded"), 3);
}

TEST(QtWindowTest, DisabledCloseRefusesClosingAndKeepsTheWindowWhereItWas) {
    QtWindow window;
    window.show();
    const QPoint where = window.pos();
    window.DisableClose(true);
    EXPECT_EQ(window.pos(), where);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    window.DisableClose(false);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(window.close());
}

// Style flags map to the box's buttons and icon, and the button clicked is the answer; the
// folder dialog gives the folder picked; the About box shows its line and goes away on OK.
TEST(QtWindowTest, MessageBoxFolderDialogAndAboutBox) {
    QtWindow window;
    window.show();
    using B = QMessageBox;
    const std::tuple<unsigned, int, B::Icon, B::StandardButton, Answer> cases[] = {
        {mb::kYesNo | mb::kQuestion | mb::kSystemModal, 2, B::Question, B::Yes, Answer::Yes},
        {mb::kYesNo | mb::kExclamation, 2, B::Warning, B::No, Answer::No},
        {mb::kOk | mb::kExclamation, 1, B::Warning, B::Ok, Answer::Ok},
        {mb::kOk, 1, B::NoIcon, B::Ok, Answer::Ok}};
    for (const auto& [style, buttons, icon, click, answer] : cases) {
        OnNext<QMessageBox>([&](QMessageBox& box) {
            EXPECT_EQ(box.text(), "Stop <b>\u00e9t\u00e9</b>?");
            EXPECT_EQ(box.textFormat(), Qt::PlainText);
            EXPECT_EQ(box.windowTitle(), "Stop process?");
            EXPECT_EQ(box.buttons().size(), buttons) << style;
            EXPECT_EQ(box.icon(), icon) << style;
            box.button(click)->click();
        });
        EXPECT_EQ(window.MessageBox("Stop <b>\u00e9t\u00e9</b>?", "Stop process?", style), answer);
    }

    QTemporaryDir dir;
    OnNext<QFileDialog>([&dir](QFileDialog& dialog) {
        dialog.setDirectory(dir.path());
        static_cast<QDialog&>(dialog).accept();  // the file dialog's own check runs
    });
    EXPECT_EQ(window.BrowseForFolder("Pick").folder, dir.path().toStdString());
    OnNext<QFileDialog>([](QFileDialog& dialog) { dialog.reject(); });
    EXPECT_EQ(window.BrowseForFolder("Pick").folder, std::nullopt);
    // A name that is not UTF-8 reaches Qt with U+FFFD in its place, as a native dialog would
    // return it; a name holding a real U+FFFD is a folder like any other.
    for (const auto& [name, changed] :
         {std::pair{std::string("bad\xFF"), true}, {std::string("ok\xEF\xBF\xBD"), false}}) {
        const std::string bytes = dir.path().toStdString() + "/" + name;
        ASSERT_TRUE(std::filesystem::create_directory(bytes)) << name;
        const QString shown = QFile::decodeName(QByteArray::fromStdString(bytes));
        OnNext<QFileDialog>([&shown](QFileDialog& dialog) {
            dialog.selectFile(shown);
            dialog.QDialog::accept();  // past Qt's own dialog, which refuses such a name itself
        });
        const platform::FolderChoice choice = window.BrowseForFolder("Pick");
        EXPECT_EQ(choice.folder, shown.toStdString()) << name;
        EXPECT_EQ(choice.nameChanged, changed) << name;
    }

    QPointer<QDialog> about;
    OnNext<QDialog>([&](QDialog& dialog) {
        about = &dialog;
        EXPECT_EQ(Find<QLabel>(dialog, "Label2")->text(), "Version : 1.2.3");
        Find<QPushButton>(dialog, "Command1")->click();
    });
    window.ShowAboutBox("Version : 1.2.3");
    EXPECT_TRUE(about.isNull()) << "made anew for each showing";
    EXPECT_TRUE(window.isVisible());
}

// frmMain's tips carry no text: hovering a tool shows nothing, not even the widget's own tip.
TEST(QtWindowTest, AToolWithoutTextShowsNoTip) {
    QtWindow window;
    window.show();
    ui::clsToolTip tip(window);
    // As frmMain sets it up.
    ASSERT_TRUE(tip.Create() && tip.AddTool(Control::iGrid1) && tip.AddTool(Control::iGrid2));
    tip.SetMaxTipWidth(240);
    tip.SetDelayTime(3, 20000);
    QWidget* grid = Find<QTableView>(window, "iGrid1")->viewport();
    QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), grid->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(grid, &hover);
    EXPECT_FALSE(QToolTip::isVisible());
    for (const QWidget* shown : QApplication::topLevelWidgets()) {
        EXPECT_TRUE(shown == &window || !shown->isVisible()) << shown->metaObject()->className();
    }
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

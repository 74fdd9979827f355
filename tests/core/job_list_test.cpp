#include <gtest/gtest.h>

#include "fake_services.h"
#include "fake_window.h"
#include "ui/frm_main.h"

namespace velmaris::ui {
namespace {

using platform::Answer;
using platform::Control;
using Strings = std::vector<std::string>;

// A started window over drives 0 (system, C:), 1, 2 and 10, sorted by number.
struct JobList : ::testing::Test {
    fakes::FakeMachine machine;
    fakes::FakeWindow window;
    std::unique_ptr<frmMain> frm;

    void SetUp() override {
        machine.catalog.AddDisk(10, "Ten", "4096");
        machine.catalog.AddDisk(0, "Boot", "500107862016", {"C:"});
        machine.catalog.AddDisk(2, "Two", "2048");
        machine.catalog.AddDisk(1, "One", "1024");
        machine.files.folders = {"D:\\Images", "E:\\Backup", "F:\\"};
        frm = std::make_unique<frmMain>(window, machine.services);
        frm->Form_Load();
        window.calls.clear();
    }
    grid::GridModel& Source() { return *window.grid1; }
    grid::GridModel& Selected() { return *window.grid2; }
    void ChooseTarget(const std::string& folder) {
        window.folderPicks.push_back(folder);
        frm->Command1_Click();
    }
    // Double-clicks the source row showing drive n.
    void Add(int n) {
        for (int row = 1; row <= Source().RowCount(); ++row) {
            if (Source().CellText(row, 1) == std::to_string(n)) {
                Source().SetCurRow(row);
            }
        }
        frm->iGrid1_DblClick(Source().CurRow(), 1);
    }
    Strings Column(grid::GridModel& grid, int col) {
        Strings cells;
        for (int row = 1; row <= grid.RowCount(); ++row) {
            cells.push_back(grid.CellText(row, col));
        }
        return cells;
    }
    Strings Files() { return Column(Selected(), 6); }
};

TEST_F(JobList, NoTargetAsksFirstAndCancelsChangeNothing) {
    // No current row: the target question still comes first, then nothing is added.
    window.answers = {Answer::No};
    frm->iGrid1_DblClick(0, 0);
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.Said(), "No Target [24] Select target folder now?");

    // Yes, then a cancelled dialog: nothing added, and the question comes again.
    Source().SetCurRow(2);
    window.answers = {Answer::Yes, Answer::Yes};
    frm->iGrid1_DblClick(2, 1);
    window.folderPicks = {std::string("D:\\Images")};
    frm->iGrid1_DblClick(2, 1);
    EXPECT_EQ(window.messages.size(), 3u);
    EXPECT_EQ(Files(), Strings{"D:\\Images\\001.bin"});
    EXPECT_EQ(window.captions[Control::Label3], "Right click on drive to change target folder.");
    EXPECT_TRUE(window.enabled[Control::Command2]);
}

TEST_F(JobList, SystemDriveIsWarnedAboutAndMarkedAgainOnReturn) {
    ChooseTarget("D:\\Images");
    window.answers = {Answer::No};
    Add(0);
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.Said(),
              "System Drive [24] Drive [BOOT - 465.8 Gb] is a system drive are you "
              "sure you want to image it?.");
    EXPECT_EQ(Selected().RowCount(), 0);
    EXPECT_EQ(Source().CellBackColor(1, 1), 192u);

    window.answers = {Answer::Yes};
    Add(0);
    ASSERT_EQ(Selected().RowCount(), 1);
    EXPECT_FALSE(Selected().HasOwnColors(1, 1));
    EXPECT_EQ(std::get<std::int64_t>(Selected().CellValue(1, 1)), 0);
    EXPECT_EQ(Selected().CellText(1, 5), "500107862016");

    Selected().SetCurRow(1);
    frm->iGrid2_DblClick(1, 2);
    EXPECT_EQ(Column(Source(), 1), (Strings{"0", "1", "2", "10"}));
    for (int col = 1; col <= 5; ++col) {
        EXPECT_EQ(Source().CellBackColor(1, col), 192u) << col;
    }
    EXPECT_FALSE(window.enabled[Control::Command2]);
}

TEST_F(JobList, JobsAreNumberedByRowAndNotRenumbered) {
    ChooseTarget("D:\\Images");
    Add(1);
    Add(2);
    Add(10);
    // Returning the first job moves the others up; the next job takes number 003 again.
    Selected().SetCurRow(1);
    frm->iGrid2_DblClick(1, 1);
    EXPECT_EQ(Column(Source(), 1), (Strings{"0", "1"}));
    ChooseTarget("F:\\");
    Add(1);
    EXPECT_EQ(Files(), (Strings{"D:\\Images\\002.bin", "D:\\Images\\003.bin", "F:\\\\003.bin"}));
    EXPECT_TRUE(window.enabled[Control::Command2]);
}

TEST_F(JobList, LinuxPathsGetOneSeparator) {
    machine.files.separator = '/';
    machine.files.keepsDoubledSeparator = false;
    machine.files.folders = {"/", "/srv/images"};
    ChooseTarget("/");
    Add(1);
    ChooseTarget("/srv/images");
    Add(2);
    EXPECT_EQ(Files(), (Strings{"/001.bin", "/srv/images/002.bin"}));
    Selected().SetCurRow(1);
    window.folderPicks.push_back("/srv/images");
    frm->mnuSetTarget_Click();
    EXPECT_EQ(Files()[0], "/srv/images/001.bin");
}

TEST_F(JobList, TargetFolderIsCreatedOrForgottenWithAReason) {
    ChooseTarget("G:\\New");
    EXPECT_EQ(machine.files.created, Strings{"G:\\New"});
    EXPECT_EQ(window.captions[Control::Label2], "G:\\New");
    EXPECT_TRUE(window.enabled[Control::Command2]);

    window.enabled.clear();
    machine.files.createFailure = "Permission denied";
    ChooseTarget("H:\\Locked");
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.Said(),
              "Target Folder [30] The target folder H:\\Locked could not be "
              "created: Permission denied.");
    EXPECT_EQ(frm->TargetFolderPath(), "");
    EXPECT_EQ(window.captions[Control::Label2], "No target selected");
    EXPECT_EQ(window.enabled.count(Control::Command2), 0u);

    // A folder whose name did not come through as text is never made anew under that text.
    const std::string changed = "G:\\Bad \uFFFD";
    window.changedNames = {changed};
    machine.files.createFailure.reset();
    ChooseTarget(changed);
    ASSERT_EQ(window.messages.size(), 2u);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, changed + " cannot be used", window.Said());
    EXPECT_EQ(machine.files.created, Strings{"G:\\New"});
    EXPECT_EQ(frm->TargetFolderPath(), "");

    // A cancelled dialog forgets the folder chosen before.
    ChooseTarget("D:\\Images");
    window.folderPicks.push_back(std::nullopt);
    frm->Command1_Click();
    EXPECT_EQ(frm->TargetFolderPath(), "");
    EXPECT_EQ(window.captions[Control::Label2], "No target selected");
}

TEST_F(JobList, JobMenuNamesAndActsOnTheRightClickedRow) {
    ChooseTarget("D:\\Images");
    Add(1);
    Add(2);
    frm->iGrid2_MouseButton(platform::kLeftButton, 2);
    frm->iGrid2_MouseButton(platform::kRightButton, 0);
    EXPECT_EQ(window.IndexOf("ShowPopupMenu mnuNew"), -1);

    // The menu's "Set target" moves the file of the right-clicked row only.
    Selected().SetCurRow(1);
    window.onPopup = [this] {
        window.folderPicks.push_back("E:\\Backup");
        frm->mnuSetTarget_Click();
    };
    frm->iGrid2_MouseButton(platform::kRightButton, 2);
    EXPECT_GE(window.IndexOf("SetMenuCaption mnuSetTarget Set target folder for : TWO"), 0);
    EXPECT_EQ(Files(), (Strings{"D:\\Images\\001.bin", "E:\\Backup\\002.bin"}));
    EXPECT_EQ(frm->TargetFolderPath(), "E:\\Backup");

    // With no current row, row 1 is moved, a path without separator whole; a cancel keeps it.
    Selected().SetCellValue(1, 6, std::string("custom.img"));
    Selected().SetCurRow(0);
    window.folderPicks = {"D:\\Images", std::nullopt};
    frm->mnuSetTarget_Click();
    frm->mnuSetTarget_Click();
    EXPECT_EQ(Selected().CellText(1, 6), "D:\\Images\\custom.img");
}

TEST_F(JobList, FileNameCellIsEditedInPlaceNeverReturned) {
    ChooseTarget("D:\\Images");
    Add(1);
    Selected().SetCurRow(1);
    frm->iGrid2_DblClick(1, 6);
    EXPECT_EQ(Selected().RowCount(), 1);
    ASSERT_TRUE(Selected().Editable() && window.editor && window.editor->col == 6);
    // A right-click commits the open edit before the menu acts; "Change File Name" on another
    // row then moves the editor there.
    Add(2);
    window.editor->text = "typed.img";
    window.onPopup = [this] {
        EXPECT_FALSE(window.editor);
        EXPECT_EQ(Selected().CellText(1, 6), "typed.img");
        frm->mnuCFN_Click();
    };
    frm->iGrid2_MouseButton(platform::kRightButton, 2);
    ASSERT_TRUE(window.editor && window.editor->row == 2);
    window.editor->text = "second.img";
    Selected().SetCurRow(1);
    frm->mnuCFN_Click();
    EXPECT_EQ(Selected().CellText(2, 6), "second.img");
    EXPECT_TRUE(Selected().Editable() && window.editor && window.editor->row == 1);
    window.CommitEdit(platform::Grid::iGrid2);
    EXPECT_FALSE(Selected().Editable());
    // From the menu, on the current row; with none there is nothing to edit.
    Selected().SetCurRow(0);
    window.calls.clear();
    frm->mnuCFN_Click();
    EXPECT_TRUE(window.calls.empty());
    EXPECT_FALSE(Selected().Editable());
}

TEST_F(JobList, NothingChangesTheJobsDuringARun) {
    ChooseTarget("D:\\Images");
    Add(1);
    Selected().SetCurRow(1);
    frm->RunInProgress = true;
    window.calls.clear();
    frm->iGrid2_DblClick(1, 1);
    frm->iGrid2_DblClick(1, 6);
    frm->iGrid2_MouseButton(platform::kRightButton, 1);
    frm->mnuSetTarget_Click();
    frm->mnuCFN_Click();
    frm->iGrid1_DblClick(1, 1);
    EXPECT_TRUE(window.calls.empty());
    EXPECT_EQ(Selected().RowCount(), 1);
    EXPECT_FALSE(Selected().Editable());
}

TEST_F(JobList, ExitAsksFirst) {
    window.answers = {Answer::No};
    frm->mnuExit_Click();
    EXPECT_EQ(window.IndexOf("EndProgram"), -1);
    window.answers = {Answer::Yes};
    frm->mnuExit_Click();
    EXPECT_EQ(window.Said(), "Exit? [24] Exit the program, are you sure?");
    EXPECT_GE(window.IndexOf("EndProgram"), 0);
}

}  // namespace
}  // namespace velmaris::ui

#include <gtest/gtest.h>

#include "fake_services.h"
#include "fake_window.h"
#include "ui/frm_main.h"

namespace velmaris::ui {
namespace {

using platform::Control;

TEST(StartUp, ShowsTheNoticeWhileSearchingThenListsSortedDrivesAndEndsReady) {
    fakes::FakeMachine machine;
    fakes::FakeWindow window;
    machine.catalog.AddDisk(10, "Ten", "2048");
    machine.catalog.AddDisk(2, "Two", "1024", {"D:"});
    machine.catalog.AddDisk(0, "Boot", "500107862016", {"C:"});
    frmMain frm(window, machine.services);
    frm.Form_Load();
    const std::vector<std::string> steps = {
        "SetCaption StatusBar1 Searching for drives ...",
        "ShowModeless",
        "SetCaption AlertBox1 Searching for attached drives.. Please wait.",
        "SetVisible AlertBox1 1",
        "PumpMessages",
        "SetPointer Busy",
        "SetCaption StatusBar1 Ready",
        "SetPointer Default",
        "SetVisible AlertBox1 0",
    };
    int last = -1;
    for (const std::string& step : steps) {
        const int at = window.IndexOf(step);
        EXPECT_GT(at, last) << step;
        last = at;
    }
    EXPECT_EQ(std::count(window.calls.begin(), window.calls.end(), "PumpMessages"), 1);

    const grid::GridModel& g1 = frm.Grid1();
    ASSERT_EQ(g1.RowCount(), 3);
    EXPECT_EQ(g1.CellText(1, 1) + " " + g1.CellText(3, 1), "0 10");
    for (const grid::GridModel* grid : {&g1, &frm.Grid2()}) {
        EXPECT_TRUE(grid->ColVisible(1) && grid->ColVisible(2) && grid->ColVisible(3));
        EXPECT_FALSE(grid->ColVisible(4) || grid->ColVisible(5) || grid->Editable());
    }
    EXPECT_EQ(frm.Grid2().ColHeaderText(6), "File Name");
    EXPECT_TRUE(frm.Grid2().ColVisible(6) && frm.Grid2().ColVisible(7));
    EXPECT_EQ(window.captions[Control::StatusBar1], "Ready");
    EXPECT_EQ(window.captions[Control::Label2], "No target selected");
    EXPECT_EQ(window.captions[Control::Label3], "");
    EXPECT_FALSE(window.enabled[Control::Command2]);
    EXPECT_FALSE(window.visible[Control::AlertBox1]);
    EXPECT_FALSE(window.menuVisible[platform::Menu::mnuNew]);
}

// Which drives hold the system is SystemDrives' and DriveList's to prove; this is what the
// window shows when none of them does.
TEST(StartUp, ListsNoDriveWhenTheSystemDriveIsNotFound) {
    fakes::FakeMachine machine;
    fakes::FakeWindow window;
    machine.paths.programFolder = "Y:\\Tools";
    machine.catalog.AddDisk(0, "Stick", "2048", {"D:"});
    frmMain frm(window, machine.services);
    frm.Form_Load();
    EXPECT_EQ(frm.Grid1().RowCount(), 0);
    EXPECT_EQ(window.captions[Control::StatusBar1],
              "No drives listed: the system drive could not be found");
    EXPECT_EQ(window.IndexOf("SetCaption StatusBar1 Ready"), -1);
    EXPECT_FALSE(window.visible[Control::AlertBox1]);
}

}  // namespace
}  // namespace velmaris::ui

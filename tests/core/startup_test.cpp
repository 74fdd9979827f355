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

    const GridModel& g1 = frm.Grid1();
    ASSERT_EQ(g1.RowCount(), 3);
    EXPECT_EQ(g1.CellText(1, 1), "0");
    EXPECT_EQ(g1.CellText(2, 1), "2");
    EXPECT_EQ(g1.CellText(3, 1), "10");
    EXPECT_EQ(g1.CellBackColor(1, 5), 192u);
    EXPECT_FALSE(g1.HasOwnColors(2, 1));
    for (const GridModel* grid : {&g1, &frm.Grid2()}) {
        EXPECT_FALSE(grid->ColVisible(4));
        EXPECT_FALSE(grid->ColVisible(5));
        EXPECT_FALSE(grid->Editable());
    }
    EXPECT_EQ(frm.Grid2().ColCount(), 7);
    EXPECT_EQ(frm.Grid2().ColHeaderText(6), "File Name");
    EXPECT_EQ(frm.Grid2().RowCount(), 0);
    EXPECT_EQ(frm.DriveLettersMap().at(2), std::vector<std::string>{"D:"});

    EXPECT_EQ(window.captions[Control::StatusBar1], "Ready");
    EXPECT_EQ(window.captions[Control::Label2], "No target selected");
    EXPECT_EQ(window.captions[Control::Label3], "");
    EXPECT_FALSE(window.enabled[Control::Command2]);
    EXPECT_FALSE(window.visible[Control::AlertBox1]);
    EXPECT_FALSE(window.menuVisible[platform::Menu::mnuNew]);
}

TEST(StartUp, ListsEveryDriveWhenTheSystemIsOnNoDiskAndNoneWhenItsDriveIsNotFound) {
    const struct {
        const char* name;
        std::string program;
        std::string system;
        int rows;
        bool firstMarked;
        std::string status;
    } cases[] = {
        {"WinPE, program on a stick", "D:\\Tools", "X:\\Windows", 2, true, "Ready"},
        {"WinPE, all in memory", "X:\\Tools", "X:\\Windows", 2, false, "Ready"},
        {"on no listed disk", "Y:\\Tools", "X:\\Windows", 0, false,
         "No drives listed: the system drive could not be found"},
    };
    for (const auto& c : cases) {
        fakes::FakeMachine machine;
        fakes::FakeWindow window;
        machine.paths.ramDisks = {"X:"};
        machine.paths.programFolder = c.program;
        machine.paths.systemFolder = c.system;
        machine.catalog.AddDisk(1, "Data", "1024", {"E:"});
        machine.catalog.AddDisk(0, "Stick", "2048", {"D:"});
        frmMain frm(window, machine.services);
        frm.Form_Load();
        ASSERT_EQ(frm.Grid1().RowCount(), c.rows) << c.name;
        if (c.rows > 0) {
            EXPECT_EQ(frm.Grid1().CellText(1, 1), "0") << c.name;
            EXPECT_EQ(frm.Grid1().HasOwnColors(1, 1), c.firstMarked) << c.name;
            EXPECT_FALSE(frm.Grid1().HasOwnColors(2, 1)) << c.name;
        }
        EXPECT_EQ(window.captions[Control::StatusBar1], c.status) << c.name;
        EXPECT_EQ(window.IndexOf("SetCaption StatusBar1 Ready") >= 0, c.status == "Ready")
            << c.name;
        EXPECT_FALSE(window.visible[Control::AlertBox1]) << c.name;
    }
}

}  // namespace
}  // namespace velmaris::ui

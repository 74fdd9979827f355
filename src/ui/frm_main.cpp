#include "ui/frm_main.h"

#include <array>

#include "discovery/drive_list.h"

namespace velmaris::ui {

namespace {

struct ColumnLayout {
    const char* caption;
    int width;  // pixels; 0 keeps the grid's default
    bool visible;
};

constexpr std::array<ColumnLayout, 5> kSourceColumns{{
    {"ID", 45, true},
    {"Model", 155, true},
    {"Size", 55, true},
    {"PNP", 0, false},
    {"Size I", 60, false},
}};

constexpr std::array<ColumnLayout, 7> kJobColumns{{
    {"ID", 35, true},
    {"Model", 160, true},
    {"Size", 60, true},
    {"PNP", 60, false},
    {"Size I", 60, false},
    {"File Name", 200, true},
    {"Status", 80, true},
}};

template <size_t N>
void LayOut(GridModel& grid, const std::array<ColumnLayout, N>& columns) {
    grid.SetColCount(static_cast<int>(N));
    for (size_t i = 0; i < N; ++i) {
        const int col = static_cast<int>(i) + 1;
        grid.SetColHeaderText(col, columns[i].caption);
        if (columns[i].width > 0) {
            grid.SetColWidth(col, columns[i].width);
        }
        grid.SetColVisible(col, columns[i].visible);
    }
    grid.SetEditable(false);
}

}  // namespace

frmMain::frmMain(platform::Window& window, platform::Services& services)
    : window_(window), services_(services) {
    window_.Bind(*this, iGrid1, iGrid2);
}

void frmMain::Form_Load() {
    using platform::Control;
    window_.SetEnabled(Control::Command2, false);
    window_.SetMenuVisible(platform::Menu::mnuNew, false);
    window_.SetCaption(Control::Label3, "");
    window_.SetCaption(Control::Label2, "No target selected");
    SystemDrives = discovery::WorkOutSystemDrives(services_.paths);
    LayOutGrids();
    window_.SetCaption(Control::StatusBar1, "Searching for drives ...");
    window_.ShowModeless();
    window_.SetCaption(Control::AlertBox1, "Searching for attached drives.. Please wait.");
    window_.SetVisible(Control::AlertBox1, true);
    window_.PumpMessages();
    window_.SetPointer(platform::Pointer::Busy);
    ListPhysicalDrives();
    window_.SetCaption(Control::StatusBar1, "Ready");
    window_.SetPointer(platform::Pointer::Default);
    window_.SetVisible(Control::AlertBox1, false);
    iGrid1.Sort(discovery::kColId);
}

void frmMain::ListPhysicalDrives() {
    iGrid1.SetRowCount(0);
    SystemPhysicalDrives =
        discovery::FindSystemDrives(SystemDrives, services_.catalog, DriveLetters);
    discovery::ListPhysicalDrives(iGrid1, services_.catalog, SystemPhysicalDrives,
                                  services_.numbers.UserMarks());
}

void frmMain::LayOutGrids() {
    LayOut(iGrid1, kSourceColumns);
    LayOut(iGrid2, kJobColumns);
    iGrid2.SetRowCount(0);
}

}  // namespace velmaris::ui

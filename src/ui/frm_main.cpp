#include "ui/frm_main.h"

#include <array>

#include "discovery/drive_list.h"
#include "imaging/completion.h"
#include "imaging/imaging_run.h"
#include "imaging/progress.h"
#include "jobs/selected_drives.h"
#include "jobs/target_folder.h"
#include "ui/about.h"

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
void LayOut(grid::GridModel& grid, const std::array<ColumnLayout, N>& columns) {
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
    if (discovery::SystemDriveNotFound(SystemDrives, SystemPhysicalDrives)) {
        // No row could be told apart as unsafe: list none, and say why.
        iGrid1.SetRowCount(0);
        ListedDrives.clear();
        window_.SetCaption(Control::StatusBar1, discovery::kNoSystemDriveStatus);
    } else {
        window_.SetCaption(Control::StatusBar1, "Ready");
    }
    window_.SetPointer(platform::Pointer::Default);
    window_.SetVisible(Control::AlertBox1, false);
    AttachToolTip();
    iGrid1.Sort(discovery::kColId);
}

void frmMain::iGrid1_DblClick(int /*row*/, int /*col*/) {
    if (RunInProgress) {
        return;
    }
    auto jobs = Jobs();
    jobs::AddDrive(jobs);
}

void frmMain::iGrid2_DblClick(int row, int col) {
    if (RunInProgress || row == 0) {
        return;
    }
    auto jobs = Jobs();
    if (col == jobs::kColFileName) {
        jobs::EditImagePath(jobs, row);
    } else {
        jobs::ReturnDrive(jobs);
    }
}

void frmMain::iGrid1_MouseButton(int /*button*/, int /*row*/) {}

void frmMain::iGrid2_MouseButton(int button, int row) {
    if (RunInProgress) {
        return;
    }
    auto jobs = Jobs();
    jobs::ShowJobMenu(jobs, button, row);
}

void frmMain::iGrid2_EditEnded() {
    auto jobs = Jobs();
    jobs::EndEdit(jobs);
}

void frmMain::Command1_Click() {
    auto jobs = Jobs();
    jobs::ChooseTargetFolder(jobs);
}

void frmMain::mnuExit_Click() {
    if (window_.MessageBox("Exit the program, are you sure?", "Exit?",
                           platform::mb::kYesNo | platform::mb::kQuestion) ==
        platform::Answer::Yes) {
        window_.EndProgram();
    }
}

void frmMain::mnuAbout_Click() {
    window_.ShowAboutBox(
        AboutVersionLine(VELMARIS_VERSION_MAJOR, VELMARIS_VERSION_MINOR, VELMARIS_VERSION_PATCH));
}

void frmMain::mnuSetTarget_Click() {
    if (RunInProgress) {
        return;
    }
    auto jobs = Jobs();
    jobs::SetJobTarget(jobs);
}

void frmMain::mnuCFN_Click() {
    if (RunInProgress) {
        return;
    }
    auto jobs = Jobs();
    jobs::EditImagePath(jobs, iGrid2.CurRow());
}

void frmMain::ListPhysicalDrives() {
    iGrid1.SetRowCount(0);
    SystemPhysicalDrives =
        discovery::FindSystemDrives(SystemDrives, services_.catalog, DriveLetters);
    ListedDrives = discovery::ListPhysicalDrives(iGrid1, services_.catalog, SystemPhysicalDrives,
                                                 services_.numbers.UserMarks());
}

void frmMain::Command2_Click() {
    auto jobs = Jobs();
    imaging::RunContext run{window_,     services_,     jobs,         ListedDrives,    Run,
                            ProgressMax, RunInProgress, ParallelCopy, PumpWhileWaiting};
    imaging::RunImaging(run);
}

void frmMain::XPButton1_Click() {
    imaging::RequestStop(window_, Run);
}

void frmMain::Command3_Click() {
    imaging::StartShutdown(window_, services_.power);
}

void frmMain::Command6_Click() {
    imaging::AbortShutdown(window_, services_.power);
}

void frmMain::Timer1_Timer() {
    using platform::Control;
    const imaging::ProgressTexts texts =
        imaging::ProgressTick(Run, services_.clock.Milliseconds(),
                              Run.VerifyingDrives > 0 ? Run.VerifyingDrives : iGrid2.RowCount(),
                              services_.numbers.UserMarks());
    if (texts.remaining) {
        window_.SetCaption(Control::Label7, *texts.remaining);
    }
    if (texts.elapsed) {
        window_.SetCaption(Control::Label12, *texts.elapsed);
    }
    if (texts.speed) {
        window_.SetCaption(Control::Label9, *texts.speed);
    }
}

void frmMain::AttachToolTip() {
    constexpr int kMaxTipWidth = 240;
    constexpr unsigned kAutoPopDelay = 2;
    constexpr int kTipShownMs = 20000;
    if (!MainToolTip) {
        MainToolTip = std::make_unique<clsToolTip>(window_);
    }
    MainToolTip->Create();
    MainToolTip->SetMaxTipWidth(kMaxTipWidth);
    MainToolTip->SetDelayTime(kAutoPopDelay, kTipShownMs);
    MainToolTip->AddTool(platform::Control::iGrid1);
    MainToolTip->AddTool(platform::Control::iGrid2);
}

jobs::JobContext frmMain::Jobs() {
    return {window_, services_.files, iGrid1, iGrid2, TargetFolder, SystemPhysicalDrives};
}

void frmMain::LayOutGrids() {
    LayOut(iGrid1, kSourceColumns);
    LayOut(iGrid2, kJobColumns);
    iGrid2.SetRowCount(0);
}

}  // namespace velmaris::ui

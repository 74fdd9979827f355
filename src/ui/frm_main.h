// The main window's state and its event handlers. Handlers are thin: each calls the
// subsystem that owns the rule.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "discovery/drive_list.h"
#include "discovery/system_drives.h"
#include "grid/grid_model.h"
#include "imaging/run_state.h"
#include "jobs/job_context.h"
#include "platform/services.h"
#include "platform/window.h"
#include "ui/cls_tool_tip.h"

namespace velmaris::ui {

class frmMain : public platform::WindowEvents {
  public:
    frmMain(platform::Window& window, platform::Services& services);

    // Start-up: the window's load event.
    void Form_Load() override;
    void iGrid1_DblClick(int row, int col) override;
    void iGrid2_DblClick(int row, int col) override;
    void iGrid1_MouseButton(int button, int row) override;
    void iGrid2_MouseButton(int button, int row) override;
    void iGrid2_EditEnded() override;
    void Command1_Click() override;
    void mnuExit_Click() override;
    void mnuAbout_Click() override;
    void mnuSetTarget_Click() override;
    void mnuCFN_Click() override;
    void Command2_Click() override;
    void XPButton1_Click() override;
    void Command3_Click() override;
    void Command6_Click() override;
    void Timer1_Timer() override;

    // Fills iGrid1 with the machine's usable drives.
    void ListPhysicalDrives();

    const grid::GridModel& Grid1() const { return iGrid1; }
    const grid::GridModel& Grid2() const { return iGrid2; }
    const std::vector<std::string>& SystemDrivesList() const { return SystemDrives; }
    const std::vector<std::string>& SystemPhysicalDrivesList() const {
        return SystemPhysicalDrives;
    }
    const discovery::DriveVolumes& DriveLettersMap() const { return DriveLetters; }
    const std::string& TargetFolderPath() const { return TargetFolder; }
    clsToolTip* ToolTip() { return MainToolTip.get(); }

    // Whether a run is in progress: the job list must then stay as the run found it.
    bool RunInProgress = false;
    // Whether each drive of a run is copied on its own thread, or all on this one.
    bool ParallelCopy = true;
    // The longest the window goes unpumped while the drives work on a pass.
    std::chrono::milliseconds PumpWhileWaiting{20};

  private:
    void LayOutGrids();
    void AttachToolTip();
    jobs::JobContext Jobs();

    platform::Window& window_;
    platform::Services& services_;

    grid::GridModel iGrid1;  // source drives
    grid::GridModel iGrid2;  // selected drives (jobs)
    std::vector<std::string> SystemDrives;
    std::vector<std::string> SystemPhysicalDrives;
    discovery::DriveVolumes DriveLetters;
    discovery::ListedDrives ListedDrives;  // what each listed drive was: identity, exact length
    std::string TargetFolder;
    std::unique_ptr<clsToolTip> MainToolTip;
    imaging::ImagingRun Run;
    std::int32_t ProgressMax = 100;  // the progress bar's maximum, as last set
};

}  // namespace velmaris::ui

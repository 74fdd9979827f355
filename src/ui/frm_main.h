// The main window's state and its event handlers. Handlers are thin: each calls the
// subsystem that owns the rule.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "discovery/system_drives.h"
#include "platform/services.h"
#include "platform/window.h"
#include "ui/grid_model.h"

namespace velmaris::ui {

class frmMain : public platform::WindowEvents {
  public:
    frmMain(platform::Window& window, platform::Services& services);

    // Start-up: the window's load event.
    void Form_Load() override;

    // Fills iGrid1 with the machine's usable drives.
    void ListPhysicalDrives();

    const GridModel& Grid1() const { return iGrid1; }
    const GridModel& Grid2() const { return iGrid2; }
    const std::vector<std::string>& SystemDrivesList() const { return SystemDrives; }
    const std::vector<std::string>& SystemPhysicalDrivesList() const {
        return SystemPhysicalDrives;
    }
    const discovery::DriveVolumes& DriveLettersMap() const { return DriveLetters; }

  private:
    void LayOutGrids();

    platform::Window& window_;
    platform::Services& services_;

    GridModel iGrid1;  // source drives
    GridModel iGrid2;  // selected drives (jobs)
    std::vector<std::string> SystemDrives;
    std::vector<std::string> SystemPhysicalDrives;
    discovery::DriveVolumes DriveLetters;
    std::string TargetFolder;
};

}  // namespace velmaris::ui

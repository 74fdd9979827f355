// What the job-list rules work on: frmMain's lists, target folder, window and files.
#pragma once

#include <string>
#include <vector>

#include "platform/services.h"
#include "platform/window.h"
#include "grid/grid_model.h"

namespace velmaris::jobs {

// Columns of a job row beyond the five drive columns.
enum JobColumn : int { kColFileName = 6, kColStatus = 7 };

struct JobContext {
    platform::Window& window;
    platform::Files& files;
    grid::GridModel& iGrid1;  // source drives
    grid::GridModel& iGrid2;  // jobs
    std::string& TargetFolder;
    const std::vector<std::string>& SystemPhysicalDrives;
};

}  // namespace velmaris::jobs

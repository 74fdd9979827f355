// What the imaging run works on: frmMain's window, services, job list and run state.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "discovery/drive_list.h"
#include "grid/grid_model.h"
#include "imaging/run_state.h"
#include "jobs/job_context.h"
#include "platform/services.h"
#include "platform/window.h"

namespace velmaris::imaging {

inline constexpr std::size_t kBlockSize = 131072;
inline constexpr std::size_t kSectorSize = 512;

struct RunContext {
    platform::Window& window;
    platform::Services& services;
    jobs::JobContext& jobs;  // the job list and the default target folder
    // What each drive was when it was listed: the drive opened must still be that one.
    const discovery::DriveIdentities& ListedIdentities;
    ImagingRun& run;
    std::int32_t& ProgressMax;  // the progress bar's maximum, as last set
    bool& RunInProgress;
    bool parallel = true;  // each drive on its own thread within a pass
    // The longest the window goes unpumped while a pass waits for its drives.
    std::chrono::milliseconds pumpWhileWaiting{20};
};

// Writes a job's status cell.
inline void SetStatus(RunContext& ctx, std::size_t slot, const std::string& text) {
    ctx.jobs.iGrid2.SetCellValue(static_cast<int>(slot) + 1, jobs::kColStatus, text);
}

}  // namespace velmaris::imaging

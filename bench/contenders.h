// The ways of imaging the same drives, each run in processes of its own.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "lab.h"
#include "report.h"

namespace velmaris::bench {

struct Arena {
    std::filesystem::path self;    // this benchmark's executable, for the engine's process
    std::filesystem::path images;  // the target folder, emptied before every run
    std::filesystem::path logs;    // what dd says, outside the target
    std::string cgroup;            // the throttling group to run in, or "" for none
};

// The engine through the window's code path: parallel, or in the serial order of one thread;
// with verify, "Verify images after imaging" ticked and its phase timed.
Measured RunEngine(const Arena& arena, const std::vector<Loop>& loops, bool parallel,
                   bool verify = false);
// A command-line imager, one process per drive, all started together: timed until the last
// exits and until every image is on the disk.
enum class Tool {
    Dd,     // dd if=DEV of=FILE bs=128K
    Dc3dd,  // dc3dd if=DEV of=FILE hash=sha256
};
Measured RunTool(const Arena& arena, const std::vector<Loop>& loops, Tool tool);

// The image of drive k (from 1) in the target folder, named as the engine names it.
std::filesystem::path ImageOf(const Arena& arena, std::size_t k);
// Marks the run failed when any image differs from its drive.
void CheckImages(const Arena& arena, const std::vector<Loop>& loops, Measured& run);
// Removes the images of the last run.
void ClearImages(const Arena& arena);

}  // namespace velmaris::bench

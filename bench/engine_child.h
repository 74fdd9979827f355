// The engine as the window drives it, in a process of its own so that its CPU time and peak
// memory are its alone.
#pragma once

#include <string>
#include <vector>

namespace velmaris::bench {

// Selects the loop devices (kernel names) in order, runs one imaging run into the folder, with
// "Verify images after imaging" ticked when verify, and writes "key value" lines to standard
// output. Returns the process's exit code.
int EngineChild(const std::string& folder, bool parallel, bool verify,
                const std::vector<std::string>& names);

}  // namespace velmaris::bench

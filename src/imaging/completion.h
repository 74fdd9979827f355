// The end of a run, the stop button and the shutdown after a run.
#pragma once

#include "imaging/run_context.h"

namespace velmaris::imaging {

// Closes every drive and image, marks the rows, leaves run mode and reports; starts a shutdown
// when asked for and every image is done.
void EndSteps(RunContext& ctx, DriveSlots& slots);

// The stop button: asks, and records the request for the copy to see after its pass.
void RequestStop(platform::Window& window, ImagingRun& run);

// Starts a shutdown when "Turn off computer on completion" is ticked; "Abort Shutdown" is shown
// only when the shutdown program reported it scheduled. The window is pumped while it answers.
void StartShutdown(platform::Window& window, platform::Power& power);
// "Abort Shutdown" is hidden only when the shutdown program reported the shutdown cancelled.
void AbortShutdown(platform::Window& window, platform::Power& power);

}  // namespace velmaris::imaging

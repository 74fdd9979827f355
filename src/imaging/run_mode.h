// Run mode: the window locked for a run, the stop button and the progress timer on, and the
// machine kept from sleeping.
#pragma once

#include "imaging/run_context.h"

namespace velmaris::imaging {

void EnterRunMode(RunContext& ctx);
void LeaveRunMode(RunContext& ctx);

}  // namespace velmaris::imaging

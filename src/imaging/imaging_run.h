// A whole imaging run, as the start button runs it.
#pragma once

#include "imaging/run_context.h"

namespace velmaris::imaging {

void RunImaging(RunContext& ctx);

}  // namespace velmaris::imaging

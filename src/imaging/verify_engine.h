// After the copy, when the run verifies: every drive whose image is complete is read again and
// its image read back, all together, each compared with the other and hashed.
#pragma once

#include "imaging/run_context.h"

namespace velmaris::imaging {

// Verifies every slot whose image holds the whole drive, until all are done or a stop was
// confirmed; a slot not verified to its end keeps its copy's result.
void VerifyDrives(RunContext& ctx, DriveSlots& slots);

}  // namespace velmaris::imaging

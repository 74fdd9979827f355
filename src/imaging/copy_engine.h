// The copy of all selected drives together: a block phase in 128 KiB blocks, then a finishing
// phase in 512-byte sectors up to the end of every drive.
#pragma once

#include "imaging/run_context.h"

namespace velmaris::imaging {

// Copies every slot still copying until all have finished or a stop was confirmed, then
// flushes and closes every image.
void CopyDrives(RunContext& ctx, DriveSlots& slots);

}  // namespace velmaris::imaging

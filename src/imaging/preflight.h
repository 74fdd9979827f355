// The checks before a run and the opening of every drive and image.
#pragma once

#include "imaging/run_context.h"

namespace velmaris::imaging {

// The checks made before run mode: a usable target folder and at least one job.
bool CheckTargetAndJobs(RunContext& ctx);

// In run mode, before anything is opened: images too large for their file system (FAT), free
// space, the progress bar, image and record
// paths that are not plain files, that two jobs share or that hold a drive, targets whose file
// system lies on a source, and overwrite questions.
// Builds one slot per job; false when the run is refused or abandoned.
bool PrepareSlots(RunContext& ctx, DriveSlots& slots);

// Opens every drive and checks it is the one listed, then creates the images of those that
// are; a slot that fails says so in its row.
void OpenAll(RunContext& ctx, DriveSlots& slots);

}  // namespace velmaris::imaging

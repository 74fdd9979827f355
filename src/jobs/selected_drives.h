// Moving drives between the source list and the selected list.
#pragma once

#include "jobs/job_context.h"

namespace velmaris::jobs {

// Moves the current source row into the job list, asking first for a target folder when
// none is set and for confirmation when it is a system drive.
void AddDrive(JobContext& jobs);

// Returns the current job's drive to its place in the source list, with its mark.
void ReturnDrive(JobContext& jobs);

}  // namespace velmaris::jobs

// The default target folder and the ways a job's image path changes.
#pragma once

#include "jobs/job_context.h"

namespace velmaris::jobs {

// Asks for the default target folder and creates it when missing. A cancelled dialog, a
// folder whose name does not convert to text unchanged, or a folder that cannot be created,
// leaves no default target folder.
void ChooseTargetFolder(JobContext& jobs);

// The job menu, on a mouse button over a job row: only the right button on a row shows it.
void ShowJobMenu(JobContext& jobs, int button, int row);

// Moves the current job's image file (row 1 when none is current) into a newly chosen folder.
void SetJobTarget(JobContext& jobs);

// Opens the image path of a job row for editing in place; EndEdit closes editing again.
void EditImagePath(JobContext& jobs, int row);
void EndEdit(JobContext& jobs);

}  // namespace velmaris::jobs

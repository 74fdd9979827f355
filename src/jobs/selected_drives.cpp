#include "jobs/selected_drives.h"

#include "discovery/drive_list.h"
#include "jobs/image_path.h"
#include "jobs/target_folder.h"

namespace velmaris::jobs {

using platform::Answer;
using platform::Control;

namespace {

constexpr unsigned kQuestion = platform::mb::kYesNo | platform::mb::kQuestion;
constexpr int kDriveColumns = 5;

void CopyDriveColumns(const grid::GridModel& from, int fromRow, grid::GridModel& to, int toRow,
                      int columns) {
    for (int col = 1; col <= columns; ++col) {
        to.SetCellValue(toRow, col, from.CellValue(fromRow, col));
    }
}

}  // namespace

void AddDrive(JobContext& jobs) {
    if (jobs.TargetFolder.empty()) {
        if (jobs.window.MessageBox("Select target folder now?", "No Target", kQuestion) !=
            Answer::Yes) {
            return;
        }
        ChooseTargetFolder(jobs);
        if (jobs.TargetFolder.empty()) {
            return;
        }
    }
    const int source = jobs.iGrid1.CurRow();
    if (source < 1) {
        return;
    }
    if (jobs.iGrid1.CellBackColor(source, discovery::kColId) == discovery::kSystemDriveBackColor) {
        const std::string prompt = "Drive [" + jobs.iGrid1.CellText(source, discovery::kColModel) +
                                   " - " + jobs.iGrid1.CellText(source, discovery::kColSize) +
                                   "] is a system drive are you sure you want to image it?.";
        if (jobs.window.MessageBox(prompt, "System Drive", kQuestion) != Answer::Yes) {
            return;
        }
    }
    jobs.iGrid2.AddRow();
    const int job = jobs.iGrid2.RowCount();
    CopyDriveColumns(jobs.iGrid1, source, jobs.iGrid2, job, jobs.iGrid1.ColCount());
    const std::string name = jobs.files.Separator() + DefaultImageName(job);
    jobs.iGrid2.SetCellValue(job, kColFileName, InFolder(jobs.TargetFolder, name, jobs.files));
    jobs.iGrid1.RemoveRow(source);
    jobs.window.SetEnabled(Control::Command2, true);
    jobs.window.SetCaption(Control::Label3, "Right click on drive to change target folder.");
}

void ReturnDrive(JobContext& jobs) {
    const int job = jobs.iGrid2.CurRow();
    if (job < 1) {
        return;
    }
    jobs.iGrid1.AddRow();
    const int source = jobs.iGrid1.RowCount();
    CopyDriveColumns(jobs.iGrid2, job, jobs.iGrid1, source, kDriveColumns);
    const auto* id = std::get_if<std::int64_t>(&jobs.iGrid2.CellValue(job, discovery::kColId));
    if (id && discovery::IsSystemDrive(jobs.SystemPhysicalDrives, *id)) {
        discovery::MarkSystemDrive(jobs.iGrid1, source);
    }
    jobs.iGrid2.RemoveRow(job);
    jobs.iGrid1.Sort(discovery::kColId);
    jobs.window.SetEnabled(Control::Command2, jobs.iGrid2.RowCount() >= 1);
}

}  // namespace velmaris::jobs

#include "jobs/target_folder.h"

#include "jobs/image_path.h"

namespace velmaris::jobs {

using platform::Control;

namespace {

constexpr char kNoTarget[] = "No target selected";

void ForgetTarget(JobContext& jobs) {
    jobs.TargetFolder.clear();
    jobs.window.SetCaption(Control::Label2, kNoTarget);
}

}  // namespace

void ChooseTargetFolder(JobContext& jobs) {
    const platform::FolderChoice choice = jobs.window.BrowseForFolder("Select Target Folder");
    jobs.TargetFolder = choice.folder.value_or("");
    if (jobs.TargetFolder.empty()) {
        ForgetTarget(jobs);
        return;
    }
    if (choice.nameChanged) {
        // Its path as text names another folder, which would be created in its place.
        jobs.window.MessageBox("The name of the folder " + jobs.TargetFolder +
                                   " cannot be used: it does not convert to Unicode text and "
                                   "back unchanged. Rename the folder or choose another.",
                               "Target Folder", platform::mb::kOk | platform::mb::kExclamation);
        ForgetTarget(jobs);
        return;
    }
    if (!jobs.files.FolderExists(jobs.TargetFolder)) {
        if (const auto reason = jobs.files.CreateFolder(jobs.TargetFolder)) {
            // Never keep a folder that is not there: images would fail only at the run.
            jobs.window.MessageBox("The target folder " + jobs.TargetFolder +
                                       " could not be created: " + *reason + ".",
                                   "Target Folder", platform::mb::kOk | platform::mb::kExclamation);
            ForgetTarget(jobs);
            return;
        }
    }
    jobs.window.SetEnabled(Control::Command2, true);
    jobs.window.SetCaption(Control::Label2, jobs.TargetFolder);
}

void ShowJobMenu(JobContext& jobs, int button, int row) {
    if (row < 1 || button != platform::kRightButton) {
        return;
    }
    // An open edit ends first, as a left click would end it, so the menu acts on what was typed.
    jobs.window.CommitEdit(platform::Grid::iGrid2);
    // The menu names the row it acts on.
    jobs.iGrid2.SetCurRow(row);
    jobs.window.SetMenuCaption(platform::Menu::mnuSetTarget,
                               "Set target folder for : " + jobs.iGrid2.CellText(row, 2));
    jobs.window.ShowPopupMenu(platform::Menu::mnuNew);
}

void SetJobTarget(JobContext& jobs) {
    if (jobs.iGrid2.CurRow() == 0) {
        if (jobs.iGrid2.RowCount() == 0) {
            return;
        }
        jobs.iGrid2.SetCurRow(1);
    }
    const int row = jobs.iGrid2.CurRow();
    const std::string fileName =
        FileNamePart(jobs.iGrid2.CellText(row, kColFileName), jobs.files.Separator());
    ChooseTargetFolder(jobs);
    if (!jobs.TargetFolder.empty()) {
        jobs.iGrid2.SetCellValue(row, kColFileName,
                                 InFolder(jobs.TargetFolder, fileName, jobs.files));
    }
}

void EditImagePath(JobContext& jobs, int row) {
    if (row < 1 || row > jobs.iGrid2.RowCount()) {
        return;
    }
    // An editor open on another cell moves here; its end switches editing off first.
    jobs.window.CommitEdit(platform::Grid::iGrid2);
    jobs.iGrid2.SetEditable(true);
    jobs.window.StartEdit(platform::Grid::iGrid2, row, kColFileName);
}

void EndEdit(JobContext& jobs) {
    jobs.iGrid2.SetEditable(false);
}

}  // namespace velmaris::jobs

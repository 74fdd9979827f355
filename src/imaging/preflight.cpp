#include "imaging/preflight.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <set>

#include "discovery/drive_list.h"
#include "discovery/number_text.h"
#include "imaging/image_record.h"
#include "imaging/progress.h"
#include "jobs/target_folder.h"

namespace velmaris::imaging {

using platform::Answer;
using platform::Control;
namespace mb = platform::mb;

namespace {

// The bytes a job's image will hold: its drive's exact length as listed, else the listed size
// (which Windows rounds down to whole cylinders).
std::uint64_t JobBytes(const RunContext& ctx, int row) {
    const grid::GridModel& jobs = ctx.jobs.iGrid2;
    const auto n = discovery::LeadingWholeNumber(jobs.CellText(row, discovery::kColId));
    if (n && *n <= std::numeric_limits<std::uint32_t>::max()) {
        if (const auto it = ctx.Listed.find(static_cast<std::uint32_t>(*n));
            it != ctx.Listed.end()) {
            return it->second.length;
        }
    }
    return discovery::LeadingWholeNumber(jobs.CellText(row, discovery::kColSizeBytes)).value_or(0);
}

void Refuse(RunContext& ctx, const std::string& prompt) {
    ctx.window.MessageBox(prompt, "Error", mb::kOk | mb::kExclamation);
}

// Asks once for every volume that has less room than its images need.
bool EnoughSpace(RunContext& ctx, const DriveSlots& slots) {
    std::vector<std::string> order;
    std::map<std::string, std::uint64_t> needed;
    std::map<std::string, std::string> anyPath;
    for (std::size_t k = 0; k < slots.size(); ++k) {
        const std::string& path = slots[k].ImagePath;
        const std::string volume = ctx.services.paths.VolumeOf(path).value_or(path);
        if (!needed.contains(volume)) {
            order.push_back(volume);
            anyPath[volume] = path;
        }
        needed[volume] += JobBytes(ctx, static_cast<int>(k) + 1);
    }
    for (const std::string& volume : order) {
        const std::uint64_t free = ctx.services.storage.FreeBytes(anyPath[volume]).value_or(0);
        if (free < needed[volume] &&
            ctx.window.MessageBox(
                "There is not enough space on the target drive. Do you want to continue?",
                "Warning!", mb::kYesNo | mb::kExclamation) != Answer::Yes) {
            return false;
        }
    }
    return true;
}

void SetUpProgress(RunContext& ctx) {
    std::uint64_t largest = 0;
    for (int row = 1; row <= ctx.jobs.iGrid2.RowCount(); ++row) {
        largest = std::max(largest, JobBytes(ctx, row));
    }
    ctx.run.BlockSize = kBlockSize;
    const double q = RoundHalfEven(static_cast<double>(largest) / kBlockSize * 10000.0) / 10000.0;
    if (q > 0) {
        const double max = RoundHalfEven(q + 1);
        if (max <= std::numeric_limits<std::int32_t>::max()) {
            ctx.ProgressMax = static_cast<std::int32_t>(max);
            ctx.window.SetProgressMax(ctx.ProgressMax);
        }
        ctx.window.SetVisible(Control::ProgBarXP1, true);
    }
    ctx.run.BytesPerDriveTotal = static_cast<std::int64_t>((std::floor(q) + 1) * kBlockSize);
}

// A file system with a file size limit of its own (FAT: 4 GiB - 1 byte) cannot take a larger
// drive's image: refused now, not hours into the run.
bool ImagesFitTheirFileSystems(RunContext& ctx, const DriveSlots& slots) {
    for (std::size_t k = 0; k < slots.size(); ++k) {
        const std::uint64_t bytes = JobBytes(ctx, static_cast<int>(k) + 1);
        const auto limit = ctx.services.storage.LargestFile(slots[k].ImagePath);
        if (limit && bytes > limit->largest) {
            Refuse(ctx, "The image " + slots[k].ImagePath + " cannot be written: the drive holds " +
                            std::to_string(bytes) + " bytes, and its target's file system (" +
                            limit->fileSystem + ") holds no file over " +
                            std::to_string(limit->largest) + " bytes.");
            return false;
        }
    }
    return true;
}

// The files a job writes: its image, then its record.
std::vector<std::string> FilesOf(const DriveSlot& slot) {
    return {slot.ImagePath, RecordPath(slot.ImagePath)};
}

// Two jobs never write one file, however their paths are spelled.
bool PathsArePlainAndDistinct(RunContext& ctx, const DriveSlots& slots) {
    std::set<std::string> seen;
    for (const DriveSlot& slot : slots) {
        if (!ctx.services.files.IsRootedPath(slot.ImagePath)) {
            Refuse(ctx, "The image path \"" + slot.ImagePath + "\" is not a full path to a file.");
            return false;
        }
        for (const std::string& path : FilesOf(slot)) {
            if (ctx.services.storage.KindOf(path) == platform::PathKind::Other) {
                Refuse(ctx, "The image path " + path + " is not a regular file.");
                return false;
            }
            const platform::FileKey key = ctx.services.storage.KeyOf(path);
            if (!key.key) {
                Refuse(ctx, "The image path " + path + " cannot be checked: " + key.error);
                return false;
            }
            if (!seen.insert(*key.key).second) {
                Refuse(ctx, "Two drives would be imaged into the same file " + path + ".");
                return false;
            }
        }
    }
    return true;
}

// A file behind a drive (a loop device's or a virtual disk's) is that drive's contents.
bool NoFileBacksADrive(RunContext& ctx, const DriveSlots& slots) {
    for (const DriveSlot& slot : slots) {
        for (const std::string& path : FilesOf(slot)) {
            const std::vector<std::string> drives = ctx.services.catalog.DrivesBackedBy(path);
            if (!drives.empty()) {
                Refuse(ctx, "The file " + path + " holds the contents of the drive " +
                                drives.front() + ": writing it would destroy that drive.");
                return false;
            }
        }
    }
    return true;
}

// No image may land on a disk being read, wherever its folder's file system really lies.
bool TargetsAreNotSources(RunContext& ctx, const DriveSlots& slots) {
    const grid::GridModel& jobs = ctx.jobs.iGrid2;
    std::set<std::uint64_t> sources;
    for (int row = 1; row <= jobs.RowCount(); ++row) {
        if (const auto n = discovery::LeadingWholeNumber(jobs.CellText(row, discovery::kColId))) {
            sources.insert(*n);
        }
    }
    for (const DriveSlot& slot : slots) {
        const platform::DisksUnder under = ctx.services.catalog.DisksHolding(slot.ImagePath);
        if (under.kind == platform::DisksUnder::Kind::Unknown) {
            Refuse(ctx, "The disks under the image path " + slot.ImagePath +
                            " could not be worked out: " + under.reason);
            return false;
        }
        for (const std::uint32_t drive : under.drives) {
            if (sources.contains(drive)) {
                Refuse(ctx, "The target is one of the source drives, this will cause problems.");
                return false;
            }
        }
    }
    return true;
}

bool ConfirmOverwrite(RunContext& ctx, const std::string& path) {
    return ctx.services.storage.KindOf(path) != platform::PathKind::RegularFile ||
           ctx.window.MessageBox("The file " + path +
                                     " already exists and will be overwritten. Are you sure you "
                                     "want to do this?",
                                 "File exists",
                                 mb::kYesNo | mb::kQuestion | mb::kSystemModal) == Answer::Yes;
}

// Every question before anything is opened, so that a No leaves every file as it was.
bool ConfirmOverwrites(RunContext& ctx, const DriveSlots& slots) {
    for (const DriveSlot& slot : slots) {
        for (const std::string& path : FilesOf(slot)) {
            if (!ConfirmOverwrite(ctx, path)) {
                return false;
            }
        }
    }
    return true;
}

// Opens drive n and checks that it is still the medium that was listed under that number.
platform::Opened<platform::RawDrive> OpenListedDrive(RunContext& ctx, const std::string& idText,
                                                     std::uint32_t& number) {
    const auto n = discovery::LeadingWholeNumber(idText);
    if (!n || *n > std::numeric_limits<std::uint32_t>::max()) {
        return {nullptr, {0, platform::IoError::NotFound, "no drive number"}};
    }
    number = static_cast<std::uint32_t>(*n);
    platform::Opened<platform::RawDrive> drive = ctx.services.storage.OpenDrive(number);
    const auto listed = ctx.Listed.find(number);
    if (drive.handle && listed != ctx.Listed.end() && !listed->second.identity.empty() &&
        drive.handle->Identity() != listed->second.identity) {
        return {nullptr,
                {0, platform::IoError::DeviceGone,
                 "the disk at drive number " + std::to_string(number) +
                     " has changed since it was listed"}};
    }
    return drive;
}

}  // namespace

bool CheckTargetAndJobs(RunContext& ctx) {
    auto usable = [&ctx] {
        return !ctx.jobs.TargetFolder.empty() &&
               ctx.services.files.IsRootedPath(ctx.jobs.TargetFolder);
    };
    if (!usable()) {
        jobs::ChooseTargetFolder(ctx.jobs);
    }
    if (!usable()) {
        ctx.window.MessageBox("No target folder selected.", "Error",
                              mb::kOk | mb::kExclamation | mb::kSystemModal);
        return false;
    }
    if (ctx.jobs.iGrid2.RowCount() == 0) {
        ctx.window.MessageBox("Please select drives to image.", "No drives selected.",
                              mb::kOk | mb::kExclamation);
        return false;
    }
    return true;
}

bool PrepareSlots(RunContext& ctx, DriveSlots& slots) {
    slots.clear();
    slots.resize(static_cast<std::size_t>(ctx.jobs.iGrid2.RowCount()));
    for (std::size_t k = 0; k < slots.size(); ++k) {
        slots[k].ImagePath = ctx.jobs.iGrid2.CellText(static_cast<int>(k) + 1, jobs::kColFileName);
    }
    if (!ImagesFitTheirFileSystems(ctx, slots) || !EnoughSpace(ctx, slots)) {
        return false;
    }
    SetUpProgress(ctx);
    if (!PathsArePlainAndDistinct(ctx, slots) || !NoFileBacksADrive(ctx, slots) ||
        !TargetsAreNotSources(ctx, slots)) {
        return false;
    }
    if (!ConfirmOverwrites(ctx, slots)) {
        ctx.window.SetVisible(Control::ProgBarXP1, false);
        return false;
    }
    const char separator = ctx.services.files.Separator();
    if (ctx.jobs.TargetFolder.back() != separator) {
        ctx.jobs.TargetFolder += separator;
    }
    return true;
}

// Every drive is opened and checked before any image is created: a drive that is not the
// one listed must not cost a file.
void OpenAll(RunContext& ctx, DriveSlots& slots) {
    for (std::size_t k = 0; k < slots.size(); ++k) {
        DriveSlot& slot = slots[k];
        platform::Opened<platform::RawDrive> drive = OpenListedDrive(
            ctx, ctx.jobs.iGrid2.CellText(static_cast<int>(k) + 1, 1), slot.driveNumber);
        if (!drive.handle) {
            slot.state = SlotState::OpenError;
            slot.errorText = drive.error.message;
            SetStatus(ctx, k, "Open Error ...");
            continue;
        }
        slot.driveLength = drive.handle->Length();
        slot.sectorSize = drive.handle->SectorSize();
        slot.SourceHandle = std::move(drive.handle);
    }
    for (std::size_t k = 0; k < slots.size(); ++k) {
        DriveSlot& slot = slots[k];
        if (slot.state != SlotState::Copying) {
            continue;
        }
        platform::Opened<platform::ImageFile> image =
            ctx.services.storage.CreateImage(slot.ImagePath);
        if (!image.handle) {
            slot.state = SlotState::WriteError;
            slot.errorText = image.error.message;
            slot.SourceHandle.reset();
            SetStatus(ctx, k, "Write Error ...");
            continue;
        }
        slot.imageCreated = true;
        slot.imageNote = image.handle->AccessNote();
        slot.ImageHandle = std::move(image.handle);
        SetStatus(ctx, k, "Imaging...");
    }
}

}  // namespace velmaris::imaging

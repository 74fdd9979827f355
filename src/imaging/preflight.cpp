#include "imaging/preflight.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>

#include "discovery/drive_list.h"
#include "discovery/number_text.h"
#include "imaging/progress.h"
#include "jobs/target_folder.h"

namespace velmaris::imaging {

using platform::Answer;
using platform::Control;
namespace mb = platform::mb;

namespace {

std::uint64_t JobBytes(const ui::GridModel& jobs, int row) {
    return discovery::LeadingWholeNumber(jobs.CellText(row, discovery::kColSizeBytes)).value_or(0);
}

void Refuse(RunContext& ctx, const std::string& prompt) {
    ctx.window.MessageBox(prompt, "Error", mb::kOk | mb::kExclamation);
}

std::string AsciiLower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return text;
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
        needed[volume] += JobBytes(ctx.jobs.iGrid2, static_cast<int>(k) + 1);
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
        largest = std::max(largest, JobBytes(ctx.jobs.iGrid2, row));
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

bool PathsArePlainAndDistinct(RunContext& ctx, const DriveSlots& slots) {
    std::map<std::string, std::size_t> seen;
    for (const DriveSlot& slot : slots) {
        const std::string& path = slot.ImagePath;
        if (!ctx.services.files.IsRootedPath(path)) {
            Refuse(ctx, "The image path \"" + path + "\" is not a full path to a file.");
            return false;
        }
        if (ctx.services.storage.KindOf(path) == platform::PathKind::Other) {
            Refuse(ctx, "The image path " + path + " is not a regular file.");
            return false;
        }
        const std::string key = std::filesystem::path(path).lexically_normal().string();
        if (seen.contains(key)) {
            Refuse(ctx, "Two drives would be imaged into the same file " + path + ".");
            return false;
        }
        seen[key] = 1;
    }
    return true;
}

// No image may be written onto a volume of a drive being read.
bool TargetsAreNotSources(RunContext& ctx, const DriveSlots& slots) {
    const ui::GridModel& jobs = ctx.jobs.iGrid2;
    for (const DriveSlot& slot : slots) {
        const std::optional<std::string> volume = ctx.services.paths.VolumeOf(slot.ImagePath);
        if (!volume) {
            continue;
        }
        for (int row = 1; row <= jobs.RowCount(); ++row) {
            const auto* n = std::get_if<std::int64_t>(&jobs.CellValue(row, discovery::kColId));
            const auto letters =
                n ? ctx.DriveLetters.find(static_cast<std::uint32_t>(*n)) : ctx.DriveLetters.end();
            if (letters == ctx.DriveLetters.end()) {
                continue;
            }
            for (const std::string& letter : letters->second) {
                if (AsciiLower(letter) == AsciiLower(*volume)) {
                    Refuse(ctx,
                           "The target is one of the source drives, this will cause problems.");
                    return false;
                }
            }
        }
    }
    return true;
}

// Every question before anything is opened, so that a No leaves every file as it was.
bool ConfirmOverwrites(RunContext& ctx, const DriveSlots& slots) {
    for (const DriveSlot& slot : slots) {
        if (ctx.services.storage.KindOf(slot.ImagePath) == platform::PathKind::RegularFile &&
            ctx.window.MessageBox("The file " + slot.ImagePath +
                                      " already exists and will be overwritten. Are you sure you "
                                      "want to do this?",
                                  "File exists",
                                  mb::kYesNo | mb::kQuestion | mb::kSystemModal) != Answer::Yes) {
            return false;
        }
    }
    return true;
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
    if (!EnoughSpace(ctx, slots)) {
        return false;
    }
    SetUpProgress(ctx);
    if (!PathsArePlainAndDistinct(ctx, slots) || !TargetsAreNotSources(ctx, slots)) {
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

void OpenAll(RunContext& ctx, DriveSlots& slots) {
    for (std::size_t k = 0; k < slots.size(); ++k) {
        DriveSlot& slot = slots[k];
        const int row = static_cast<int>(k) + 1;
        const auto n = discovery::LeadingWholeNumber(ctx.jobs.iGrid2.CellText(row, 1));
        platform::Opened<platform::RawDrive> drive;
        if (n && *n <= std::numeric_limits<std::uint32_t>::max()) {
            drive = ctx.services.storage.OpenDrive(static_cast<std::uint32_t>(*n));
        } else {
            drive.error = {0, platform::IoError::NotFound, "no drive number"};
        }
        // A drive whose size changed since it was listed may be another disk now.
        if (drive.handle && drive.handle->Length() != JobBytes(ctx.jobs.iGrid2, row)) {
            drive = {nullptr, {0, platform::IoError::DeviceGone, "the drive's size has changed"}};
        }
        if (!drive.handle) {
            slot.state = SlotState::OpenError;
            slot.errorText = drive.error.message;
            SetStatus(ctx, k, "Open Error ...");
            continue;
        }
        platform::Opened<platform::ImageFile> image =
            ctx.services.storage.CreateImage(slot.ImagePath);
        if (!image.handle) {
            slot.state = SlotState::WriteError;
            slot.errorText = image.error.message;
            SetStatus(ctx, k, "Write Error ...");
            continue;
        }
        slot.driveLength = drive.handle->Length();
        slot.sectorSize = drive.handle->SectorSize();
        slot.imageCreated = true;
        slot.SourceHandle = std::move(drive.handle);
        slot.ImageHandle = std::move(image.handle);
        SetStatus(ctx, k, "Imaging...");
    }
}

}  // namespace velmaris::imaging

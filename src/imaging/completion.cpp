#include "imaging/completion.h"

#include <optional>
#include <string>

#include "imaging/image_record.h"
#include "imaging/run_mode.h"
#include "imaging/verification_result.h"

namespace velmaris::imaging {

using platform::Control;

namespace {

// The status the copy leaves a slot with; "Done." only for a perfect image, complete and on
// the disk.
std::string CopyStatus(const DriveSlot& slot, bool stopped) {
    switch (slot.state) {
        case SlotState::OpenError:
            return "Open Error ...";
        case SlotState::ReadError:
            return "Read Error ...";
        case SlotState::WriteError:
            return "Write Error ...";
        case SlotState::Copying:
            break;
    }
    if (slot.bytesCopied == slot.driveLength) {
        const std::uint64_t unreadable = slot.unreadable.Count();
        if (unreadable == 0) {
            return "Done.";
        }
        return "Done: " + UnreadableCount(unreadable);
    }
    return stopped ? "Stopped" : "Read Error ...";
}

// Why a slot was not verified to its end, in the record's words.
std::string NotVerified(const RunContext& ctx) {
    if (!ctx.run.Verify) {
        return "not requested";
    }
    if (ctx.run.StopRequested == 1) {
        return "not verified: stopped by the user";
    }
    return "not verified: the image does not hold the whole drive";
}

// The copy has closed its images already; this closes whatever it did not reach.
void Close(DriveSlot& slot) {
    if (slot.ImageHandle) {
        const platform::IoResult finished = slot.ImageHandle->Finish();
        if (finished.error != platform::IoError::None && slot.state == SlotState::Copying) {
            slot.state = SlotState::WriteError;
            slot.errorText = finished.message;
        }
    }
    slot.ImageHandle.reset();
    slot.SourceHandle.reset();
}

ImageRecord RecordOf(RunContext& ctx, std::size_t k, DriveSlot& slot, const std::string& status,
                     const std::string& copyHash) {
    const grid::GridModel& jobs = ctx.jobs.iGrid2;
    const int row = static_cast<int>(k) + 1;
    ImageRecord record;
    record.driveNumber = jobs.CellText(row, 1);
    record.model = jobs.CellText(row, 2);
    record.pnpDeviceId = jobs.CellText(row, 4);
    if (slot.state != SlotState::OpenError) {
        record.length = slot.driveLength;
    }
    record.sectorSize = slot.sectorSize;
    record.imagePath = slot.ImagePath;
    record.started = ctx.run.StartedAt;
    record.ended = ctx.services.clock.LocalTime();
    record.bytesCopied = slot.bytesCopied;
    record.result = slot.errorText.empty() ? status : status + " (" + slot.errorText + ")";
    record.unreadable = slot.unreadable.ranges;
    if (slot.imageCreated) {
        record.imageAccess = slot.imageNote;
        record.sha256 = copyHash;
    }
    const SlotVerification& v = slot.verification;
    if (!v.finished) {
        record.verification = NotVerified(ctx);
        return record;
    }
    const VerificationResult judged = JudgeVerification(slot, copyHash);
    record.verification = "done";
    record.verifyResult =
        judged.reasons.empty() ? judged.status : judged.status + " (" + judged.reasons + ")";
    record.verifyStarted = v.startedAt;
    record.verifyEnded = v.endedAt;
    record.driveSha256 = v.driveSha256;
    record.imageSha256 = v.imageSha256;
    record.unreadableAgain = v.unreadable.ranges;
    record.differingBytes = v.differingBytes;
    record.firstDifferences = v.firstDifferences;
    return record;
}

// Writes and flushes a record; the system's words when it cannot.
std::optional<std::string> WriteRecord(platform::Storage& storage, const ImageRecord& record) {
    const std::string path = RecordPath(record.imagePath);
    platform::Opened<platform::ImageFile> file = storage.CreateImage(path);
    if (!file.handle) {
        return file.error.message;
    }
    const std::string text = FormatRecord(record);
    const platform::IoResult written =
        file.handle->Write(reinterpret_cast<const std::byte*>(text.data()), text.size());
    const platform::IoResult finished = file.handle->Finish();
    if (written.error != platform::IoError::None) {
        return written.message;
    }
    if (finished.error != platform::IoError::None) {
        return finished.message;
    }
    return std::nullopt;
}

}  // namespace

void EndSteps(RunContext& ctx, DriveSlots& slots) {
    const bool stopped = ctx.run.StopRequested == 1;
    bool allDone = true;
    std::string recordFailures;
    for (std::size_t k = 0; k < slots.size(); ++k) {
        DriveSlot& slot = slots[k];
        Close(slot);
        const std::string copyHash =
            slot.imageCreated ? platform::Sha256::Hex(slot.hash.Finish()) : std::string();
        const std::string copyStatus = CopyStatus(slot, stopped);
        const std::string status =
            slot.verification.finished ? JudgeVerification(slot, copyHash).status : copyStatus;
        // A run that verifies is complete only when every image was proven.
        allDone = allDone && status == (ctx.run.Verify ? "Verified." : "Done.");
        SetStatus(ctx, k, status);
        // The record keeps the copy's result apart from the verification's.
        const ImageRecord record = RecordOf(ctx, k, slot, copyStatus, copyHash);
        if (const auto failure = WriteRecord(ctx.services.storage, record)) {
            recordFailures += RecordPath(record.imagePath) + ": " + *failure + "\n";
        }
    }
    if (!recordFailures.empty()) {
        allDone = false;
        ctx.window.MessageBox("These records could not be written:\n" + recordFailures,
                              "Write Error", platform::mb::kOk | platform::mb::kExclamation);
    }
    LeaveRunMode(ctx);
    ctx.window.SetCaption(Control::StatusBar1, stopped   ? "Process stopped by user"
                                               : allDone ? "Process Complete"
                                                         : "Process finished with errors");
    ctx.window.SetVisible(Control::ProgBarXP1, false);
    if (stopped) {
        ctx.window.SetChecked(Control::Check1, false);
    }
    // The operator must see a failed or stopped run before the machine goes down. No new run
    // may start while the shutdown program is answering.
    if (allDone && !stopped && ctx.window.IsChecked(Control::Check1)) {
        ctx.window.SetEnabled(Control::Command2, false);
        StartShutdown(ctx.window, ctx.services.power);
        ctx.window.SetEnabled(Control::Command2, true);
    }
}

void RequestStop(platform::Window& window, ImagingRun& run) {
    if (window.MessageBox("Stop the imaging process, are you sure", "Stop process?",
                          platform::mb::kYesNo | platform::mb::kQuestion |
                              platform::mb::kSystemModal) == platform::Answer::Yes) {
        run.StopRequested = 1;
    }
}

void StartShutdown(platform::Window& window, platform::Power& power) {
    if (!window.IsChecked(Control::Check1)) {
        return;
    }
    const std::optional<std::string> failure =
        power.StartShutdown([&window] { window.PumpMessages(); });
    if (failure) {
        // Never offer to abort a shutdown that is not pending.
        window.MessageBox("The shutdown of the computer could not be started.\n" + *failure,
                          "Shutdown", platform::mb::kOk | platform::mb::kExclamation);
        return;
    }
    window.SetVisible(Control::Command6, true);
}

void AbortShutdown(platform::Window& window, platform::Power& power) {
    // A second click while the program answers would abort twice.
    window.SetEnabled(Control::Command6, false);
    const std::optional<std::string> failure =
        power.AbortShutdown([&window] { window.PumpMessages(); });
    window.SetEnabled(Control::Command6, true);
    if (failure) {
        // The shutdown may still be pending: the button stays for another try.
        window.MessageBox("The shutdown of the computer could not be aborted.\n" + *failure,
                          "Shutdown", platform::mb::kOk | platform::mb::kExclamation);
        return;
    }
    window.SetVisible(Control::Command6, false);
}

}  // namespace velmaris::imaging

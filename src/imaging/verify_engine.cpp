#include "imaging/verify_engine.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "discovery/capacity.h"
#include "imaging/drive_verifier.h"
#include "imaging/progress.h"

namespace velmaris::imaging {

using platform::Control;

namespace {

using Verifiers = std::vector<std::unique_ptr<DriveVerifier>>;

bool ImageIsWhole(const DriveSlot& slot) {
    return slot.state == SlotState::Copying && slot.imageCreated && slot.SourceHandle &&
           slot.bytesCopied == slot.driveLength;
}

// Opens the drive again and its image, each checked to be what was copied, and starts their
// comparison; null, with the reason in the slot, when that cannot be.
std::unique_ptr<DriveVerifier> StartVerifier(RunContext& ctx, DriveSlot& slot, VerifyBoard& board) {
    std::string& failure = slot.verification.failure;
    platform::Opened<platform::RawDrive> drive =
        ctx.services.storage.OpenDriveUncached(slot.driveNumber);
    platform::Opened<platform::RawDrive> image =
        ctx.services.storage.OpenImageUncached(slot.ImagePath);
    if (!drive.handle) {
        failure = "the drive could not be opened again: " + drive.error.message;
    } else if (drive.handle->Identity() != slot.SourceHandle->Identity()) {
        failure = "the drive opened again is not the drive imaged";
    } else if (drive.handle->Length() != slot.driveLength) {
        failure = "the drive now holds " + std::to_string(drive.handle->Length()) + " bytes, not " +
                  std::to_string(slot.driveLength);
    } else if (!image.handle) {
        failure = "the image could not be opened to read it back: " + image.error.message;
    } else if (image.handle->Length() != slot.driveLength) {
        failure = "the image holds " + std::to_string(image.handle->Length()) + " bytes, not " +
                  std::to_string(slot.driveLength);
    } else {
        try {
            return std::make_unique<DriveVerifier>(std::move(drive.handle), std::move(image.handle),
                                                   slot.driveLength, slot.unreadable,
                                                   slot.sectorSize, board);
        } catch (const std::system_error& error) {
            failure = std::string("the verification could not be started: ") + error.what();
        }
    }
    slot.verification.finished = true;
    return nullptr;
}

// The progress display starts again for the verification: its bar, bytes and clock.
void RestartProgress(RunContext& ctx, std::uint64_t longest, std::int32_t drives) {
    const std::uint64_t blocks = (longest + kBlockSize - 1) / kBlockSize;
    if (blocks > 0 &&
        blocks <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        ctx.ProgressMax = static_cast<std::int32_t>(blocks);
        ctx.window.SetProgressMax(ctx.ProgressMax);
    }
    ctx.window.SetProgressValue(0);
    ctx.window.SetCaption(Control::Label5, "0");
    ctx.run.BlockSize = kBlockSize;
    ctx.run.BytesDonePerDrive = 0;
    ctx.run.BytesPerDriveTotal = static_cast<std::int64_t>(blocks * kBlockSize);
    ctx.run.VerifyingDrives = drives;
    StartCopyClock(ctx.run, ctx.services.clock.Milliseconds());
}

// How far every drive still being verified has come: the slowest one's bytes.
std::uint64_t CommonProgress(const Verifiers& verifiers, std::uint64_t longest) {
    std::uint64_t done = longest;
    for (const auto& verifier : verifiers) {
        if (verifier && !verifier->Finished()) {
            done = std::min(done, verifier->Compared());
        }
    }
    return done;
}

void ShowProgress(RunContext& ctx, std::uint64_t done, const platform::NumberMarks& marks) {
    ctx.run.BytesDonePerDrive = static_cast<std::int64_t>(done);
    const std::uint64_t blocks = (done + kBlockSize - 1) / kBlockSize;
    ctx.window.SetProgressValue(static_cast<std::int32_t>(
        std::min<std::uint64_t>(blocks, static_cast<std::uint64_t>(std::max(ctx.ProgressMax, 0)))));
    ctx.window.SetCaption(Control::Label5, discovery::FormatGrouped(done, marks));
}

bool AllFinished(const Verifiers& verifiers) {
    return std::all_of(verifiers.begin(), verifiers.end(),
                       [](const auto& verifier) { return !verifier || verifier->Finished(); });
}

// Pumps the window until every verifier has finished or the user has stopped the run; true
// when stopped.
bool WaitForVerifiers(RunContext& ctx, VerifyBoard& board, const Verifiers& verifiers,
                      std::uint64_t longest) {
    const platform::NumberMarks marks = ctx.services.numbers.UserMarks();
    for (;;) {
        std::unique_lock lock(board.mutex);
        const bool finished = board.finished.wait_for(
            lock, ctx.pumpWhileWaiting, [&verifiers] { return AllFinished(verifiers); });
        const std::uint64_t done = CommonProgress(verifiers, longest);
        lock.unlock();
        ShowProgress(ctx, done, marks);
        ctx.window.PumpMessages();
        if (ctx.run.StopRequested == 1) {
            return true;
        }
        if (finished) {
            return false;
        }
    }
}

}  // namespace

void VerifyDrives(RunContext& ctx, DriveSlots& slots) {
    if (!ctx.run.Verify || ctx.run.StopRequested == 1) {
        return;
    }
    VerifyBoard board;
    Verifiers verifiers(slots.size());
    std::uint64_t longest = 0;
    std::int32_t drives = 0;
    const std::string startedAt = ctx.services.clock.LocalTime();
    for (std::size_t k = 0; k < slots.size(); ++k) {
        DriveSlot& slot = slots[k];
        if (!ImageIsWhole(slot)) {
            continue;
        }
        slot.verification.started = true;
        slot.verification.startedAt = startedAt;
        SetStatus(ctx, k, "Verifying...");
        verifiers[k] = StartVerifier(ctx, slot, board);
        longest = std::max(longest, slot.driveLength);
        ++drives;
    }
    if (drives == 0) {
        return;
    }
    ctx.window.SetCaption(Control::StatusBar1, drives > 1 ? "Verifying images" : "Verifying image");
    RestartProgress(ctx, longest, drives);
    if (WaitForVerifiers(ctx, board, verifiers, longest)) {
        for (const auto& verifier : verifiers) {
            if (verifier) {
                verifier->Stop();
            }
        }
    }
    const std::string endedAt = ctx.services.clock.LocalTime();
    for (std::size_t k = 0; k < slots.size(); ++k) {
        SlotVerification& result = slots[k].verification;
        if (verifiers[k]) {
            SlotVerification found = verifiers[k]->Join();
            found.started = true;
            found.startedAt = result.startedAt;
            result = std::move(found);
        }
        if (result.finished) {
            result.endedAt = endedAt;
        }
    }
    ctx.run.VerifyingDrives = 0;
}

}  // namespace velmaris::imaging

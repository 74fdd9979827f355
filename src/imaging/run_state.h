// The state of the one imaging run, and what it keeps for each selected drive.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "imaging/unreadable_sectors.h"
#include "platform/services.h"
#include "platform/sha256.h"

namespace velmaris::imaging {

struct ImagingRun {
    std::int32_t StartTick = 0;  // millisecond counter when the copy started
    std::int32_t NowTick = 0;    // millisecond counter at the latest display tick
    std::int32_t ElapsedSeconds = 0;
    std::int16_t StopRequested = 0;  // 1 once the user has confirmed the stop question
    std::int64_t RemainingBytes = 0;
    std::int64_t BytesDonePerDrive = 0;  // offset the drives have reached
    // 64 bits: a drive faster than 2 GiB/s would not fit the 32 bits a speed once had.
    std::int64_t BytesPerSecond = 0;
    std::int64_t BytesPerDriveTotal = 0;  // the largest drive rounded up to whole blocks
    std::int32_t RemainingSeconds = 0;
    std::int32_t MegabytesPerSecond = 0;
    std::int64_t BlockSize = 0;
    // Whether the copy has started, so that StartTick means something, and when, for the records.
    bool CopyStarted = false;
    std::string StartedAt;
    // The time since StartTick summed tick by tick, so that a run longer than the 32-bit
    // counter's 49.7 days is still timed right.
    std::uint64_t ElapsedMilliseconds = 0;
    std::uint32_t LastTick = 0;
    // Whether this run verifies its images, as the box was ticked when the run started.
    bool Verify = false;
    // Drives being verified: the speed counts these, not every row.
    std::int32_t VerifyingDrives = 0;

    // The reset at the start of every run.
    void Reset() {
        StopRequested = 0;
        RemainingBytes = 0;
        BytesDonePerDrive = 0;
        StartTick = 0;
        NowTick = 0;
        ElapsedSeconds = 0;
        CopyStarted = false;
        ElapsedMilliseconds = 0;
        LastTick = 0;
        VerifyingDrives = 0;
    }
};

// A drive read again and its image read back after the copy, compared and hashed.
struct SlotVerification {
    bool started = false;
    bool finished = false;  // both read to their ends, or one failed for good
    std::string startedAt, endedAt;
    std::string failure;  // why it could not be read to the end: the drive, the image
    std::optional<std::string> driveSha256, imageSha256;  // of the reads, when complete
    UnreadableSectors unreadable;                         // in the drive's second read
    std::uint64_t differingBytes = 0;             // outside sectors unreadable in either read
    std::vector<std::uint64_t> firstDifferences;  // byte offsets, the first kListedDifferences
};

inline constexpr std::size_t kListedDifferences = 100;

// How a drive's part in the run stands; only Copying drives take part in a pass.
enum class SlotState { Copying, OpenError, ReadError, WriteError };

struct DriveSlot {
    std::unique_ptr<platform::RawDrive> SourceHandle;
    std::unique_ptr<platform::ImageFile> ImageHandle;
    std::string ImagePath;
    bool Finished = false;  // the drive has left the current phase

    SlotState state = SlotState::Copying;
    std::uint64_t driveLength = 0;  // the drive's exact length, once opened
    std::uint32_t sectorSize = 0;   // the drive's logical sector size, once opened
    bool imageCreated = false;
    std::string imageNote;          // why the image is not readable by its owner only, if so
    platform::Sha256 hash;          // of every byte written to the image, in order
    std::uint64_t bytesCopied = 0;  // bytes written to the image, from offset 0
    std::string errorText;          // the system's words for the failure, if any
    UnreadableSectors unreadable;   // their bytes are zeros in the image
    std::uint32_t driveNumber = 0;  // once opened
    SlotVerification verification;
};

using DriveSlots = std::vector<DriveSlot>;

}  // namespace velmaris::imaging

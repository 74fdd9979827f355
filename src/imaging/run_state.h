// The state of the one imaging run, and what it keeps for each selected drive.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

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
    }
};

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
    // Sectors that could not be read, as first and last sector; their bytes are zeros.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> unreadable;
    std::uint64_t consecutiveUnreadable = 0;  // sectors, up to the last one read

    std::uint64_t UnreadableSectors() const {
        std::uint64_t count = 0;
        for (const auto& [first, last] : unreadable) {
            count += last - first + 1;
        }
        return count;
    }
};

using DriveSlots = std::vector<DriveSlot>;

}  // namespace velmaris::imaging

// One drive's part of a pass: a block read from the drive and appended to its image. In a
// parallel run each drive's copier works on a thread of its own and reads the next block ahead
// while the rest of the pass goes on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "imaging/run_state.h"

namespace velmaris::imaging {

inline constexpr std::size_t kBufferAlignment = 4096;
// A drive that fails this many sectors in a row is taken to be gone, not filled with zeros.
inline constexpr std::uint64_t kMaxConsecutiveUnreadable = 2048;

struct PassOutcome {
    bool delivered = false;  // a whole block was read
    platform::IoResult read;
    platform::IoResult write;
};

class DriveCopier {
  public:
    DriveCopier(DriveSlot& slot, std::size_t maxBlockSize);
    ~DriveCopier();
    DriveCopier(const DriveCopier&) = delete;
    DriveCopier& operator=(const DriveCopier&) = delete;

    // Copies one block on the calling thread.
    PassOutcome Step(std::size_t blockSize);
    // Flushes the image to the disk and closes it; the drive's part of the run is over.
    platform::IoResult FinishImage();
    // Reads the next block of the same size into the spare buffer. Only after a block was
    // delivered and written: a drive leaves a phase only on an empty read, so a block read
    // ahead is always used by the next step of the same size.
    void ReadAhead(std::size_t blockSize);

  private:
    struct AlignedFree {
        void operator()(std::byte* p) const;
    };
    using Buffer = std::unique_ptr<std::byte[], AlignedFree>;
    static Buffer Allocate(std::size_t size);
    // Reads a failed block again sector by sector; what still fails becomes zeros.
    platform::IoResult Recover(std::size_t blockSize);
    void NoteUnreadable(std::uint64_t offset);
    // Where the list of unreadable sectors stood before a block, to go back to when the block
    // is not written after all.
    struct UnreadableMark {
        std::size_t ranges = 0;
        std::uint64_t lastSector = 0;  // of the last range
    };
    UnreadableMark MarkUnreadable() const;
    void RewindUnreadable(const UnreadableMark& mark);

    DriveSlot& slot_;
    Buffer current_;
    Buffer spare_;
    std::optional<platform::IoResult> ahead_;  // the read-ahead result, for aheadSize_
    std::size_t aheadSize_ = 0;
};

// Counts the drives still working on a pass.
class PassLatch {
  public:
    void Arm(int count);
    void Arrive();
    // Waits at most timeout; true when every drive has arrived.
    bool WaitFor(std::chrono::milliseconds timeout);

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    int pending_ = 0;
};

// A copier on its own thread, for the length of a run.
class DriveWorker {
  public:
    DriveWorker(DriveSlot& slot, std::size_t maxBlockSize, PassLatch& latch);
    ~DriveWorker();
    DriveWorker(const DriveWorker&) = delete;
    DriveWorker& operator=(const DriveWorker&) = delete;

    // Starts the drive's part of a pass; the latch hears when it is done.
    void Start(std::size_t blockSize);
    // Starts flushing and closing the image; the latch hears when it is done, and the result
    // is the outcome's write.
    void StartFinish();
    // Valid after the latch has released the pass.
    const PassOutcome& Outcome() const { return outcome_; }

  private:
    void Loop();

    DriveCopier copier_;
    PassLatch& latch_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::size_t requested_ = 0;  // block size of the pass asked for, 0 when none
    bool finishRequested_ = false;
    bool quit_ = false;
    PassOutcome outcome_;
    std::thread thread_;
};

}  // namespace velmaris::imaging

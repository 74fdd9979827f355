// One drive's part of the copy: blocks read from the drive and appended to its image. In a
// parallel run each drive runs in a pipeline of its own, ahead of the passes the window's thread
// applies by a bounded number of blocks.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "imaging/aligned_buffer.h"
#include "imaging/hash_lane.h"
#include "imaging/run_state.h"

namespace velmaris::imaging {

struct PassOutcome {
    bool delivered = false;  // a whole block was read
    platform::IoResult read;
    platform::IoResult write;
};

class DriveCopier {
  public:
    // With hashOnItsOwnThread, the image's hash runs on a thread of its own (the calling thread
    // when that thread cannot be started).
    DriveCopier(DriveSlot& slot, std::size_t maxBlockSize, bool hashOnItsOwnThread = false);
    ~DriveCopier();
    DriveCopier(const DriveCopier&) = delete;
    DriveCopier& operator=(const DriveCopier&) = delete;

    // Copies one block on the calling thread.
    PassOutcome Step(std::size_t blockSize);
    // Flushes the image to the disk and closes it, and completes its hash; the drive's part of
    // the run is over.
    platform::IoResult FinishImage();
    // Bytes written to the image so far, from its start.
    std::uint64_t Written() const { return written_; }

  private:
    // Where the list of unreadable sectors stood before a block, to go back to when the block
    // is not written after all.
    struct UnreadableMark {
        std::size_t ranges = 0;
        std::uint64_t lastSector = 0;  // of the last range
    };
    UnreadableMark MarkUnreadable() const;
    void RewindUnreadable(const UnreadableMark& mark);

    DriveSlot& slot_;
    AlignedBuffer current_;
    std::unique_ptr<HashLane> hashLane_;
    std::uint64_t written_ = 0;
};

// Passes a drive's pipeline has delivered and the window's thread has not applied yet. One lock
// for every drive of a run: a pass is ready when all of them have delivered it.
class PassBoard {
  public:
    std::mutex mutex;
    std::condition_variable delivered;  // a pipeline delivered a pass or finished its image
};

// How many passes a drive may run ahead of the last pass applied: 4 MiB of blocks, enough to
// ride out the jitter of a busy drive, small enough that every image grows together.
inline constexpr std::size_t kPassLead = 32;

// A drive copied on a thread of its own for the length of a run: the block phase, then, when it
// ended at the last whole block, the finishing phase sector by sector, each step's outcome
// queued for the window's thread.
class DrivePipeline {
  public:
    DrivePipeline(DriveSlot& slot, PassBoard& board);
    ~DrivePipeline();
    DrivePipeline(const DrivePipeline&) = delete;
    DrivePipeline& operator=(const DrivePipeline&) = delete;

    // With the board locked: whether the next pass has been delivered, and taking it.
    bool HasPass() const { return !outcomes_.empty(); }
    PassOutcome TakePass();
    // Ends the copy at once: the pass being read is the last one.
    void Stop();
    // With the copy over or stopped, flushes and closes the image; the board hears when it is
    // done.
    void StartFinish();
    // With the board locked: whether the image is closed, and how.
    bool Finished() const { return finished_; }
    const platform::IoResult& FinishResult() const { return finishResult_; }
    // After Finished: the bytes the image holds.
    std::uint64_t Written() const { return copier_.Written(); }

  private:
    void Run();
    // Steps of one size until the drive leaves the phase; true when it reached its end whole.
    bool CopyPhase(std::size_t blockSize);

    DriveCopier copier_;
    PassBoard& board_;
    std::condition_variable room_;  // the window's thread took a pass, or the copy ends
    std::deque<PassOutcome> outcomes_;
    bool stop_ = false;
    bool finishRequested_ = false;
    bool finished_ = false;
    platform::IoResult finishResult_;
    std::thread thread_;
};

}  // namespace velmaris::imaging

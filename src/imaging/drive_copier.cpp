#include "imaging/drive_copier.h"

#include <algorithm>
#include <utility>

#include "imaging/run_context.h"

namespace velmaris::imaging {

DriveCopier::DriveCopier(DriveSlot& slot, std::size_t maxBlockSize, bool hashOnItsOwnThread)
    : slot_(slot), current_(AllocateAligned(maxBlockSize)) {
    if (hashOnItsOwnThread) {
        hashLane_ = StartHashLane(slot.hash, maxBlockSize);
    }
}

DriveCopier::~DriveCopier() = default;

PassOutcome DriveCopier::Step(std::size_t blockSize) {
    PassOutcome outcome;
    outcome.read = slot_.SourceHandle->Read(current_.get(), blockSize);
    const UnreadableMark before = MarkUnreadable();
    if (outcome.read.bytes == 0 && outcome.read.error != platform::IoError::None &&
        outcome.read.error != platform::IoError::DeviceGone) {
        outcome.read = RecoverBlock(*slot_.SourceHandle, current_.get(), blockSize, written_,
                                    slot_.unreadable);
    } else if (outcome.read.bytes == blockSize) {
        slot_.unreadable.consecutive = 0;
    }
    if (outcome.read.bytes != 0 && outcome.read.bytes != blockSize) {
        // Part of a block would land at the wrong offset later: never pass it on.
        outcome.read = {0, platform::IoError::Other, "the drive delivered part of a block"};
    }
    outcome.delivered = outcome.read.bytes == blockSize;
    if (outcome.delivered) {
        outcome.write = slot_.ImageHandle->Write(current_.get(), blockSize);
        if (outcome.write.error == platform::IoError::None) {
            if (hashLane_) {
                current_ = hashLane_->Exchange(std::move(current_), blockSize);
            } else {
                slot_.hash.Update(current_.get(), blockSize);
            }
            written_ += blockSize;
            return outcome;
        }
    }
    // The block never reached the image: its zeros are not there to be listed.
    RewindUnreadable(before);
    return outcome;
}

platform::IoResult DriveCopier::FinishImage() {
    platform::IoResult finished;
    if (slot_.ImageHandle) {
        finished = slot_.ImageHandle->Finish();
        slot_.ImageHandle.reset();
    }
    // The hash catches up while the image is flushed.
    if (hashLane_) {
        hashLane_->Drain();
    }
    return finished;
}

DriveCopier::UnreadableMark DriveCopier::MarkUnreadable() const {
    const auto& ranges = slot_.unreadable.ranges;
    return {ranges.size(), ranges.empty() ? 0 : ranges.back().second};
}

void DriveCopier::RewindUnreadable(const UnreadableMark& mark) {
    auto& ranges = slot_.unreadable.ranges;
    ranges.resize(mark.ranges);
    if (!ranges.empty()) {
        ranges.back().second = mark.lastSector;
    }
}

DrivePipeline::DrivePipeline(DriveSlot& slot, PassBoard& board)
    : copier_(slot, kBlockSize, true), board_(board), thread_([this] { Run(); }) {}

DrivePipeline::~DrivePipeline() {
    Stop();
    StartFinish();
    thread_.join();
}

PassOutcome DrivePipeline::TakePass() {
    PassOutcome outcome = std::move(outcomes_.front());
    outcomes_.pop_front();
    room_.notify_one();
    return outcome;
}

void DrivePipeline::Stop() {
    {
        std::lock_guard lock(board_.mutex);
        stop_ = true;
    }
    room_.notify_one();
}

void DrivePipeline::StartFinish() {
    {
        std::lock_guard lock(board_.mutex);
        finishRequested_ = true;
    }
    room_.notify_one();
}

void DrivePipeline::Run() {
    if (CopyPhase(kBlockSize)) {
        CopyPhase(kSectorSize);
    }
    {
        std::unique_lock lock(board_.mutex);
        room_.wait(lock, [this] { return finishRequested_; });
    }
    platform::IoResult result = copier_.FinishImage();
    {
        std::lock_guard lock(board_.mutex);
        finishResult_ = std::move(result);
        finished_ = true;
    }
    board_.delivered.notify_all();
}

bool DrivePipeline::CopyPhase(std::size_t blockSize) {
    for (;;) {
        {
            std::unique_lock lock(board_.mutex);
            room_.wait(lock, [this] { return stop_ || outcomes_.size() < kPassLead; });
            if (stop_) {
                return false;
            }
        }
        PassOutcome outcome = copier_.Step(blockSize);
        const bool delivered = outcome.delivered;
        const bool goesOn = delivered && outcome.write.error == platform::IoError::None;
        const bool reachedEnd = !delivered && outcome.read.error == platform::IoError::None;
        {
            std::lock_guard lock(board_.mutex);
            outcomes_.push_back(std::move(outcome));
        }
        board_.delivered.notify_all();
        if (!goesOn) {
            return reachedEnd;
        }
    }
}

}  // namespace velmaris::imaging

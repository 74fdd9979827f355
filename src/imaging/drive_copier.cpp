#include "imaging/drive_copier.h"

#include <algorithm>
#include <new>

namespace velmaris::imaging {

void DriveCopier::AlignedFree::operator()(std::byte* p) const {
    ::operator delete[](p, std::align_val_t{kBufferAlignment});
}

DriveCopier::Buffer DriveCopier::Allocate(std::size_t size) {
    return Buffer(
        static_cast<std::byte*>(::operator new[](size, std::align_val_t{kBufferAlignment})));
}

DriveCopier::DriveCopier(DriveSlot& slot, std::size_t maxBlockSize)
    : slot_(slot), current_(Allocate(maxBlockSize)), spare_(Allocate(maxBlockSize)) {}

DriveCopier::~DriveCopier() = default;

PassOutcome DriveCopier::Step(std::size_t blockSize) {
    PassOutcome outcome;
    if (ahead_ && aheadSize_ == blockSize) {
        std::swap(current_, spare_);
        outcome.read = std::move(*ahead_);
    } else {
        outcome.read = slot_.SourceHandle->Read(current_.get(), blockSize);
    }
    ahead_.reset();
    const UnreadableMark before = MarkUnreadable();
    if (outcome.read.bytes == 0 && outcome.read.error != platform::IoError::None &&
        outcome.read.error != platform::IoError::DeviceGone) {
        outcome.read = Recover(blockSize);
    } else if (outcome.read.bytes == blockSize) {
        slot_.consecutiveUnreadable = 0;
    }
    if (outcome.read.bytes != 0 && outcome.read.bytes != blockSize) {
        // Part of a block would land at the wrong offset later: never pass it on.
        outcome.read = {0, platform::IoError::Other, "the drive delivered part of a block"};
    }
    outcome.delivered = outcome.read.bytes == blockSize;
    if (outcome.delivered) {
        outcome.write = slot_.ImageHandle->Write(current_.get(), blockSize);
        if (outcome.write.error == platform::IoError::None) {
            slot_.hash.Update(current_.get(), blockSize);
            return outcome;
        }
    }
    // The block never reached the image: its zeros are not there to be listed.
    RewindUnreadable(before);
    return outcome;
}

platform::IoResult DriveCopier::FinishImage() {
    if (!slot_.ImageHandle) {
        return {};
    }
    platform::IoResult finished = slot_.ImageHandle->Finish();
    slot_.ImageHandle.reset();
    return finished;
}

platform::IoResult DriveCopier::Recover(std::size_t blockSize) {
    const std::size_t sector = slot_.SourceHandle->SectorSize();
    const std::size_t unit = std::min(blockSize, sector == 0 ? blockSize : sector);
    for (std::size_t at = 0; at < blockSize; at += unit) {
        std::byte* piece = current_.get() + at;
        platform::IoResult read = slot_.SourceHandle->Read(piece, unit);
        if (read.bytes == unit) {
            slot_.consecutiveUnreadable = 0;
            continue;
        }
        if (read.error == platform::IoError::DeviceGone) {
            return read;
        }
        std::fill(piece, piece + unit, std::byte{0});
        if (!slot_.SourceHandle->Skip(unit)) {
            return {0, platform::IoError::Other, "the drive ended inside a block"};
        }
        NoteUnreadable(slot_.bytesCopied + at);
        if (slot_.consecutiveUnreadable >= kMaxConsecutiveUnreadable) {
            return {0, platform::IoError::DeviceGone,
                    "too many unreadable sectors in a row: " + read.message};
        }
    }
    return {blockSize, platform::IoError::None, {}};
}

DriveCopier::UnreadableMark DriveCopier::MarkUnreadable() const {
    const auto& ranges = slot_.unreadable;
    return {ranges.size(), ranges.empty() ? 0 : ranges.back().second};
}

void DriveCopier::RewindUnreadable(const UnreadableMark& mark) {
    auto& ranges = slot_.unreadable;
    ranges.resize(mark.ranges);
    if (!ranges.empty()) {
        ranges.back().second = mark.lastSector;
    }
}

void DriveCopier::NoteUnreadable(std::uint64_t offset) {
    const std::uint64_t sector =
        offset / std::max<std::uint32_t>(slot_.SourceHandle->SectorSize(), 1);
    auto& ranges = slot_.unreadable;
    if (!ranges.empty() && ranges.back().second >= sector) {
        return;  // a piece of a sector already counted
    }
    ++slot_.consecutiveUnreadable;
    if (!ranges.empty() && ranges.back().second + 1 == sector) {
        ranges.back().second = sector;
    } else {
        ranges.emplace_back(sector, sector);
    }
}

void DriveCopier::ReadAhead(std::size_t blockSize) {
    ahead_ = slot_.SourceHandle->Read(spare_.get(), blockSize);
    aheadSize_ = blockSize;
}

void PassLatch::Arm(int count) {
    std::lock_guard lock(mutex_);
    pending_ = count;
}

void PassLatch::Arrive() {
    std::lock_guard lock(mutex_);
    if (--pending_ == 0) {
        done_.notify_one();
    }
}

bool PassLatch::WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return done_.wait_for(lock, timeout, [this] { return pending_ == 0; });
}

DriveWorker::DriveWorker(DriveSlot& slot, std::size_t maxBlockSize, PassLatch& latch)
    : copier_(slot, maxBlockSize), latch_(latch), thread_([this] { Loop(); }) {}

DriveWorker::~DriveWorker() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void DriveWorker::Start(std::size_t blockSize) {
    {
        std::lock_guard lock(mutex_);
        requested_ = blockSize;
    }
    wake_.notify_one();
}

void DriveWorker::StartFinish() {
    {
        std::lock_guard lock(mutex_);
        finishRequested_ = true;
    }
    wake_.notify_one();
}

void DriveWorker::Loop() {
    for (;;) {
        std::size_t blockSize = 0;
        bool finish = false;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return quit_ || requested_ != 0 || finishRequested_; });
            if (quit_) {
                return;
            }
            blockSize = requested_;
            finish = finishRequested_;
            requested_ = 0;
            finishRequested_ = false;
        }
        if (finish) {
            outcome_ = {};
            outcome_.write = copier_.FinishImage();
            latch_.Arrive();
            continue;
        }
        outcome_ = copier_.Step(blockSize);
        const bool goesOn = outcome_.delivered && outcome_.write.error == platform::IoError::None;
        latch_.Arrive();
        if (goesOn) {
            copier_.ReadAhead(blockSize);
        }
    }
}

}  // namespace velmaris::imaging

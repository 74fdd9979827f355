#include "imaging/block_stream.h"

#include <algorithm>
#include <utility>

namespace velmaris::imaging {

// Blocks read ahead: enough to keep the device busy while the hashes catch up.
constexpr std::size_t kBlocksAhead = 4;

BlockStream::BlockStream(platform::RawDrive& source, std::uint64_t length, std::size_t blockSize,
                         bool recover)
    : source_(source), length_(length), blockSize_(blockSize), recover_(recover) {
    for (std::size_t k = 0; k < kBlocksAhead; ++k) {
        free_.push_back(AllocateAligned(blockSize));
    }
    thread_ = std::thread([this] { Run(); });
}

BlockStream::~BlockStream() {
    Stop();
    thread_.join();
}

BlockStream::Block BlockStream::Take() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return stop_ || !ready_.empty(); });
    if (ready_.empty()) {
        return {nullptr, 0, {0, platform::IoError::Other, "stopped"}, {}};
    }
    Block block = std::move(ready_.front());
    ready_.pop_front();
    return block;
}

void BlockStream::Give(AlignedBuffer buffer) {
    {
        std::lock_guard lock(mutex_);
        free_.push_back(std::move(buffer));
    }
    changed_.notify_all();
}

void BlockStream::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
}

void BlockStream::Run() {
    for (std::uint64_t offset = 0; offset < length_;) {
        AlignedBuffer buffer;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stop_ || !free_.empty(); });
            if (stop_) {
                return;
            }
            buffer = std::move(free_.back());
            free_.pop_back();
        }
        Block block = ReadBlock(std::move(buffer), offset);
        const bool failed = block.failure.error != platform::IoError::None;
        offset += block.size;
        {
            std::lock_guard lock(mutex_);
            ready_.push_back(std::move(block));
        }
        changed_.notify_all();
        if (failed) {
            return;
        }
    }
}

BlockStream::Block BlockStream::ReadBlock(AlignedBuffer buffer, std::uint64_t offset) {
    Block block{std::move(buffer),
                static_cast<std::size_t>(std::min<std::uint64_t>(blockSize_, length_ - offset)),
                {},
                {}};
    platform::IoResult read = source_.Read(block.buffer.get(), block.size);
    if (read.bytes == block.size) {
        consecutiveUnreadable_ = 0;
        return block;
    }
    if (recover_ && read.error != platform::IoError::None &&
        read.error != platform::IoError::DeviceGone) {
        UnreadableSectors found;
        found.consecutive = consecutiveUnreadable_;
        read = RecoverBlock(source_, block.buffer.get(), block.size, offset, found);
        consecutiveUnreadable_ = found.consecutive;
        block.unreadable = std::move(found.ranges);
    }
    if (read.bytes != block.size) {
        block.failure =
            read.error != platform::IoError::None
                ? std::move(read)
                : platform::IoResult{0, platform::IoError::Other, "it ended before its length"};
    }
    return block;
}

}  // namespace velmaris::imaging

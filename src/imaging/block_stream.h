// A drive or an image read from its first byte to its length in blocks, on a thread of its own
// that stays a few blocks ahead of whoever takes them.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "imaging/aligned_buffer.h"
#include "imaging/unreadable_sectors.h"
#include "platform/services.h"

namespace velmaris::imaging {

class BlockStream {
  public:
    struct Block {
        AlignedBuffer buffer;
        std::size_t size = 0;
        platform::IoResult failure;  // error set: the stream ends here, this block is not read
        // Sectors of this block that read as zeros, first and last.
        std::vector<std::pair<std::uint64_t, std::uint64_t>> unreadable;
    };

    // With recover, a block that fails is read again sector by sector and what still fails is
    // zeros; without, the stream ends at the first failure.
    BlockStream(platform::RawDrive& source, std::uint64_t length, std::size_t blockSize,
                bool recover);
    ~BlockStream();
    BlockStream(const BlockStream&) = delete;
    BlockStream& operator=(const BlockStream&) = delete;

    // The next block in order, waiting for it; a failed block once stopped.
    Block Take();
    // A buffer of blockSize bytes for a later block.
    void Give(AlignedBuffer buffer);
    // Ends the reading after the block being read.
    void Stop();

  private:
    void Run();
    Block ReadBlock(AlignedBuffer buffer, std::uint64_t offset);

    platform::RawDrive& source_;
    std::uint64_t length_;
    std::size_t blockSize_;
    bool recover_;
    std::uint64_t consecutiveUnreadable_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Block> ready_;
    std::vector<AlignedBuffer> free_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace velmaris::imaging

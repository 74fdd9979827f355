// Sectors a drive would not give up, and the sector-by-sector reading that finds them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/services.h"

namespace velmaris::imaging {

// A drive that fails this many sectors in a row is taken to be gone, not filled with zeros.
inline constexpr std::uint64_t kMaxConsecutiveUnreadable = 2048;

struct UnreadableSectors {
    // First and last sector of each run, ascending.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    std::uint64_t consecutive = 0;  // sectors in a row, up to the last one read

    // Adds a sector past every one noted so far; a piece of the last one is counted once.
    void Note(std::uint64_t sector);
    std::uint64_t Count() const;
    bool Contains(std::uint64_t sector) const;
};

// "1 unreadable sector", "N unreadable sectors": as a row's status says it.
std::string UnreadableCount(std::uint64_t count);

// Reads a block that failed as a whole again, one sector at a time, from the drive's position
// at offset; what still fails becomes zeros and is noted. The block's bytes, or why the drive
// cannot go on (gone, ended early, too many failures in a row).
platform::IoResult RecoverBlock(platform::RawDrive& drive, std::byte* block, std::size_t size,
                                std::uint64_t offset, UnreadableSectors& unreadable);

}  // namespace velmaris::imaging

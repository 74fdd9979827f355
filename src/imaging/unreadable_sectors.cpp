#include "imaging/unreadable_sectors.h"

#include <algorithm>

namespace velmaris::imaging {

void UnreadableSectors::Note(std::uint64_t sector) {
    if (!ranges.empty() && ranges.back().second >= sector) {
        return;
    }
    ++consecutive;
    if (!ranges.empty() && ranges.back().second + 1 == sector) {
        ranges.back().second = sector;
    } else {
        ranges.emplace_back(sector, sector);
    }
}

std::uint64_t UnreadableSectors::Count() const {
    std::uint64_t count = 0;
    for (const auto& [first, last] : ranges) {
        count += last - first + 1;
    }
    return count;
}

std::string UnreadableCount(std::uint64_t count) {
    return std::to_string(count) + (count == 1 ? " unreadable sector" : " unreadable sectors");
}

bool UnreadableSectors::Contains(std::uint64_t sector) const {
    const auto after =
        std::upper_bound(ranges.begin(), ranges.end(), sector,
                         [](std::uint64_t s, const std::pair<std::uint64_t, std::uint64_t>& r) {
                             return s < r.first;
                         });
    return after != ranges.begin() && std::prev(after)->second >= sector;
}

platform::IoResult RecoverBlock(platform::RawDrive& drive, std::byte* block, std::size_t size,
                                std::uint64_t offset, UnreadableSectors& unreadable) {
    const std::size_t sector = drive.SectorSize();
    const std::size_t unit = std::min(size, sector == 0 ? size : sector);
    for (std::size_t at = 0; at < size; at += unit) {
        std::byte* piece = block + at;
        platform::IoResult read = drive.Read(piece, unit);
        if (read.bytes == unit) {
            unreadable.consecutive = 0;
            continue;
        }
        if (read.error == platform::IoError::DeviceGone) {
            return read;
        }
        std::fill(piece, piece + unit, std::byte{0});
        if (!drive.Skip(unit)) {
            return {0, platform::IoError::Other, "the drive ended inside a block"};
        }
        unreadable.Note((offset + at) / std::max<std::size_t>(sector, 1));
        if (unreadable.consecutive >= kMaxConsecutiveUnreadable) {
            return {0, platform::IoError::DeviceGone,
                    "too many unreadable sectors in a row: " + read.message};
        }
    }
    return {size, platform::IoError::None, {}};
}

}  // namespace velmaris::imaging

// The raw read contract kept once for every build: a read delivers the whole request or
// nothing, never runs past the drive's length, and moves the position only when it delivered.
#pragma once

#include <string>
#include <utility>

#include "platform/services.h"

namespace velmaris::platform {

class ContractRawDrive : public RawDrive {
  public:
    ContractRawDrive(std::uint64_t length, std::uint32_t sectorSize, std::string identity)
        : length_(length), sectorSize_(sectorSize), identity_(std::move(identity)) {}

    std::uint64_t Length() const final { return length_; }
    std::uint32_t SectorSize() const final { return sectorSize_; }
    std::string Identity() const final { return identity_; }

    IoResult Read(std::byte* buffer, std::size_t size) final {
        if (size > length_ - position_) {
            return {};  // past the end: nothing, and the device is not touched
        }
        IoResult result = ReadExactlyAt(position_, buffer, size);
        if (result.error != IoError::None) {
            return {0, result.error, std::move(result.message)};
        }
        position_ += size;
        return {size, IoError::None, {}};
    }

    bool Skip(std::size_t size) final {
        if (size > length_ - position_) {
            return false;
        }
        position_ += size;
        return true;
    }

  protected:
    // Exactly size bytes from offset, which the caller keeps within the length, or an error.
    virtual IoResult ReadExactlyAt(std::uint64_t offset, std::byte* buffer, std::size_t size) = 0;

  private:
    std::uint64_t length_;
    std::uint32_t sectorSize_;
    std::string identity_;
    std::uint64_t position_ = 0;
};

}  // namespace velmaris::platform

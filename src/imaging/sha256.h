// SHA-256 of the bytes an image is made of, fed block by block while they are copied.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace velmaris::imaging {

// Hand-written: Debian packages no static mingw build of a well-kept crypto library.
class Sha256 {
  public:
    Sha256();

    // Adds size bytes; data may be null when size is 0.
    void Update(const std::byte* data, std::size_t size);

    // The digest of everything added so far; more may be added afterwards.
    std::array<std::uint8_t, 32> Finish() const;

    // Starts a new message.
    void Reset();

    // The digest as 64 lower-case hex digits.
    static std::string Hex(const std::array<std::uint8_t, 32>& digest);

  private:
    static constexpr std::size_t kBlockSize = 64;

    std::array<std::uint32_t, 8> state_{};
    std::array<std::byte, kBlockSize> buffer_{};  // the tail of a block split across Updates
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;  // bytes added so far
};

}  // namespace velmaris::imaging

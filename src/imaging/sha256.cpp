#include "imaging/sha256.h"

#include <algorithm>
#include <cstring>

#include "imaging/sha256_blocks.h"

namespace velmaris::imaging {

namespace {

constexpr std::array<std::uint32_t, 8> kInitialState = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

}  // namespace

Sha256::Sha256() {
    Reset();
}

void Sha256::Reset() {
    state_ = kInitialState;
    buffered_ = 0;
    length_ = 0;
}

void Sha256::Update(const std::byte* data, std::size_t size) {
    if (size == 0) {
        return;  // data may be null, which memcpy must not see
    }
    length_ += size;
    if (buffered_ > 0) {
        const std::size_t take = std::min(size, kBlockSize - buffered_);
        std::memcpy(buffer_.data() + buffered_, data, take);
        buffered_ += take;
        data += take;
        size -= take;
        if (buffered_ < kBlockSize) {
            return;
        }
        Sha256Blocks(state_, buffer_.data(), 1);
        buffered_ = 0;
    }
    const std::size_t whole = size / kBlockSize;
    Sha256Blocks(state_, data, whole);
    data += whole * kBlockSize;
    size -= whole * kBlockSize;
    std::memcpy(buffer_.data(), data, size);
    buffered_ = size;
}

std::array<std::uint8_t, 32> Sha256::Finish() const {
    // Pads copies, so that the message may go on after a digest of what came so far.
    std::array<std::uint32_t, 8> state = state_;
    std::array<std::byte, kBlockSize> block = buffer_;
    std::size_t used = buffered_;
    // The length in bits, modulo 2^64 as the padding defines it.
    const std::uint64_t bits = length_ * 8;
    block[used++] = std::byte{0x80};
    constexpr std::size_t kLengthAt = kBlockSize - 8;
    if (used > kLengthAt) {
        std::fill(block.begin() + static_cast<std::ptrdiff_t>(used), block.end(), std::byte{0});
        Sha256Blocks(state, block.data(), 1);
        used = 0;
    }
    std::fill(block.begin() + static_cast<std::ptrdiff_t>(used), block.begin() + kLengthAt,
              std::byte{0});
    for (std::size_t i = 0; i < 8; ++i) {
        block[kLengthAt + i] =
            static_cast<std::byte>(static_cast<std::uint8_t>(bits >> (56 - 8 * i)));
    }
    Sha256Blocks(state, block.data(), 1);

    std::array<std::uint8_t, 32> digest;
    for (std::size_t i = 0; i < 8; ++i) {
        for (std::size_t j = 0; j < 4; ++j) {
            digest[4 * i + j] = static_cast<std::uint8_t>(state[i] >> (24 - 8 * j));
        }
    }
    return digest;
}

std::string Sha256::Hex(const std::array<std::uint8_t, 32>& digest) {
    constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * digest.size());
    for (const std::uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0f];
    }
    return text;
}

}  // namespace velmaris::imaging

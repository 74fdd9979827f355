#include "imaging/sha256.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace velmaris::imaging {

namespace {

constexpr std::array<std::uint32_t, 8> kInitialState = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

constexpr std::array<std::uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

// Byte by byte, so neither alignment nor the machine's byte order matters.
std::uint32_t LoadBigEndian(const std::byte* p) {
    return std::to_integer<std::uint32_t>(p[0]) << 24 | std::to_integer<std::uint32_t>(p[1]) << 16 |
           std::to_integer<std::uint32_t>(p[2]) << 8 | std::to_integer<std::uint32_t>(p[3]);
}

// Runs count whole blocks through the compression function, read in place from blocks. The
// state stays in locals across blocks, which matters when a call covers 2048 of them.
void CompressBlocks(std::array<std::uint32_t, 8>& state, const std::byte* blocks,
                    std::size_t count) {
    std::uint32_t h0 = state[0], h1 = state[1], h2 = state[2], h3 = state[3];
    std::uint32_t h4 = state[4], h5 = state[5], h6 = state[6], h7 = state[7];
    std::array<std::uint32_t, 64> w;
    for (std::size_t block = 0; block < count; ++block, blocks += 64) {
        for (std::size_t t = 0; t < 16; ++t) {
            w[t] = LoadBigEndian(blocks + 4 * t);
        }
        for (std::size_t t = 16; t < 64; ++t) {
            const std::uint32_t s0 =
                std::rotr(w[t - 15], 7) ^ std::rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
            const std::uint32_t s1 =
                std::rotr(w[t - 2], 17) ^ std::rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
            w[t] = w[t - 16] + s0 + w[t - 7] + s1;
        }
        std::uint32_t a = h0, b = h1, c = h2, d = h3, e = h4, f = h5, g = h6, h = h7;
        for (std::size_t t = 0; t < 64; ++t) {
            const std::uint32_t sum1 = std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25);
            const std::uint32_t choose = (e & f) ^ (~e & g);
            const std::uint32_t t1 = h + sum1 + choose + kRoundConstants[t] + w[t];
            const std::uint32_t sum0 = std::rotr(a, 2) ^ std::rotr(a, 13) ^ std::rotr(a, 22);
            const std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
            const std::uint32_t t2 = sum0 + majority;
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        h0 += a;
        h1 += b;
        h2 += c;
        h3 += d;
        h4 += e;
        h5 += f;
        h6 += g;
        h7 += h;
    }
    state = {h0, h1, h2, h3, h4, h5, h6, h7};
}

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
        CompressBlocks(state_, buffer_.data(), 1);
        buffered_ = 0;
    }
    const std::size_t whole = size / kBlockSize;
    CompressBlocks(state_, data, whole);
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
        CompressBlocks(state, block.data(), 1);
        used = 0;
    }
    std::fill(block.begin() + static_cast<std::ptrdiff_t>(used), block.begin() + kLengthAt,
              std::byte{0});
    for (std::size_t i = 0; i < 8; ++i) {
        block[kLengthAt + i] =
            static_cast<std::byte>(static_cast<std::uint8_t>(bits >> (56 - 8 * i)));
    }
    CompressBlocks(state, block.data(), 1);

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

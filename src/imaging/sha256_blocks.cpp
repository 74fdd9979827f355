#include "imaging/sha256_blocks.h"

#include <bit>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define VELMARIS_X86 1
#endif

namespace velmaris::imaging {

namespace {

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

}  // namespace

// The state stays in locals across blocks, which matters when a call covers 2048 of them.
void Sha256BlocksPortable(Sha256State& state, const std::byte* blocks, std::size_t count) {
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

#ifdef VELMARIS_X86

bool HasShaInstructions() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
        return false;
    }
    const bool sse = (ecx & bit_SSSE3) != 0 && (ecx & bit_SSE4_1) != 0;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) {
        return false;
    }
    return sse && (ebx & bit_SHA) != 0;
}

// The state goes in as the ABEF and CDGH lanes the instructions work on, and out again.
__attribute__((target("sha,sse4.1,ssse3"))) void Sha256BlocksShaInstructions(
    Sha256State& state, const std::byte* blocks, std::size_t count) {
    const __m128i swapBytes = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state.data()));
    __m128i state1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state.data() + 4));
    tmp = _mm_shuffle_epi32(tmp, 0xB1);
    state1 = _mm_shuffle_epi32(state1, 0x1B);
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);
    state1 = _mm_blend_epi16(state1, tmp, 0xF0);
    for (std::size_t block = 0; block < count; ++block, blocks += 64) {
        const __m128i abef = state0;
        const __m128i cdgh = state1;
        // The last four groups of four message words, w[i % 4] holding group i.
        __m128i w[4];  // std::array would drop the vector type's attributes
        for (std::size_t i = 0; i < 16; ++i) {
            __m128i words;
            if (i < 4) {
                words = _mm_shuffle_epi8(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), swapBytes);
            } else {
                words = _mm_sha256msg2_epu32(
                    _mm_add_epi32(_mm_sha256msg1_epu32(w[i % 4], w[(i + 1) % 4]),
                                  _mm_alignr_epi8(w[(i + 3) % 4], w[(i + 2) % 4], 4)),
                    w[(i + 3) % 4]);
            }
            w[i % 4] = words;
            __m128i msg = _mm_add_epi32(
                words, _mm_loadu_si128(reinterpret_cast<const __m128i*>(&kRoundConstants[4 * i])));
            state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
            msg = _mm_shuffle_epi32(msg, 0x0E);
            state0 = _mm_sha256rnds2_epu32(state0, state1, msg);
        }
        state0 = _mm_add_epi32(state0, abef);
        state1 = _mm_add_epi32(state1, cdgh);
    }
    tmp = _mm_shuffle_epi32(state0, 0x1B);
    state1 = _mm_shuffle_epi32(state1, 0xB1);
    state0 = _mm_blend_epi16(tmp, state1, 0xF0);
    state1 = _mm_alignr_epi8(state1, tmp, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state.data()), state0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state.data() + 4), state1);
}

#else

bool HasShaInstructions() {
    return false;
}

void Sha256BlocksShaInstructions(Sha256State& state, const std::byte* blocks, std::size_t count) {
    Sha256BlocksPortable(state, blocks, count);
}

#endif

void Sha256Blocks(Sha256State& state, const std::byte* blocks, std::size_t count) {
    static const bool withInstructions = HasShaInstructions();
    if (withInstructions) {
        Sha256BlocksShaInstructions(state, blocks, count);
    } else {
        Sha256BlocksPortable(state, blocks, count);
    }
}

}  // namespace velmaris::imaging

// The SHA-256 compression function over whole 64-byte blocks, with and without the SHA
// instructions of x86 processors.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace velmaris::imaging {

using Sha256State = std::array<std::uint32_t, 8>;

// Runs count whole blocks, read in place, through the compression function: with the
// processor's SHA instructions when it has them, which makes hashing cost a fifth.
void Sha256Blocks(Sha256State& state, const std::byte* blocks, std::size_t count);

// The same in plain C++, on any processor.
void Sha256BlocksPortable(Sha256State& state, const std::byte* blocks, std::size_t count);

// Whether this processor has the SHA instructions (and the SSE levels they come with).
bool HasShaInstructions();

// The same with those instructions; only to be called when HasShaInstructions().
void Sha256BlocksShaInstructions(Sha256State& state, const std::byte* blocks, std::size_t count);

}  // namespace velmaris::imaging

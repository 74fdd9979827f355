// Test bytes that differ from sector to sector, so that a read from a wrong offset shows.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

namespace velmaris::test {

inline std::string Pattern(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; i += 4) {
        const auto word = static_cast<std::uint32_t>(random());
        std::memcpy(bytes.data() + i, &word, std::min<std::size_t>(4, size - i));
    }
    return bytes;
}

}  // namespace velmaris::test

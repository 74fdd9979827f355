// Block buffers aligned for raw devices: a 4096-byte sector disk reads only into such memory.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

namespace velmaris::imaging {

inline constexpr std::size_t kBufferAlignment = 4096;

struct AlignedFree {
    void operator()(std::byte* p) const {
        ::operator delete[](p, std::align_val_t{kBufferAlignment});
    }
};
using AlignedBuffer = std::unique_ptr<std::byte[], AlignedFree>;

inline AlignedBuffer AllocateAligned(std::size_t size) {
    return AlignedBuffer(
        static_cast<std::byte*>(::operator new[](size, std::align_val_t{kBufferAlignment})));
}

}  // namespace velmaris::imaging

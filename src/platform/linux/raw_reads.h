// Reading raw bytes at an offset, through the page cache or past it (O_DIRECT).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/services.h"

namespace velmaris::platform::linux_io {

// Reads from offset into buffer, asking for up to span bytes, until at least need of them are
// in; the end of the file before that (a direct read at the end returns what is there, then
// nothing) is an error, as is any failed read.
IoResult ReadAtLeast(int fd, std::uint64_t offset, std::byte* buffer, std::size_t span,
                     std::size_t need);

// The alignment of offset, size and memory that direct reads of this open regular file need.
std::uint32_t DirectIoUnit(int fd);

// A drive over a descriptor opened with O_DIRECT, aligned to unit, that it takes over. Any
// request within the length is served: those not aligned to the unit through a buffer of its
// own.
std::unique_ptr<RawDrive> MakeDirectRawDrive(int fd, std::uint64_t length, std::uint32_t sectorSize,
                                             std::uint32_t unit, std::string identity);

}  // namespace velmaris::platform::linux_io

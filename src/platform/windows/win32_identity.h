// What Windows says a disk or a file is, whatever path or number reached it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velmaris::platform {

// The serial number in a STORAGE_DEVICE_DESCRIPTOR as IOCTL_STORAGE_QUERY_PROPERTY returns it:
// empty when its offset is 0, or when it does not end within the descriptor.
std::string SerialNumberOf(std::span<const std::byte> descriptor);

// The disk numbers in a VOLUME_DISK_EXTENTS, each once, ascending; nullopt when the bytes hold
// fewer extents than it counts.
std::optional<std::vector<std::uint32_t>> DiskNumbersOf(std::span<const std::byte> extents);

// An open disk's Plug and Play device instance id and serial number; empty when neither can be
// read. The same medium gives the same text through any handle.
std::string DiskIdentityOf(void* disk);

// The numbers of the disk devices present, as Plug and Play lists them.
std::vector<std::uint32_t> PresentDiskNumbers();

// "file:" + volume serial + file id of an open file; nullopt with error set when Windows does
// not say.
std::optional<std::string> FileIdentityOf(void* file, unsigned long& error);

}  // namespace velmaris::platform

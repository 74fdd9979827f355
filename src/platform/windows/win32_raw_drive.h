// A physical drive read through ReadFile at offsets, as Windows reads raw disks. The device
// under it is passed in: tests put one there that refuses what Windows refuses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/services.h"

namespace velmaris::platform {

// What a Win32 error code (GetLastError) means to the core. Media errors are Other, so that
// the block is read again sector by sector; DeviceGone only where the device or its medium
// has gone away.
IoError CategoryOf(unsigned long error);
// A failure with the system's own text.
IoResult Win32Failure(unsigned long error, std::size_t done = 0);

// The calls the drive makes on the device under it.
class DiskDevice {
  public:
    virtual ~DiskDevice() = default;
    // ReadFile of size bytes at offset: 0 with got set, or the error code.
    virtual unsigned long ReadAt(std::uint64_t offset, std::byte* buffer, std::uint32_t size,
                                 std::uint32_t& got) = 0;
    // The length IOCTL_DISK_GET_LENGTH_INFO reports now (a file's size for a file); nullopt
    // when the device does not answer.
    virtual std::optional<std::uint64_t> QueryLength() = 0;
};

// The device behind an open handle (a HANDLE), which it closes.
std::unique_ptr<DiskDevice> DeviceOver(void* handle);

// The raw drive over a device of the given length and logical sector size (a power of two
// up to 4096). Reads that do not start, end and land on sector boundaries go through an
// aligned buffer, since a disk or a file opened unbuffered refuses them. The length may end
// inside a sector, as a file's does: its last sector is asked for whole.
std::unique_ptr<RawDrive> MakeWin32RawDrive(std::unique_ptr<DiskDevice> device,
                                            std::uint64_t length, std::uint32_t sectorSize,
                                            std::string identity);

}  // namespace velmaris::platform

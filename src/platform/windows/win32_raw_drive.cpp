#include "platform/windows/win32_raw_drive.h"

#include <windows.h>

#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/contract_raw_drive.h"
#include "platform/windows/win32_files.h"
#include "platform/windows/win32_handle.h"

namespace velmaris::platform {
namespace {

// Codes of Microsoft's list that this toolchain's headers lack.
constexpr DWORD kErrorNoSuchDevice = 433;         // ERROR_NO_SUCH_DEVICE
constexpr DWORD kErrorDeviceHardwareError = 483;  // ERROR_DEVICE_HARDWARE_ERROR

// The largest piece one ReadFile is asked for.
constexpr DWORD kMaxPiece = DWORD{1} << 26;
// The aligned buffer for reads that do not fall on sector boundaries, and its alignment.
constexpr std::size_t kBounceSize = std::size_t{1} << 20;
constexpr std::size_t kAlignment = 4096;

std::uint64_t RoundDown(std::uint64_t value, std::uint32_t unit) {
    return value - value % unit;
}

std::uint64_t RoundUp(std::uint64_t value, std::uint32_t unit) {
    return RoundDown(value + unit - 1, unit);
}

class HandleDevice : public DiskDevice {
  public:
    explicit HandleDevice(HANDLE handle) : handle_(handle) {}

    unsigned long ReadAt(std::uint64_t offset, std::byte* buffer, std::uint32_t size,
                         std::uint32_t& got) override {
        // Reads by offset leave no file position to undo when they fail.
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD read = 0;
        const BOOL ok = ReadFile(handle_.Get(), buffer, size, &read, &at);
        got = read;
        return ok ? ERROR_SUCCESS : GetLastError();
    }

    std::optional<std::uint64_t> QueryLength() override {
        GET_LENGTH_INFORMATION length{};
        DWORD returned = 0;
        if (DeviceIoControl(handle_.Get(), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length,
                            sizeof(length), &returned, nullptr)) {
            return static_cast<std::uint64_t>(length.Length.QuadPart);
        }
        LARGE_INTEGER size{};
        if (GetFileType(handle_.Get()) == FILE_TYPE_DISK && GetFileSizeEx(handle_.Get(), &size)) {
            return static_cast<std::uint64_t>(size.QuadPart);
        }
        return std::nullopt;
    }

  private:
    Handle handle_;
};

class Win32RawDrive : public ContractRawDrive {
  public:
    Win32RawDrive(std::unique_ptr<DiskDevice> device, std::uint64_t length,
                  std::uint32_t sectorSize, std::string identity)
        : ContractRawDrive(length, sectorSize, std::move(identity)), device_(std::move(device)) {}

  protected:
    IoResult ReadExactlyAt(std::uint64_t offset, std::byte* buffer, std::size_t size) override {
        const std::uint32_t sector = SectorSize();
        const bool aligned = offset % sector == 0 && size % sector == 0 &&
                             reinterpret_cast<std::uintptr_t>(buffer) % sector == 0;
        return aligned ? ReadAt(offset, buffer, size) : ReadThroughBounce(offset, buffer, size);
    }

  private:
    // Exactly size bytes from offset, or an error. A file may end inside the last unit asked
    // for: ReadFile then delivers up to its end, which is all there is.
    IoResult ReadAt(std::uint64_t offset, std::byte* buffer, std::size_t size) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, Length() - offset));
        std::size_t done = 0;
        while (done < wanted) {
            const auto piece =
                static_cast<std::uint32_t>(std::min<std::size_t>(size - done, kMaxPiece));
            std::uint32_t got = 0;
            const unsigned long error = device_->ReadAt(offset + done, buffer + done, piece, got);
            if (error != ERROR_SUCCESS && error != ERROR_HANDLE_EOF) {
                return FailedRead(error);
            }
            if (error == ERROR_HANDLE_EOF || got == 0) {
                return {0, IoError::DeviceGone, "the drive ended before its reported length"};
            }
            done += got;
        }
        return {size, IoError::None, {}};
    }

    // A sector that is not found is a damaged sector, unless the disk has become shorter than
    // it was when it was opened: then the sectors past its new end are gone. A disk that knows
    // its new length refuses reads past it as invalid.
    IoResult FailedRead(unsigned long error) {
        if (error == ERROR_SECTOR_NOT_FOUND || error == ERROR_INVALID_PARAMETER) {
            const std::optional<std::uint64_t> now = device_->QueryLength();
            if (now && *now < Length()) {
                return {0, IoError::DeviceGone,
                        "the drive is now " + std::to_string(*now) + " bytes long, not " +
                            std::to_string(Length()) + ": " + SystemErrorText(error)};
            }
        }
        return Win32Failure(error);
    }

    // Whole sectors into the aligned buffer, and the wanted bytes out of it.
    IoResult ReadThroughBounce(std::uint64_t offset, std::byte* buffer, std::size_t size) {
        if (!bounce_) {
            bounce_.reset(static_cast<std::byte*>(_aligned_malloc(kBounceSize, kAlignment)));
            if (!bounce_) {
                return Win32Failure(ERROR_NOT_ENOUGH_MEMORY);
            }
        }
        const std::uint64_t end = offset + size;
        std::uint64_t at = offset;
        while (at < end) {
            const std::uint64_t start = RoundDown(at, SectorSize());
            // Whole units even where a file ends inside its last one: a file opened unbuffered
            // refuses any other size.
            const std::uint64_t stop = std::min(RoundUp(end, SectorSize()), start + kBounceSize);
            const auto span = static_cast<std::size_t>(stop - start);
            const auto wanted = static_cast<std::size_t>(std::min(stop, end) - at);
            if (IoResult r = ReadAt(start, bounce_.get(), span); r.error != IoError::None) {
                return r;
            }
            std::memcpy(buffer + (at - offset), bounce_.get() + (at - start), wanted);
            at += wanted;
        }
        return {size, IoError::None, {}};
    }

    struct AlignedFree {
        void operator()(std::byte* p) const { _aligned_free(p); }
    };

    std::unique_ptr<DiskDevice> device_;
    std::unique_ptr<std::byte, AlignedFree> bounce_;
};

}  // namespace

IoError CategoryOf(unsigned long error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
            return IoError::NotFound;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return IoError::AccessDenied;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return IoError::NoSpace;
        // The device is gone, or its medium was taken out or changed.
        case ERROR_BAD_UNIT:
        case ERROR_DEV_NOT_EXIST:
        case kErrorNoSuchDevice:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
        case ERROR_NOT_READY:
        case ERROR_NO_MEDIA_IN_DRIVE:
        case ERROR_MEDIA_CHANGED:
            return IoError::DeviceGone;
        // The medium failed where it was read: worth reading again piece by piece.
        case ERROR_CRC:
        case ERROR_SECTOR_NOT_FOUND:
        case ERROR_SEEK:
        case ERROR_READ_FAULT:
        case ERROR_GEN_FAILURE:
        case ERROR_IO_DEVICE:
        case kErrorDeviceHardwareError:
        case ERROR_DISK_OPERATION_FAILED:
        default:
            return IoError::Other;
    }
}

IoResult Win32Failure(unsigned long error, std::size_t done) {
    return {done, CategoryOf(error), SystemErrorText(error)};
}

std::unique_ptr<DiskDevice> DeviceOver(void* handle) {
    return std::make_unique<HandleDevice>(handle);
}

std::unique_ptr<RawDrive> MakeWin32RawDrive(std::unique_ptr<DiskDevice> device,
                                            std::uint64_t length, std::uint32_t sectorSize,
                                            std::string identity) {
    return std::make_unique<Win32RawDrive>(std::move(device), length, sectorSize,
                                           std::move(identity));
}

}  // namespace velmaris::platform

#include "platform/linux/raw_reads.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <utility>

#include "platform/contract_raw_drive.h"
#include "platform/linux/unique_fd.h"

namespace velmaris::platform::linux_io {
namespace {

struct FreeBytes {
    void operator()(std::byte* p) const { std::free(p); }
};

class DirectRawDrive : public ContractRawDrive {
  public:
    DirectRawDrive(int fd, std::uint64_t length, std::uint32_t sectorSize, std::uint32_t unit,
                   std::string identity)
        : ContractRawDrive(length, sectorSize, std::move(identity)), fd_(fd), unit_(unit) {}

  protected:
    IoResult ReadExactlyAt(std::uint64_t offset, std::byte* buffer, std::size_t size) override {
        const auto address = reinterpret_cast<std::uintptr_t>(buffer);
        if (offset % unit_ == 0 && size % unit_ == 0 && address % unit_ == 0) {
            return ReadAtLeast(fd_.Get(), offset, buffer, size, size);
        }
        // The last request of an image whose length is no whole number of units, or a piece of
        // a sector: the whole units around it, of which a direct read at the end of a file
        // returns only what is there.
        const std::uint64_t start = offset - offset % unit_;
        const std::size_t need = static_cast<std::size_t>(offset - start) + size;
        const std::size_t span = (need + unit_ - 1) / unit_ * unit_;
        if (span > bounceSize_) {
            bounce_.reset(static_cast<std::byte*>(std::aligned_alloc(unit_, span)));
            bounceSize_ = bounce_ ? span : 0;
            if (!bounce_) {
                return {0, IoError::Other, std::generic_category().message(ENOMEM)};
            }
        }
        IoResult read = ReadAtLeast(fd_.Get(), start, bounce_.get(), span, need);
        if (read.error != IoError::None) {
            return read;
        }
        std::memcpy(buffer, bounce_.get() + (offset - start), size);
        return {size, IoError::None, {}};
    }

  private:
    UniqueFd fd_;
    std::size_t unit_;
    std::unique_ptr<std::byte, FreeBytes> bounce_;
    std::size_t bounceSize_ = 0;
};

}  // namespace

IoResult ReadAtLeast(int fd, std::uint64_t offset, std::byte* buffer, std::size_t span,
                     std::size_t need) {
    std::size_t done = 0;
    while (done < need) {
        const ssize_t n =
            ::pread(fd, buffer + done, span - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int error = errno;
            const bool gone = error == ENXIO || error == ENODEV;
            return {0, gone ? IoError::DeviceGone : IoError::Other,
                    std::generic_category().message(error)};
        }
        if (n == 0) {
            return {0, IoError::DeviceGone, "the drive ended before its reported length"};
        }
        done += static_cast<std::size_t>(n);
    }
    return {need, IoError::None, {}};
}

std::uint32_t DirectIoUnit(int fd) {
    // A multiple of every logical sector size in use; what kernels before 6.1, which do not
    // tell, need on any block device with sectors up to that size.
    constexpr std::uint32_t kPage = 4096;
    struct statx info {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &info) != 0 ||
        (info.stx_mask & STATX_DIOALIGN) == 0) {
        return kPage;
    }
    return std::max({kPage, info.stx_dio_offset_align, info.stx_dio_mem_align});
}

std::unique_ptr<RawDrive> MakeDirectRawDrive(int fd, std::uint64_t length, std::uint32_t sectorSize,
                                             std::uint32_t unit, std::string identity) {
    return std::make_unique<DirectRawDrive>(fd, length, sectorSize, unit, std::move(identity));
}

}  // namespace velmaris::platform::linux_io

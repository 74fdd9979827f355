#include "platform/linux/linux_storage.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/contract_raw_drive.h"
#include "platform/linux/sysfs_disk_catalog.h"

namespace velmaris::platform {
namespace {

namespace fs = std::filesystem;

// How much is read or written between two trims of the page cache.
constexpr std::uint64_t kCacheWindow = std::uint64_t{8} << 20;

std::string Text(int error) {
    return std::generic_category().message(error);  // strerror, safe on worker threads
}

IoError CategoryOf(int error) {
    switch (error) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
            return IoError::NotFound;
        case EACCES:
        case EPERM:
        case EROFS:
            return IoError::AccessDenied;
        case ENOSPC:
        case EDQUOT:
            return IoError::NoSpace;
        default:
            return IoError::Other;
    }
}

IoResult Failure(int error) {
    return {0, CategoryOf(error), Text(error)};
}

off_t Offset(std::uint64_t value) {
    return static_cast<off_t>(value);
}

class UniqueFd {
  public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

class PosixRawDrive : public ContractRawDrive {
  public:
    PosixRawDrive(int fd, std::uint64_t length, std::uint32_t sectorSize)
        : ContractRawDrive(length, sectorSize), fd_(fd) {}

  protected:
    IoResult ReadExactlyAt(std::uint64_t offset, std::byte* buffer, std::size_t size) override {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pread(fd_.Get(), buffer + done, size - done, Offset(offset + done));
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n == 0) {
                return {0, IoError::DeviceGone, "the drive ended before its reported length"};
            } else if (errno != EINTR) {
                const int error = errno;
                const bool gone = error == ENXIO || error == ENODEV;
                return {0, gone ? IoError::DeviceGone : IoError::Other, Text(error)};
            }
        }
        const std::uint64_t reached = offset + size;
        if (reached - trimmed_ >= kCacheWindow) {
            // A whole disk passes through here once: keep it from crowding out the page cache.
            ::posix_fadvise(fd_.Get(), Offset(trimmed_), Offset(reached - trimmed_),
                            POSIX_FADV_DONTNEED);
            trimmed_ = reached;
        }
        return {size, IoError::None, {}};
    }

  private:
    UniqueFd fd_;
    std::uint64_t trimmed_ = 0;
};

class PosixImageFile : public ImageFile {
  public:
    explicit PosixImageFile(int fd) : fd_(fd) {}

    IoResult Write(const std::byte* buffer, std::size_t size) override {
        if (fd_.Get() < 0) {
            return Failure(EBADF);
        }
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd_.Get(), buffer + done, size - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n == 0) {
                return {done, IoError::Other, "the file took no more bytes"};
            } else if (errno != EINTR) {
                const int error = errno;
                return {done, CategoryOf(error), Text(error)};
            }
        }
        written_ += size;
        if (const int error = WriteBack(); error != 0) {
            return {size, CategoryOf(error), Text(error)};
        }
        return {size, IoError::None, {}};
    }

    IoResult Finish() override {
        const int fd = fd_.Release();
        if (fd < 0) {
            return Failure(EBADF);
        }
        if (::fsync(fd) != 0) {
            const int error = errno;
            ::close(fd);
            return Failure(error);
        }
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        // Not retried on EINTR: the descriptor is gone either way.
        if (::close(fd) != 0) {
            return Failure(errno);
        }
        return {};
    }

  private:
    // Each full window starts on its way to the disk at once, and the window before it leaves
    // the page cache once it is there: a whole disk's image neither crowds out the cache nor
    // leaves gigabytes for Finish to flush. Errors count: sync_file_range takes a writeback
    // error from the file, so a later fsync would no longer see it.
    int WriteBack() {
        if (written_ - started_ < kCacheWindow) {
            return 0;
        }
        if (::sync_file_range(fd_.Get(), Offset(started_), Offset(written_ - started_),
                              SYNC_FILE_RANGE_WRITE) != 0) {
            return errno;
        }
        if (started_ > dropped_) {
            if (::sync_file_range(fd_.Get(), Offset(dropped_), Offset(started_ - dropped_),
                                  SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                      SYNC_FILE_RANGE_WAIT_AFTER) != 0) {
                return errno;
            }
            ::posix_fadvise(fd_.Get(), Offset(dropped_), Offset(started_ - dropped_),
                            POSIX_FADV_DONTNEED);
        }
        dropped_ = started_;
        started_ = written_;
        return 0;
    }

    UniqueFd fd_;
    std::uint64_t written_ = 0;
    std::uint64_t started_ = 0;  // writeback was started for everything before this
    std::uint64_t dropped_ = 0;  // everything before this is on the disk and out of the cache
};

// The resolved path; nullopt with errno set when it cannot be resolved.
std::optional<std::string> Resolved(const fs::path& path) {
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                               &std::free);
    if (!resolved) {
        return std::nullopt;
    }
    return std::string(resolved.get());
}

// The resolved path, or that of its nearest existing folder when nothing is there.
std::optional<std::string> ResolvedOrNearestFolder(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::absolute(path, ec);
    if (ec) {
        return std::nullopt;
    }
    for (;;) {
        if (auto resolved = Resolved(p)) {
            return resolved;
        }
        if (errno != ENOENT || p.parent_path() == p) {
            return std::nullopt;
        }
        p = p.parent_path();
    }
}

// Device nodes and kernel files, which an image must never be written over.
bool IsSystemTree(const std::string& resolved) {
    for (const std::string_view root : {"/dev", "/proc", "/sys"}) {
        if (resolved.starts_with(root) &&
            (resolved.size() == root.size() || resolved[root.size()] == '/')) {
            return true;
        }
    }
    // procfs and sysfs mounted somewhere else, as in some containers.
    struct statfs info {};
    return ::statfs(resolved.c_str(), &info) == 0 &&
           (info.f_type == PROC_SUPER_MAGIC || info.f_type == SYSFS_MAGIC);
}

}  // namespace

LinuxStorage::LinuxStorage(DeviceLookup deviceOf) : deviceOf_(std::move(deviceOf)) {}

LinuxStorage::LinuxStorage(const SysfsDiskCatalog& catalog)
    : deviceOf_([&catalog](std::uint32_t n) { return catalog.DevicePathOf(n); }) {}

Opened<RawDrive> LinuxStorage::OpenDrive(std::uint32_t n) {
    const std::optional<std::string> node = deviceOf_ ? deviceOf_(n) : std::nullopt;
    if (!node) {
        return {nullptr, Failure(ENODEV)};
    }
    UniqueFd fd(::open(node->c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        return {nullptr, Failure(errno)};
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) {
        return {nullptr, Failure(errno)};
    }
    std::uint64_t length = 0;
    std::uint32_t sectorSize = 512;
    if (S_ISBLK(info.st_mode)) {
        int logical = 0;
        if (::ioctl(fd.Get(), BLKGETSIZE64, &length) != 0 ||
            ::ioctl(fd.Get(), BLKSSZGET, &logical) != 0) {
            return {nullptr, Failure(errno)};
        }
        if (logical <= 0) {
            return {nullptr, Failure(EINVAL)};
        }
        sectorSize = static_cast<std::uint32_t>(logical);
    } else if (S_ISREG(info.st_mode)) {
        length = static_cast<std::uint64_t>(info.st_size);
    } else {
        return {nullptr, Failure(ENOTBLK)};
    }
    ::posix_fadvise(fd.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);  // a larger read-ahead
    return {std::make_unique<PosixRawDrive>(fd.Release(), length, sectorSize), {}};
}

Opened<ImageFile> LinuxStorage::CreateImage(const std::string& path) {
    if (KindOf(path) == PathKind::Other) {
        return {nullptr, {0, IoError::Other, "Not a regular file"}};
    }
    // O_NONBLOCK: a FIFO put there since the check must not block the open.
    UniqueFd fd(::open(path.c_str(),
                       O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
    if (fd.Get() < 0) {
        const int error = errno;
        struct stat link {};
        if (error == ELOOP && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            return {nullptr, {0, IoError::Other, "Is a symbolic link"}};
        }
        return {nullptr, Failure(error)};
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) {
        return {nullptr, Failure(errno)};
    }
    if (!S_ISREG(info.st_mode)) {
        return {nullptr, {0, IoError::Other, "Not a regular file"}};
    }
    // The file may have existed with wider permissions; it is about to hold a whole disk.
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        ::fchmod(fd.Get(), 0600) != 0) {
        return {nullptr, Failure(errno)};
    }
    return {std::make_unique<PosixImageFile>(fd.Release()), {}};
}

PathKind LinuxStorage::KindOf(const std::string& path) {
    if (path.empty()) {
        return PathKind::Other;
    }
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0) {
        if (errno != ENOENT) {
            return PathKind::Other;
        }
        // Nothing there yet: where it would be created decides.
        const auto folder = ResolvedOrNearestFolder(path);
        return folder && !IsSystemTree(*folder) ? PathKind::Missing : PathKind::Other;
    }
    const auto resolved = Resolved(path);  // fails for a dangling or looping link
    struct stat info {};
    if (!resolved || ::stat(resolved->c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        IsSystemTree(*resolved)) {
        return PathKind::Other;
    }
    return PathKind::RegularFile;
}

std::optional<std::uint64_t> LinuxStorage::FreeBytes(const std::string& path) {
    const auto existing = ResolvedOrNearestFolder(path);
    struct statvfs info {};
    if (!existing || ::statvfs(existing->c_str(), &info) != 0) {
        return std::nullopt;
    }
    // f_bavail leaves out the blocks reserved for root: the space any user's image can take.
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

}  // namespace velmaris::platform

#include "platform/linux/linux_storage.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <wctype.h>

#include <algorithm>
#include <array>
#include <clocale>
#include <fstream>
#include <iterator>
#include <vector>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/contract_raw_drive.h"
#include "platform/linux/block_devices.h"
#include "platform/linux/mount_table.h"
#include "platform/linux/raw_reads.h"
#include "platform/linux/sysfs_disk_catalog.h"
#include "platform/linux/unique_fd.h"
#include "platform/linux/utf8_append.h"

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

class PosixRawDrive : public ContractRawDrive {
  public:
    PosixRawDrive(int fd, std::uint64_t length, std::uint32_t sectorSize, std::string identity)
        : ContractRawDrive(length, sectorSize, std::move(identity)), fd_(fd) {}

  protected:
    IoResult ReadExactlyAt(std::uint64_t offset, std::byte* buffer, std::size_t size) override {
        if (IoResult read = linux_io::ReadAtLeast(fd_.Get(), offset, buffer, size, size);
            read.error != IoError::None) {
            return read;
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
    PosixImageFile(int fd, std::string accessNote) : fd_(fd), accessNote_(std::move(accessNote)) {}

    std::string AccessNote() const override { return accessNote_; }

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
    std::string accessNote_;
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

std::string FileKeyText(const char* kind, const struct stat& info) {
    return std::string(kind) + ":" + std::to_string(major(info.st_dev)) + ":" +
           std::to_string(minor(info.st_dev)) + ":" + std::to_string(info.st_ino);
}

// The mount table's type of the file system with this device number ("fuse.fusefat").
std::string MountedType(dev_t device) {
    std::ifstream in("/proc/self/mountinfo", std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    for (const auto& entry : linux_mounts::ParseMountInfo(text)) {
        if (entry.major == major(device) && entry.minor == minor(device)) {
            return entry.fsType;
        }
    }
    return {};
}

// A resolved path as a path inside its file system: the mount's root folder and the rest.
std::optional<std::string> PathInsideFileSystem(const std::string& resolved, dev_t device) {
    std::ifstream in("/proc/self/mountinfo", std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<linux_mounts::MountEntry> same;
    for (auto& entry : linux_mounts::ParseMountInfo(text)) {
        if (entry.major == major(device) && entry.minor == minor(device)) {
            same.push_back(std::move(entry));
        }
    }
    const auto point = linux_mounts::MountPointHolding(same, resolved);
    if (!point) {
        return std::nullopt;
    }
    for (const auto& entry : same) {
        if (entry.mountPoint == *point) {
            const std::string below = *point == "/" ? resolved : resolved.substr(point->size());
            return entry.root == "/" ? (below.empty() ? "/" : below) : entry.root + below;
        }
    }
    return std::nullopt;
}

// Whether the file system of this folder takes two names differing in case for one file.
bool IgnoresCase(const fs::path& folder, const struct stat& info) {
    // Not in every kernel's headers.
    constexpr unsigned long kExfatMagic = 0x2011BAB0;
    constexpr unsigned long kFuseMagic = 0x65735546;
    constexpr unsigned long kCifsMagic = 0xFF534D42;
    constexpr unsigned long kSmb2Magic = 0xFE534D42;
    struct statfs fsInfo {};
    if (::statfs(folder.c_str(), &fsInfo) != 0) {
        return true;  // unknown: the stricter comparison
    }
    const auto type = static_cast<unsigned long>(fsInfo.f_type);
    if (type == MSDOS_SUPER_MAGIC || type == kExfatMagic) {
        return true;
    }
    if (type == kFuseMagic || type == kCifsMagic || type == kSmb2Magic) {
        static constexpr std::array<std::string_view, 6> kCaseless = {
            "fuse.fusefat", "fuse.exfat", "fuse.exfat-fuse", "fuseblk", "cifs", "smb3"};
        return std::find(kCaseless.begin(), kCaseless.end(), MountedType(info.st_dev)) !=
               kCaseless.end();
    }
    // ext4 and f2fs folders may be made case-insensitive one by one.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    const bool casefold =
        fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL) != 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return casefold;
}

// A name in upper case, letter by letter, as case-insensitive file systems compare names.
// Bytes that are not UTF-8 stay as they are.
std::string FoldedCase(const std::string& name) {
    const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    std::string out;
    for (std::size_t i = 0; i < name.size();) {
        const auto lead = static_cast<unsigned char>(name[i]);
        const std::size_t n = lead < 0x80         ? 1
                              : (lead >> 5) == 6  ? 2
                              : (lead >> 4) == 14 ? 3
                              : (lead >> 3) == 30 ? 4
                                                  : 0;
        std::uint32_t c = n == 1 ? lead : n == 0 ? 0 : lead & (0x7Fu >> n);
        bool valid = n != 0 && i + n <= name.size();
        for (std::size_t k = 1; valid && k < n; ++k) {
            const auto next = static_cast<unsigned char>(name[i + k]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3Fu);
        }
        if (!valid) {
            out.push_back(name[i++]);
            continue;
        }
        if (utf8 != locale_t{}) {
            c = static_cast<std::uint32_t>(::towupper_l(static_cast<wint_t>(c), utf8));
        } else if (c >= 'a' && c <= 'z') {
            c -= 32;
        }
        AppendUtf8(out, static_cast<char32_t>(c));
        i += n;
    }
    if (utf8 != locale_t{}) {
        ::freelocale(utf8);
    }
    return out;
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

// Whether a failed fchmod says that the file system keeps no modes of its own (FAT, a FUSE
// file system without chmod, a share) rather than that the file belongs to someone else.
bool KeepsNoModes(int error, const struct stat& file) {
    if (error == EOPNOTSUPP || error == ENOTSUP || error == ENOSYS) {
        return true;
    }
    return error == EPERM && (file.st_uid == ::geteuid() || ::geteuid() == 0);
}

// FAT12, FAT16 and FAT32 keep a file's size in 32 bits; exFAT does not.
constexpr std::uint64_t kFatLargestFile = 0xFFFFFFFFu;

// Why an open failed; one that O_NOFOLLOW refused says so in words of its own.
IoResult OpenFailure(const std::string& path, int error) {
    struct stat link {};
    if (error == ELOOP && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        return {0, IoError::Other, "Is a symbolic link"};
    }
    return Failure(error);
}

// A file opened with O_NONBLOCK, so that a FIFO could not block the open: refused unless it is
// a regular file, then back to blocking reads and writes. info receives its status.
std::optional<IoResult> RegularAndBlocking(int fd, struct stat& info) {
    if (::fstat(fd, &info) != 0) {
        return Failure(errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return IoResult{0, IoError::Other, "Not a regular file"};
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return Failure(errno);
    }
    return std::nullopt;
}

// Opens for reading past the page cache: with O_DIRECT where the file system takes it. Where it
// refuses it (EINVAL: ramfs, tmpfs before Linux 6.6), a plain open after dropping the file's
// cached pages, which the reader keeps dropping as it goes: its reads come from the medium all
// the same. Only clean pages can be dropped, and these are: a drive is only read, and an image
// was flushed when it was finished. -1 with errno when neither open succeeds.
int OpenPastCache(const char* path, int flags, bool& direct) {
    int fd = ::open(path, flags | O_DIRECT);
    direct = fd >= 0;
    if (fd < 0 && errno == EINVAL) {
        fd = ::open(path, flags);
        if (fd >= 0) {
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        }
    }
    return fd;
}

// Opens a drive's node read-only, through the page cache or past it.
Opened<RawDrive> OpenDriveNode(const std::optional<std::string>& node, bool uncached) {
    if (!node) {
        return {nullptr, Failure(ENODEV)};
    }
    bool direct = false;
    UniqueFd fd(uncached ? OpenPastCache(node->c_str(), O_RDONLY | O_CLOEXEC, direct)
                         : ::open(node->c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        return {nullptr, Failure(errno)};
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) {
        return {nullptr, Failure(errno)};
    }
    std::uint64_t length = 0;
    std::uint32_t sectorSize = 512;
    std::string identity = "file:" + std::to_string(major(info.st_dev)) + ":" +
                           std::to_string(minor(info.st_dev)) + ":" + std::to_string(info.st_ino);
    if (S_ISBLK(info.st_mode)) {
        // The medium behind this very descriptor, as the catalog described it when listing.
        std::error_code ec;
        const fs::path disk =
            fs::canonical(fs::path("/sys/dev/block") / (std::to_string(major(info.st_rdev)) + ":" +
                                                        std::to_string(minor(info.st_rdev))),
                          ec);
        identity = ec ? std::string() : linux_block::DiskIdentity(disk, fd.Get());
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
    if (direct) {
        // A block device takes direct reads in its logical sectors; a file, in its file system's.
        const std::uint32_t unit =
            S_ISBLK(info.st_mode) ? sectorSize : linux_io::DirectIoUnit(fd.Get());
        return {linux_io::MakeDirectRawDrive(fd.Release(), length, sectorSize, unit,
                                             std::move(identity)),
                {}};
    }
    ::posix_fadvise(fd.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);  // a larger read-ahead
    return {std::make_unique<PosixRawDrive>(fd.Release(), length, sectorSize, std::move(identity)),
            {}};
}

}  // namespace

LinuxStorage::LinuxStorage(DeviceLookup deviceOf) : deviceOf_(std::move(deviceOf)) {}

LinuxStorage::LinuxStorage(const SysfsDiskCatalog& catalog)
    : deviceOf_([&catalog](std::uint32_t n) { return catalog.DevicePathOf(n); }) {}

Opened<RawDrive> LinuxStorage::OpenDrive(std::uint32_t n) {
    return OpenDriveNode(deviceOf_ ? deviceOf_(n) : std::nullopt, false);
}

Opened<RawDrive> LinuxStorage::OpenDriveUncached(std::uint32_t n) {
    return OpenDriveNode(deviceOf_ ? deviceOf_(n) : std::nullopt, true);
}

Opened<RawDrive> LinuxStorage::OpenImageUncached(const std::string& path) {
    // O_NONBLOCK: a FIFO put there since the image was written must not block the open.
    bool direct = false;
    UniqueFd fd(
        OpenPastCache(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, direct));
    if (fd.Get() < 0) {
        return {nullptr, OpenFailure(path, errno)};
    }
    struct stat info {};
    if (auto refused = RegularAndBlocking(fd.Get(), info)) {
        return {nullptr, std::move(*refused)};
    }
    // An image's length is a whole number of its drive's sectors, so of 512 bytes: reads in that
    // unit reach its last byte whatever the unit of its file system.
    constexpr std::uint32_t kImageSector = 512;
    const auto length = static_cast<std::uint64_t>(info.st_size);
    if (direct) {
        const std::uint32_t unit = linux_io::DirectIoUnit(fd.Get());
        return {linux_io::MakeDirectRawDrive(fd.Release(), length, kImageSector, unit, {}), {}};
    }
    return {std::make_unique<PosixRawDrive>(fd.Release(), length, kImageSector, std::string()), {}};
}

Opened<ImageFile> LinuxStorage::CreateImage(const std::string& path) {
    if (KindOf(path) == PathKind::Other) {
        return {nullptr, {0, IoError::Other, "Not a regular file"}};
    }
    // O_NONBLOCK: a FIFO put there since the check must not block the open.
    UniqueFd fd(::open(path.c_str(),
                       O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
    if (fd.Get() < 0) {
        return {nullptr, OpenFailure(path, errno)};
    }
    struct stat info {};
    if (auto refused = RegularAndBlocking(fd.Get(), info)) {
        return {nullptr, std::move(*refused)};
    }
    // The file may have existed with wider permissions; it is about to hold a whole disk.
    std::string note;
    if (::fchmod(fd.Get(), 0600) != 0) {
        const int error = errno;
        if (!KeepsNoModes(error, info)) {
            return {nullptr, Failure(error)};
        }
        note = "the owner-only mode could not be applied (" + Text(error) +
               "); the file has the permissions its file system gives it";
    }
    return {std::make_unique<PosixImageFile>(fd.Release(), std::move(note)), {}};
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

FileKey LinuxStorage::KeyOf(const std::string& path) {
    std::error_code ec;
    fs::path existing = fs::absolute(path, ec);
    if (ec || path.empty()) {
        return {std::nullopt, ec ? ec.message() : Text(ENOENT)};
    }
    // The nearest existing folder, and the rest of the path that would be created under it.
    std::vector<std::string> rest;
    struct stat info {};
    while (::stat(existing.c_str(), &info) != 0) {
        if (errno != ENOENT || existing.parent_path() == existing) {
            return {std::nullopt, Text(errno)};
        }
        const std::string name = existing.filename().string();
        if (!name.empty() && name != ".") {
            rest.push_back(name);
        }
        existing = existing.parent_path();
    }
    std::reverse(rest.begin(), rest.end());
    std::string key;
    if (!IgnoresCase(existing, info)) {
        // Device and inode, whatever links and mounts led there.
        key = FileKeyText(rest.empty() ? "file" : "folder", info);
        for (const std::string& name : rest) {
            key += "/" + name;
        }
        return {key, {}};
    }
    // FUSE file systems give one file a new inode for every spelling of its name: compare the
    // path inside the file system, upper-cased as the file system compares names.
    const auto resolved = Resolved(existing);
    const auto inside = resolved ? PathInsideFileSystem(*resolved, info.st_dev) : std::nullopt;
    if (!inside) {
        return {std::nullopt, "cannot find the file system of " + existing.string()};
    }
    key = "name:" + std::to_string(major(info.st_dev)) + ":" + std::to_string(minor(info.st_dev)) +
          ":" + FoldedCase(*inside);
    for (const std::string& name : rest) {
        key += "/" + FoldedCase(name);
    }
    return {key, {}};
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

std::optional<FileSizeLimit> LinuxStorage::LargestFile(const std::string& path) {
    constexpr unsigned long kFuseMagic = 0x65735546;
    const auto existing = ResolvedOrNearestFolder(path);
    struct statfs fsInfo {};
    struct stat info {};
    if (!existing || ::statfs(existing->c_str(), &fsInfo) != 0 ||
        ::stat(existing->c_str(), &info) != 0) {
        return std::nullopt;
    }
    const auto type = static_cast<unsigned long>(fsInfo.f_type);
    if (type != MSDOS_SUPER_MAGIC && type != kFuseMagic) {
        return std::nullopt;
    }
    // The kernel's vfat and msdos share one magic number; a FUSE mount says what it serves in
    // its type in the mount table.
    std::string name = MountedType(info.st_dev);
    if (type == MSDOS_SUPER_MAGIC) {
        return FileSizeLimit{kFatLargestFile, name.empty() ? "FAT" : name};
    }
    if (name == "fuse.fusefat" || name == "fuseblk.fusefat") {
        return FileSizeLimit{kFatLargestFile, std::move(name)};
    }
    return std::nullopt;
}

}  // namespace velmaris::platform

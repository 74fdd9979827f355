// Raw drives, image files and free space through POSIX calls.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/services.h"

namespace velmaris::platform {

class SysfsDiskCatalog;

class LinuxStorage : public Storage {
  public:
    // The device node of drive number n; nullopt when no drive has that number.
    using DeviceLookup = std::function<std::optional<std::string>(std::uint32_t)>;

    explicit LinuxStorage(DeviceLookup deviceOf);
    // Drives as the catalog numbered them; the catalog must outlive this object.
    explicit LinuxStorage(const SysfsDiskCatalog& catalog);

    // Opens the node read-only. A regular file is accepted as a drive too (its size is its
    // length, its sectors 512 bytes), so the read contract can be exercised without root.
    Opened<RawDrive> OpenDrive(std::uint32_t n) override;
    // The same drive with O_DIRECT; a request not aligned to its sectors reads the sectors
    // around it.
    Opened<RawDrive> OpenDriveUncached(std::uint32_t n) override;
    // Refuses symbolic links and anything but a regular file. Reads in 512-byte sectors,
    // whatever the alignment direct reads need on its file system.
    Opened<RawDrive> OpenImageUncached(const std::string& path) override;
    // Refuses anything KindOf does not call Missing or RegularFile, and symbolic links.
    // Where the file system keeps no modes (fchmod fails with EOPNOTSUPP or ENOSYS, or EPERM
    // for a file of ours) the image keeps the mode it was given, with a note.
    // A write that fails reports the bytes that reached the file before the failure.
    Opened<ImageFile> CreateImage(const std::string& path) override;
    // Other for folders, devices, FIFOs, sockets, dangling links and anything that resolves
    // into /dev, /proc or /sys; a missing path is judged by its nearest existing folder.
    PathKind KindOf(const std::string& path) override;
    // An existing file by device and inode; a missing one by its nearest existing folder's
    // device and inode and the rest of the path, upper-cased where that folder's file system
    // ignores case (FAT, exFAT, SMB, casefolded ext4 folders).
    FileKey KeyOf(const std::string& path) override;
    // Of the path or its nearest existing folder.
    std::optional<std::uint64_t> FreeBytes(const std::string& path) override;
    // FAT through the kernel (MSDOS_SUPER_MAGIC) or through fusefat (the mount's type).
    std::optional<FileSizeLimit> LargestFile(const std::string& path) override;

  private:
    DeviceLookup deviceOf_;
};

}  // namespace velmaris::platform

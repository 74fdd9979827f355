// Raw drives, image files and free space through Win32 calls.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/services.h"

namespace velmaris::platform {

// "\\.\PhysicalDrive" followed by n.
std::string PhysicalDrivePath(std::uint32_t n);

// The file size limit of a file system by the name GetVolumeInformationW gives it.
std::optional<FileSizeLimit> FileSizeLimitOf(const std::wstring& fileSystemName);

class Win32Storage : public Storage {
  public:
    // The path that opens drive number n; tests point it at regular files.
    using DeviceLookup = std::function<std::string(std::uint32_t)>;
    // Sets an access list (a PACL) on an open file (a HANDLE): SetSecurityInfo's error code.
    // Tests stand in for a share that refuses it.
    using AccessListSetter = std::function<unsigned long(void* file, void* dacl)>;

    explicit Win32Storage(DeviceLookup deviceOf = PhysicalDrivePath,
                          AccessListSetter setList = nullptr);

    // A regular file is accepted as a drive too (its size is its length, its sectors 512
    // bytes). Reads that do not fall on sector boundaries go through an aligned buffer.
    Opened<RawDrive> OpenDrive(std::uint32_t n) override;
    // The same drive, opened unbuffered; a regular file is read in its volume's sectors.
    Opened<RawDrive> OpenDriveUncached(std::uint32_t n) override;
    // Unbuffered where the file system allows it, in the volume's sectors; through the cache
    // where it refuses. Refuses what KindOf does not call a regular file.
    Opened<RawDrive> OpenImageUncached(const std::string& path) override;
    // Refuses anything KindOf calls Other. The file's access list is set to its owner only;
    // where the share refuses WRITE_DAC or access lists, the file keeps the share's, with a
    // note. Long paths are passed in their \\?\ form.
    Opened<ImageFile> CreateImage(const std::string& path) override;
    // Other for folders, device names ("\\.\...", "NUL", "COM1.txt") and anything that does
    // not open as a plain file.
    PathKind KindOf(const std::string& path) override;
    // An existing file: its volume serial and file id. A path not there yet: the final path of
    // its nearest existing folder, on the volume's GUID name, and the names below it,
    // upper-cased unless that folder is case-sensitive.
    FileKey KeyOf(const std::string& path) override;
    // Total free bytes of the volume of the path or of its nearest existing folder.
    std::optional<std::uint64_t> FreeBytes(const std::string& path) override;
    // FAT and FAT32 volumes, by GetVolumeInformationByHandleW's file system name.
    std::optional<FileSizeLimit> LargestFile(const std::string& path) override;

  private:
    // Drive n opened with the given CreateFileW flags.
    Opened<RawDrive> OpenDriveWith(std::uint32_t n, unsigned long flags);

    DeviceLookup deviceOf_;
    AccessListSetter setList_;
};

}  // namespace velmaris::platform

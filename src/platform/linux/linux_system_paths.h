// Where the program and the system live on Linux, and which mount holds a path.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/services.h"

namespace velmaris::platform {

class LinuxSystemPaths : public SystemPaths {
  public:
    explicit LinuxSystemPaths(std::filesystem::path mountInfo = "/proc/self/mountinfo",
                              std::filesystem::path sysfsRoot = "/sys");

    std::string ProgramFolder() override;  // "" when /proc/self/exe cannot be read
    std::optional<std::string> SystemFolder() override;
    // The mount point, as SysfsDiskCatalog::VolumesOf gives it, of the filesystem holding
    // the path or, for a path that does not exist, its nearest existing parent.
    std::optional<std::string> VolumeOf(const std::string& path) override;
    // ResidenceIn for the path resolved as VolumeOf resolves it.
    Residence ResidenceOf(const std::string& path) override;
    // The mount points of a live system's medium that the mount table holds.
    std::vector<std::string> BootMediumFolders() override;

  private:
    std::filesystem::path mountInfo_;
    std::filesystem::path sysfs_;
};

// What the file system holding an absolute, resolved path lies on, from the mount table's
// text and sysfs: a block device's file system lies on its mount point, unless every device
// at the bottom of its stack is in memory (a RAM disk, a loop device over a file in memory);
// tmpfs, ramfs, network shares and an overlay whose upper layer is in memory lie on no disk;
// other file systems without a block device (ZFS, FUSE) are unknown.
SystemPaths::Residence ResidenceIn(std::string_view mountInfo,
                                   const std::filesystem::path& sysfsRoot, const std::string& path);

// The known mount points of a live system's medium that the mount table's text holds.
std::vector<std::string> BootMediumFoldersIn(std::string_view mountInfo);

}  // namespace velmaris::platform

// Where the program and the system live on Linux, and which mount holds a path.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/services.h"

namespace velmaris::platform {

class LinuxSystemPaths : public SystemPaths {
  public:
    explicit LinuxSystemPaths(std::filesystem::path mountInfo = "/proc/self/mountinfo");

    std::string ProgramFolder() override;  // "" when /proc/self/exe cannot be read
    std::optional<std::string> SystemFolder() override;
    // The mount point, as SysfsDiskCatalog::VolumesOf gives it, of the filesystem holding
    // the path or, for a path that does not exist, its nearest existing parent.
    std::optional<std::string> VolumeOf(const std::string& path) override;

  private:
    std::filesystem::path mountInfo_;
};

}  // namespace velmaris::platform

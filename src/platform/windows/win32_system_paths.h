// Where the program and Windows live, and the volume of a path.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/services.h"

namespace velmaris::platform {

class Win32SystemPaths : public SystemPaths {
  public:
    std::string ProgramFolder() override;  // "" when the module path cannot be read
    std::optional<std::string> SystemFolder() override;
    // The first two characters of the path, spaces around them removed: "C:", or "\\" for a
    // network path; nullopt for an empty path.
    std::optional<std::string> VolumeOf(const std::string& path) override;
    // A drive-letter path lies on its letter ("C:", as the path spells it); a network share
    // and a RAM disk (WinPE's X:) on no disk.
    Residence ResidenceOf(const std::string& path) override;
    std::vector<std::string> BootMediumFolders() override { return {}; }
};

}  // namespace velmaris::platform

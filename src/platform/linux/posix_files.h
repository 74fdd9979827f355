// Folders and files through POSIX calls.
#pragma once

#include "platform/services.h"

namespace velmaris::platform {

class PosixFiles : public Files {
  public:
    char Separator() override { return '/'; }
    bool KeepsDoubledSeparator() override { return false; }
    bool FolderExists(const std::string& path) override;
    bool IsRootedPath(const std::string& path) override { return !path.empty() && path[0] == '/'; }
    std::optional<std::string> CreateFolder(const std::string& path) override;
};

}  // namespace velmaris::platform

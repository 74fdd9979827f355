// Folders through Win32 calls, with Windows path rules.
#pragma once

#include <optional>
#include <string>

#include "platform/services.h"

namespace velmaris::platform {

// The system's own text for an error code (GetLastError), in UTF-8, without the line break.
std::string SystemErrorText(unsigned long error);

class Win32Files : public Files {
  public:
    char Separator() override { return '\\'; }
    // "D:\" + "\" + "001.bin" reads as "D:\001.bin" to Windows.
    bool KeepsDoubledSeparator() override { return true; }
    bool FolderExists(const std::string& path) override;
    // A network path ("\\server\share") or a drive letter with its root ("D:\..."); never
    // "D:folder", which names a place under drive D's current folder.
    bool IsRootedPath(const std::string& path) override {
        return path.starts_with("\\\\") ||
               (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/'));
    }
    std::optional<std::string> CreateFolder(const std::string& path) override;
};

}  // namespace velmaris::platform

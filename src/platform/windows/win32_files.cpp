#include "platform/windows/win32_files.h"

#include <windows.h>

#include "platform/windows/utf8.h"

namespace velmaris::platform {

std::string SystemErrorText(unsigned long error) {
    wchar_t text[512] = {};
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, text, static_cast<DWORD>(std::size(text)), nullptr);
    std::wstring_view message(text, length);
    while (!message.empty() &&
           (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
        message.remove_suffix(1);
    }
    if (message.empty()) {
        return "System error " + std::to_string(error);
    }
    return Utf8(message);
}

bool Win32Files::FolderExists(const std::string& path) {
    const auto wide = Wide(path);
    if (!wide || wide->empty()) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW(wide->c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::optional<std::string> Win32Files::CreateFolder(const std::string& path) {
    const auto wide = Wide(path);
    if (!wide) {
        return SystemErrorText(ERROR_INVALID_NAME);
    }
    if (!CreateDirectoryW(wide->c_str(), nullptr)) {
        return SystemErrorText(GetLastError());
    }
    return std::nullopt;
}

}  // namespace velmaris::platform

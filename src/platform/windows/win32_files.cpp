#include "platform/windows/win32_files.h"

#include <windows.h>

#include "platform/windows/utf8.h"
#include "platform/windows/win32_handle.h"

namespace velmaris::platform {

std::string SystemErrorText(unsigned long error) {
    // The system's own words speak of a file name; it may be any folder's, or the whole path.
    if (error == ERROR_FILENAME_EXCED_RANGE) {
        return "The path is too long: a name in it, or the whole path, is longer than its file "
               "system allows";
    }
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
    const auto full = wide && !wide->empty() ? FullPath(*wide) : std::nullopt;
    if (!full) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW(full->c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::optional<std::string> Win32Files::CreateFolder(const std::string& path) {
    const auto wide = Wide(path);
    const auto full = wide && !wide->empty() ? FullPath(*wide) : std::nullopt;
    if (!full) {
        return SystemErrorText(ERROR_INVALID_NAME);
    }
    if (!CreateDirectoryW(full->c_str(), nullptr)) {
        return SystemErrorText(GetLastError());
    }
    return std::nullopt;
}

}  // namespace velmaris::platform

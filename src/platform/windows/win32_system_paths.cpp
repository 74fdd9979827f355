#include "platform/windows/win32_system_paths.h"

#include <windows.h>

#include <vector>

#include "platform/windows/utf8.h"

namespace velmaris::platform {

std::string Win32SystemPaths::ProgramFolder() {
    // Long paths do not fit MAX_PATH: grow until the name is not cut.
    for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
        std::vector<wchar_t> buffer(size);
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
        if (length == 0) {
            return {};
        }
        if (length < size) {
            std::wstring_view file(buffer.data(), length);
            const auto slash = file.find_last_of(L'\\');
            return Utf8(slash == std::wstring_view::npos ? file : file.substr(0, slash));
        }
    }
    return {};
}

std::optional<std::string> Win32SystemPaths::SystemFolder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const UINT length = GetWindowsDirectoryW(buffer, static_cast<UINT>(std::size(buffer)));
    if (length == 0 || length >= std::size(buffer)) {
        return std::nullopt;
    }
    return Utf8(std::wstring_view(buffer, length));
}

std::optional<std::string> Win32SystemPaths::VolumeOf(const std::string& path) {
    // Two characters, not two bytes: a path may start with a letter outside ASCII.
    std::size_t end = 0;
    for (int taken = 0; taken < 2 && end < path.size(); ++taken) {
        do {
            ++end;
        } while (end < path.size() && (static_cast<unsigned char>(path[end]) & 0xC0) == 0x80);
    }
    std::string volume = path.substr(0, end);
    const auto first = volume.find_first_not_of(' ');
    if (first == std::string::npos) {
        return std::nullopt;
    }
    return volume.substr(first, volume.find_last_not_of(' ') - first + 1);
}

}  // namespace velmaris::platform

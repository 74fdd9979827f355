#include "platform/windows/win32_handle.h"

#include <algorithm>

namespace velmaris::platform {

namespace {

// A plain path this long is refused unless the system allows long paths: CreateDirectoryW
// stops at MAX_PATH - 12 (room for an 8.3 name), CreateFileW at MAX_PATH.
constexpr std::size_t kLongPath = MAX_PATH - 12;

// The \\?\ form of a long full path, which every wide file function takes up to 32767
// characters: "\\?\C:\..." and "\\?\UNC\server\share\...".
std::wstring LongPathForm(std::wstring full) {
    if (full.size() < kLongPath || full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\")) {
        return full;
    }
    if (full.starts_with(L"\\\\")) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') {
        return L"\\\\?\\" + full;
    }
    return full;
}

}  // namespace

std::optional<std::wstring> FullPath(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return std::nullopt;
    }
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) {
        return std::nullopt;
    }
    full.resize(length);
    return LongPathForm(std::move(full));
}

Handle OpenForQuery(const std::wstring& path) {
    // Backup semantics open folders as well as files.
    return Handle(CreateFileW(path.c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

NearestExisting OpenNearestExisting(const std::wstring& fullPath) {
    NearestExisting nearest;
    std::wstring at = fullPath;
    for (;;) {
        nearest.handle = OpenForQuery(at);
        if (nearest.handle.Valid()) {
            std::reverse(nearest.missing.begin(), nearest.missing.end());
            return nearest;
        }
        nearest.error = GetLastError();
        if (nearest.error != ERROR_FILE_NOT_FOUND && nearest.error != ERROR_PATH_NOT_FOUND) {
            return nearest;
        }
        while (at.size() > 1 && at.back() == L'\\') {
            at.pop_back();
        }
        const auto slash = at.find_last_of(L'\\');
        if (slash == std::wstring::npos || slash == 0) {
            return nearest;
        }
        if (slash + 1 < at.size()) {
            nearest.missing.push_back(at.substr(slash + 1));
        }
        // A drive's root keeps its backslash: "C:" alone is the current folder on C:.
        at.resize(at[slash - 1] == L':' ? slash + 1 : slash);
    }
}

std::optional<std::wstring> FinalPathOf(HANDLE handle, DWORD volumeName) {
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 3; ++attempt) {
        const DWORD length = GetFinalPathNameByHandleW(handle, path.data(),
                                                       static_cast<DWORD>(path.size()), volumeName);
        if (length == 0) {
            return std::nullopt;
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(length);  // the size needed, its terminator included
    }
    return std::nullopt;
}

}  // namespace velmaris::platform

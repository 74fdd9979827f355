// Open handles and the paths behind them, for the queries that ask Windows what a file is.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmaris::platform {

class Handle {
  public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
    ~Handle() {
        if (Valid()) {
            CloseHandle(h_);
        }
    }
    Handle(Handle&& other) noexcept : h_(other.Release()) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            const Handle old(h_);
            h_ = other.Release();
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    HANDLE Get() const { return h_; }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE Release() { return std::exchange(h_, INVALID_HANDLE_VALUE); }

  private:
    HANDLE h_;
};

// The path as the system reads it: current folder and drive applied, "." and ".." gone; in
// its \\?\ form when it is too long for the plain one.
std::optional<std::wstring> FullPath(const std::wstring& path);

// Opens a file, folder or device for queries only (no read or write access), following links.
Handle OpenForQuery(const std::wstring& path);

// The nearest existing file or folder on the way to a full path, and the names below it that
// are not there yet, outermost first. Without a handle, error says why.
struct NearestExisting {
    Handle handle;
    std::vector<std::wstring> missing;
    DWORD error = ERROR_SUCCESS;
};
NearestExisting OpenNearestExisting(const std::wstring& fullPath);

// GetFinalPathNameByHandleW's path with the given VOLUME_NAME_* flag.
std::optional<std::wstring> FinalPathOf(HANDLE handle, DWORD volumeName);

}  // namespace velmaris::platform

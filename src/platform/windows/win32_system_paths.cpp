#include "platform/windows/win32_system_paths.h"

#include <windows.h>

#include <string_view>
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

SystemPaths::Residence Win32SystemPaths::ResidenceOf(const std::string& path) {
    using Kind = Residence::Kind;
    std::string_view rest = path;
    // The long-path forms name the same places as \\server\share and C:\.
    if (rest.rfind(R"(\\?\UNC\)", 0) == 0) {
        return {Kind::NoDisk, {}};
    }
    if (rest.rfind(R"(\\?\)", 0) == 0) {
        rest.remove_prefix(4);
    }
    if (rest.rfind(R"(\\)", 0) == 0) {
        return {Kind::NoDisk, {}};
    }
    const bool letter = rest.size() >= 2 && rest[1] == ':' &&
                        ((rest[0] >= 'A' && rest[0] <= 'Z') || (rest[0] >= 'a' && rest[0] <= 'z'));
    if (!letter) {
        return {};
    }
    const std::wstring drive{static_cast<wchar_t>(rest[0]), L':'};
    switch (GetDriveTypeW((drive + L"\\").c_str())) {
        case DRIVE_REMOTE:
        case DRIVE_RAMDISK:
            return {Kind::NoDisk, {}};
        case DRIVE_UNKNOWN:
        case DRIVE_NO_ROOT_DIR:
            return {};
        default:
            break;
    }
    // WinPE's X: may call itself fixed, yet it is no partition of any disk (the management
    // service lists no partition holding it): its device is the RAM disk driver's own,
    // \Device\Ramdisk{GUID}, where a disk's volume is \Device\HarddiskVolumeN.
    wchar_t target[MAX_PATH] = {};
    if (QueryDosDeviceW(drive.c_str(), target, MAX_PATH) != 0 &&
        std::wstring_view(target).rfind(LR"(\Device\Ramdisk)", 0) == 0) {
        return {Kind::NoDisk, {}};
    }
    return {Kind::Volumes, {std::string(rest.substr(0, 2))}};
}

}  // namespace velmaris::platform

#include "platform/windows/win32_storage.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <winioctl.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <memory>
#include <utility>
#include <vector>

#include "platform/windows/utf8.h"
#include "platform/windows/win32_files.h"
#include "platform/windows/win32_handle.h"
#include "platform/windows/win32_identity.h"
#include "platform/windows/win32_raw_drive.h"

namespace velmaris::platform {
namespace {

// The largest piece one WriteFile is asked for.
constexpr DWORD kMaxPiece = DWORD{1} << 26;
// The largest logical sector a raw drive is read with.
constexpr DWORD kLargestSector = 4096;

template <typename T>
struct LocalDeleter {
    void operator()(T* p) const { LocalFree(p); }
};

IoResult Failure(DWORD error, std::size_t done = 0) {
    return Win32Failure(error, done);
}

class Win32ImageFile : public ImageFile {
  public:
    Win32ImageFile(HANDLE handle, std::string accessNote)
        : handle_(handle), accessNote_(std::move(accessNote)) {}

    std::string AccessNote() const override { return accessNote_; }

    IoResult Write(const std::byte* buffer, std::size_t size) override {
        if (!handle_.Valid()) {
            return Failure(ERROR_INVALID_HANDLE);
        }
        std::size_t done = 0;
        while (done < size) {
            const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size - done, kMaxPiece));
            DWORD put = 0;
            if (!WriteFile(handle_.Get(), buffer + done, piece, &put, nullptr)) {
                return Failure(GetLastError(), done);
            }
            if (put == 0) {
                return {done, IoError::Other, "the file took no more bytes"};
            }
            done += put;
        }
        return {size, IoError::None, {}};
    }

    IoResult Finish() override {
        Handle handle(handle_.Release());
        if (!handle.Valid()) {
            return Failure(ERROR_INVALID_HANDLE);
        }
        if (!FlushFileBuffers(handle.Get())) {
            return Failure(GetLastError());
        }
        if (!CloseHandle(handle.Release())) {
            return Failure(GetLastError());
        }
        return {};
    }

  private:
    Handle handle_;
    std::string accessNote_;
};

// An access list that lets the current user, and no one else, at the file.
std::unique_ptr<void, LocalDeleter<void>> OwnerOnlyDescriptor() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return nullptr;
    }
    const Handle tokenHandle(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<std::byte> user(size);
    wchar_t* sid = nullptr;
    if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size) ||
        !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid)) {
        return nullptr;
    }
    const std::unique_ptr<wchar_t, LocalDeleter<wchar_t>> sidText(sid);
    // P: not widened by what the folder passes on to its files.
    const std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(sidText.get()) + L")";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return nullptr;
    }
    return std::unique_ptr<void, LocalDeleter<void>>(descriptor);
}

DWORD SetOwnerOnlyList(void* file, void* dacl) {
    return SetSecurityInfo(static_cast<HANDLE>(file), SE_FILE_OBJECT,
                           DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                           nullptr, static_cast<PACL>(dacl), nullptr);
}

// Sets the owner-only access list on an open file; the error that kept it from being set. A
// volume that keeps no access lists (FAT, exFAT: common on removable targets) has nothing to set.
DWORD MakePrivate(HANDLE file, PSECURITY_DESCRIPTOR descriptor,
                  const Win32Storage::AccessListSetter& setList) {
    DWORD flags = 0;
    if (GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
        (flags & FILE_PERSISTENT_ACLS) == 0) {
        return ERROR_SUCCESS;
    }
    PACL dacl = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present) {
        return ERROR_INVALID_SECURITY_DESCR;
    }
    return setList(file, dacl);
}

// How a share or its server turns down an access list: it refuses WRITE_DAC, or it keeps no
// access lists and says it cannot. The file may still be written.
bool RefusesAccessLists(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_NOT_SUPPORTED:
        case ERROR_INVALID_FUNCTION:
        case ERROR_INVALID_PARAMETER:
        case ERROR_INVALID_SECURITY_DESCR:
        case ERROR_INVALID_ACL:
        case ERROR_INVALID_OWNER:
            return true;
        default:
            return false;
    }
}

std::wstring WithSlashes(std::wstring path) {
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

// Names Windows gives to devices in every folder, with any extension: "nul", "COM1.txt".
bool IsReservedName(std::wstring_view component) {
    component = component.substr(0, component.find_first_of(L".:"));
    while (!component.empty() && component.back() == L' ') {
        component.remove_suffix(1);
    }
    std::wstring name;
    for (const wchar_t c : component) {
        name += static_cast<wchar_t>(std::towupper(c));
    }
    static constexpr std::array<std::wstring_view, 6> kPlain = {L"CON", L"PRN",    L"AUX",
                                                                L"NUL", L"CONIN$", L"CONOUT$"};
    if (std::find(kPlain.begin(), kPlain.end(), name) != kPlain.end()) {
        return true;
    }
    // COM0 to COM9, LPT0 to LPT9, and the superscript digits Windows accepts too.
    return name.size() == 4 && (name.starts_with(L"COM") || name.starts_with(L"LPT")) &&
           ((name[3] >= L'0' && name[3] <= L'9') || name[3] == L'\u00B9' || name[3] == L'\u00B2' ||
            name[3] == L'\u00B3');
}

// Paths into the device namespace, or that open a device, rather than a file.
bool NamesDevice(const std::wstring& path) {
    const std::wstring p = WithSlashes(path);
    if (p.starts_with(L"\\\\.\\") || p.starts_with(L"\\??\\")) {
        return true;
    }
    if (p.starts_with(L"\\\\?\\")) {
        // Long-path forms of drive-letter and network paths are files; the rest
        // ("\\?\GLOBALROOT\...", "\\?\PhysicalDrive0", "\\?\Volume{...}") are not.
        const std::wstring_view rest = std::wstring_view(p).substr(4);
        const bool driveLetter = rest.size() >= 4 && rest[1] == L':' && rest[2] == L'\\';
        const bool network = rest.size() > 4 && (rest[0] == L'U' || rest[0] == L'u') &&
                             (rest[1] == L'N' || rest[1] == L'n') &&
                             (rest[2] == L'C' || rest[2] == L'c') && rest[3] == L'\\';
        return !driveLetter && !network;
    }
    // "C:" or "C:\" alone names the volume's root, never a file.
    if (p.size() <= 3 && p.size() >= 2 && p[1] == L':') {
        return true;
    }
    const auto slash = p.find_last_of(L'\\');
    return IsReservedName(slash == std::wstring::npos ? std::wstring_view(p)
                                                      : std::wstring_view(p).substr(slash + 1));
}

// What is at the path once opened: a plain file, or something else (a folder, a device).
PathKind KindOfExisting(const std::wstring& path) {
    const Handle handle(CreateFileW(path.c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!handle.Valid() || GetFileType(handle.Get()) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(handle.Get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return PathKind::Other;
    }
    return PathKind::RegularFile;
}

// A folder whose names differ by case alone (FILE_CS_FLAG_CASE_SENSITIVE_DIR, read through
// FileCaseSensitiveInfo). Where the call is unknown (before Windows 10, FAT, Wine), folders
// ignore case.
bool IsCaseSensitiveFolder(HANDLE folder) {
    constexpr auto kFileCaseSensitiveInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(23);
    constexpr ULONG kCaseSensitiveDir = 0x1;
    ULONG flags = 0;
    return GetFileInformationByHandleEx(folder, kFileCaseSensitiveInfo, &flags, sizeof(flags)) &&
           (flags & kCaseSensitiveDir) != 0;
}

// Names as a case-blind file system compares them: one upper-case letter for each, as in
// NTFS's upcase table (no "SS" for a sharp s).
std::optional<std::wstring> Folded(const std::wstring& name) {
    if (name.empty()) {
        return name;
    }
    const int length = static_cast<int>(name.size());
    std::wstring upper(name.size(), L'\0');
    if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, name.c_str(), length, upper.data(),
                      length, nullptr, nullptr, 0) != length) {
        return std::nullopt;
    }
    return upper;
}

// The unit a file opened unbuffered is read in: its volume's logical sector
// (FileStorageInfo, from Windows 8). 4096 where that cannot be told, a multiple of every
// smaller sector; 0 for sectors larger than the reader's buffers are aligned to.
DWORD UnbufferedUnitOf(HANDLE file) {
    constexpr auto kFileStorageInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(16);
    struct {
        ULONG logicalBytesPerSector;
        std::array<ULONG, 6> rest;  // FILE_STORAGE_INFO's other fields
    } info{};
    if (!GetFileInformationByHandleEx(file, kFileStorageInfo, &info, sizeof(info))) {
        return kLargestSector;
    }
    const ULONG sector = info.logicalBytesPerSector;
    if (sector > kLargestSector) {
        return 0;
    }
    return sector >= 512 && (sector & (sector - 1)) == 0 ? sector : kLargestSector;
}

// How a file system that cannot read a file unbuffered turns the open down.
bool RefusesUnbuffered(DWORD error) {
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED;
}

FileKey KeyFailure(DWORD error) {
    return {std::nullopt, SystemErrorText(error)};
}

}  // namespace

std::string PhysicalDrivePath(std::uint32_t n) {
    return "\\\\.\\PhysicalDrive" + std::to_string(n);
}

Win32Storage::Win32Storage(DeviceLookup deviceOf, AccessListSetter setList)
    : deviceOf_(std::move(deviceOf)), setList_(std::move(setList)) {}

Opened<RawDrive> Win32Storage::OpenDrive(std::uint32_t n) {
    return OpenDriveWith(n, FILE_FLAG_SEQUENTIAL_SCAN);
}

Opened<RawDrive> Win32Storage::OpenDriveUncached(std::uint32_t n) {
    return OpenDriveWith(n, FILE_FLAG_NO_BUFFERING);
}

Opened<RawDrive> Win32Storage::OpenImageUncached(const std::string& path) {
    const auto wide = Wide(path);
    const auto full = wide && !wide->empty() ? FullPath(*wide) : std::nullopt;
    const PathKind kind = full ? KindOf(path) : PathKind::Other;
    if (kind != PathKind::RegularFile) {
        return {nullptr, kind == PathKind::Missing
                             ? Failure(ERROR_FILE_NOT_FOUND)
                             : IoResult{0, IoError::Other, "Not a regular file"}};
    }
    const auto open = [&](DWORD flags) {
        return Handle(CreateFileW(full->c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, flags | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    };
    Handle handle = open(FILE_FLAG_NO_BUFFERING);
    const DWORD refused = handle.Valid() ? ERROR_SUCCESS : GetLastError();
    if (refused != ERROR_SUCCESS && !RefusesUnbuffered(refused)) {
        return {nullptr, Failure(refused)};
    }
    DWORD sector = handle.Valid() ? UnbufferedUnitOf(handle.Get()) : 0;
    if (sector == 0) {
        // Some network redirectors refuse unbuffered opens, and sectors above 4096 bytes are
        // more than the reader aligns to: such a file can only be read through the cache.
        handle = open(0);
        sector = 512;
        if (!handle.Valid()) {
            return {nullptr, Failure(GetLastError())};
        }
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle.Get(), &size)) {
        return {nullptr, Failure(GetLastError())};
    }
    return {MakeWin32RawDrive(DeviceOver(handle.Release()),
                              static_cast<std::uint64_t>(size.QuadPart), sector, ""),
            {}};
}

Opened<RawDrive> Win32Storage::OpenDriveWith(std::uint32_t n, unsigned long flags) {
    const auto path = Wide(deviceOf_ ? deviceOf_(n) : std::string());
    if (!path || path->empty()) {
        return {nullptr, Failure(ERROR_FILE_NOT_FOUND)};
    }
    // Read sharing alone is refused with a sharing violation: the file systems of the disk's
    // mounted volumes hold it open for writing, so direct access must share writing too.
    Handle handle(CreateFileW(path->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, flags, nullptr));
    if (!handle.Valid()) {
        return {nullptr, Failure(GetLastError())};
    }
    DWORD returned = 0;
    GET_LENGTH_INFORMATION length{};
    if (DeviceIoControl(handle.Get(), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length,
                        sizeof(length), &returned, nullptr)) {
        // The geometry's size varies with the disk's partition data: room for all of it.
        alignas(DISK_GEOMETRY_EX) std::array<std::byte, 1024> geometry{};
        if (!DeviceIoControl(handle.Get(), IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0,
                             geometry.data(), static_cast<DWORD>(geometry.size()), &returned,
                             nullptr)) {
            return {nullptr, Failure(GetLastError())};
        }
        const DWORD sector =
            reinterpret_cast<const DISK_GEOMETRY_EX*>(geometry.data())->Geometry.BytesPerSector;
        if (sector == 0 || sector > kLargestSector || (sector & (sector - 1)) != 0) {
            return {nullptr, Failure(ERROR_INVALID_DATA)};
        }
        std::string identity = DiskIdentityOf(handle.Get());
        return {MakeWin32RawDrive(DeviceOver(handle.Release()),
                                  static_cast<std::uint64_t>(length.Length.QuadPart), sector,
                                  std::move(identity)),
                {}};
    }
    // Not a disk: a plain file stands in for one.
    BY_HANDLE_FILE_INFORMATION info{};
    LARGE_INTEGER size{};
    if (!GetFileInformationByHandle(handle.Get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        !GetFileSizeEx(handle.Get(), &size)) {
        return {nullptr, Failure(ERROR_INVALID_FUNCTION)};
    }
    // Unbuffered, a file is read in its volume's sectors.
    const DWORD sector =
        (flags & FILE_FLAG_NO_BUFFERING) != 0 ? UnbufferedUnitOf(handle.Get()) : 512;
    if (sector == 0) {
        return {nullptr, Failure(ERROR_INVALID_DATA)};
    }
    DWORD error = ERROR_SUCCESS;
    std::string identity = FileIdentityOf(handle.Get(), error).value_or("");
    return {
        MakeWin32RawDrive(DeviceOver(handle.Release()), static_cast<std::uint64_t>(size.QuadPart),
                          sector, std::move(identity)),
        {}};
}

Opened<ImageFile> Win32Storage::CreateImage(const std::string& path) {
    const auto wide = Wide(path);
    const auto full = wide && !wide->empty() ? FullPath(*wide) : std::nullopt;
    if (!full || KindOf(path) == PathKind::Other) {
        return {nullptr, {0, IoError::Other, "Not a regular file"}};
    }
    const auto descriptor = OwnerOnlyDescriptor();
    if (!descriptor) {
        return {nullptr, {0, IoError::AccessDenied, "The image could not be made private"}};
    }
    SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
    constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
    // An existing file keeps its old access list through CREATE_ALWAYS: WRITE_DAC lets it be
    // replaced below.
    Handle handle(CreateFileW(full->c_str(), GENERIC_WRITE | WRITE_DAC, FILE_SHARE_READ, &security,
                              CREATE_ALWAYS, kFlags, nullptr));
    DWORD refused = ERROR_SUCCESS;
    if (!handle.Valid()) {
        refused = GetLastError();
        if (!RefusesAccessLists(refused)) {
            return {nullptr, Failure(refused)};
        }
        // Without WRITE_DAC and an access list of our own: the share's permissions apply.
        handle = Handle(CreateFileW(full->c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, kFlags, nullptr));
        if (!handle.Valid()) {
            return {nullptr, Failure(GetLastError())};
        }
    } else {
        refused = MakePrivate(handle.Get(), descriptor.get(),
                              setList_ ? setList_ : AccessListSetter(SetOwnerOnlyList));
        if (refused != ERROR_SUCCESS && !RefusesAccessLists(refused)) {
            return {nullptr,
                    {0, IoError::AccessDenied,
                     "The image could not be made private: " + SystemErrorText(refused)}};
        }
    }
    std::string note;
    if (refused != ERROR_SUCCESS) {
        note = "the owner-only access list could not be applied (" + SystemErrorText(refused) +
               "); the file has the permissions its folder or share gives it";
    }
    return {std::make_unique<Win32ImageFile>(handle.Release(), std::move(note)), {}};
}

PathKind Win32Storage::KindOf(const std::string& path) {
    const auto wide = Wide(path);
    if (!wide || wide->empty() || NamesDevice(*wide)) {
        return PathKind::Other;
    }
    // The system's own reading of the name has the last word ("C:\x\..\nul").
    const auto full = FullPath(*wide);
    if (!full || NamesDevice(*full)) {
        return PathKind::Other;
    }
    const DWORD attributes = GetFileAttributesW(full->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // Nothing can be at a name too long for its file system: KeyOf says why.
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                       error == ERROR_FILENAME_EXCED_RANGE
                   ? PathKind::Missing
                   : PathKind::Other;
    }
    // A link may lead anywhere, a device included: never written through.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return PathKind::Other;
    }
    return KindOfExisting(*full);
}

FileKey Win32Storage::KeyOf(const std::string& path) {
    const auto wide = Wide(path);
    if (!wide || wide->empty()) {
        return KeyFailure(ERROR_INVALID_NAME);
    }
    const auto full = FullPath(*wide);
    if (!full) {
        return KeyFailure(GetLastError());
    }
    if (NamesDevice(*wide) || NamesDevice(*full)) {
        return {std::nullopt, "Not a file on a disk"};
    }
    const NearestExisting nearest = OpenNearestExisting(*full);
    if (!nearest.handle.Valid()) {
        return KeyFailure(nearest.error);
    }
    const HANDLE handle = nearest.handle.Get();
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        return {std::nullopt, "Not a file on a disk"};
    }
    if (nearest.missing.empty()) {
        DWORD error = ERROR_SUCCESS;
        const auto identity = FileIdentityOf(handle, error);
        return identity ? FileKey{*identity, {}} : KeyFailure(error);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) {
        return KeyFailure(GetLastError());
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return KeyFailure(ERROR_DIRECTORY);
    }
    // A name the volume cannot hold would fail only when the run creates it.
    DWORD longestName = 0;
    if (GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, &longestName, nullptr, nullptr,
                                      0)) {
        for (const std::wstring& name : nearest.missing) {
            if (name.size() > longestName) {
                return KeyFailure(ERROR_FILENAME_EXCED_RANGE);
            }
        }
    }
    // The volume's GUID name stands for every drive letter and folder it is mounted at; a
    // network share has none.
    auto folder = FinalPathOf(handle, VOLUME_NAME_GUID);
    if (!folder) {
        folder = FinalPathOf(handle, VOLUME_NAME_DOS);
    }
    std::string prefix = "path:";
    if (!folder) {
        // No final path (Wine gives none past MAX_PATH): the folder's own identity stands for
        // it, the same for every spelling that reaches it.
        DWORD error = GetLastError();
        const auto identity = FileIdentityOf(handle, error);
        if (!identity) {
            return KeyFailure(error);
        }
        prefix = "in:" + *identity;
        folder = std::wstring();
    }
    std::wstring rest;
    for (const std::wstring& name : nearest.missing) {
        rest += L'\\' + name;
    }
    const auto names = IsCaseSensitiveFolder(handle) ? rest : Folded(rest);
    if (!names) {
        return KeyFailure(GetLastError());
    }
    while (!folder->empty() && folder->back() == L'\\') {
        folder->pop_back();
    }
    return {prefix + Utf8(*folder + *names), {}};
}

std::optional<std::uint64_t> Win32Storage::FreeBytes(const std::string& path) {
    const auto wide = Wide(path);
    std::optional<std::wstring> folder = wide && !wide->empty() ? FullPath(*wide) : std::nullopt;
    while (folder && !folder->empty()) {
        const DWORD attributes = GetFileAttributesW(folder->c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            if (folder->back() != L'\\') {
                *folder += L'\\';
            }
            ULARGE_INTEGER available{};
            ULARGE_INTEGER total{};
            ULARGE_INTEGER totalFree{};
            if (!GetDiskFreeSpaceExW(folder->c_str(), &available, &total, &totalFree)) {
                return std::nullopt;
            }
            return totalFree.QuadPart;
        }
        // Up one level; "C:\" stays whole.
        const auto slash = folder->find_last_of(L'\\', folder->size() - 2);
        if (slash == std::wstring::npos) {
            return std::nullopt;
        }
        folder->resize(slash > 0 && (*folder)[slash - 1] == L':' ? slash + 1 : slash);
    }
    return std::nullopt;
}

std::optional<FileSizeLimit> FileSizeLimitOf(const std::wstring& fileSystemName) {
    // GetVolumeInformation names FAT12 and FAT16 "FAT"; exFAT ("exFAT") has no such limit.
    if (fileSystemName == L"FAT" || fileSystemName == L"FAT32") {
        return FileSizeLimit{0xFFFFFFFFu, Utf8(fileSystemName)};
    }
    return std::nullopt;
}

std::optional<FileSizeLimit> Win32Storage::LargestFile(const std::string& path) {
    const auto wide = Wide(path);
    const auto full = wide && !wide->empty() ? FullPath(*wide) : std::nullopt;
    if (!full || NamesDevice(*full)) {
        return std::nullopt;
    }
    const NearestExisting nearest = OpenNearestExisting(*full);
    std::array<wchar_t, MAX_PATH + 1> name{};
    if (!nearest.handle.Valid() ||
        !GetVolumeInformationByHandleW(nearest.handle.Get(), nullptr, 0, nullptr, nullptr, nullptr,
                                       name.data(), static_cast<DWORD>(name.size()))) {
        return std::nullopt;
    }
    return FileSizeLimitOf(name.data());
}

}  // namespace velmaris::platform

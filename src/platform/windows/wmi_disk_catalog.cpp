#include "platform/windows/wmi_disk_catalog.h"

#include <windows.h>

#include <virtdisk.h>
#include <winioctl.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cstddef>
#include <cstring>
#include <map>

#include "platform/windows/utf8.h"
#include "platform/windows/win32_files.h"
#include "platform/windows/win32_handle.h"
#include "platform/windows/win32_identity.h"
#include "platform/windows/win32_storage.h"

namespace velmaris::platform {
namespace {

// How long one result may take before the walk gives up on the rest of its query.
constexpr long kResultTimeoutMs = 30000;

std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

// Device ids come from WMI itself and are valid UTF-8; anything else matches nothing.
std::wstring WideOrEmpty(const std::string& text) {
    return Wide(text).value_or(std::wstring());
}

std::optional<std::uint64_t> DecimalOf(const std::string& text) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> SignedOf(const VARIANT& value) {
    switch (value.vt) {
        case VT_I1:
            return value.cVal;
        case VT_I2:
            return value.iVal;
        case VT_I4:
            return value.lVal;
        case VT_INT:
            return value.intVal;
        case VT_I8:
            return value.llVal;
        default:
            return std::nullopt;
    }
}

std::optional<std::uint64_t> UnsignedOf(const VARIANT& value) {
    switch (value.vt) {
        case VT_UI1:
            return value.bVal;
        case VT_UI2:
            return value.uiVal;
        case VT_UI4:
            return value.ulVal;
        case VT_UINT:
            return value.uintVal;
        case VT_UI8:
            return value.ullVal;
        default:
            return std::nullopt;
    }
}

std::optional<std::string> Property(IWbemClassObject& object, const wchar_t* name,
                                    std::optional<std::string> (*read)(const VARIANT&)) {
    Variant value;
    if (FAILED(object.Get(name, 0, value.Put(), nullptr, nullptr))) {
        return std::nullopt;
    }
    return read(value.Get());
}

DisksUnder UnknownDisks(std::string reason) {
    return {DisksUnder::Kind::Unknown, {}, std::move(reason)};
}

// The volume GUID name ("\\?\Volume{...}") under an open file or folder; empty for a network
// share; nullopt with error set when Windows does not say.
std::optional<std::wstring> VolumeUnder(HANDLE object, const std::wstring& fullPath, DWORD& error) {
    if (const auto final = FinalPathOf(object, VOLUME_NAME_GUID)) {
        return final->substr(0, final->find(L'\\', 4));
    }
    // No GUID name: a share, or a volume the mount manager does not know. The final path sees
    // through a drive letter mapped or substituted onto a share.
    std::wstring path = FinalPathOf(object, VOLUME_NAME_DOS).value_or(fullPath);
    if (path.starts_with(L"\\\\?\\UNC\\")) {
        path = L"\\" + path.substr(7);
    }
    std::wstring root(path.size() + 2, L'\0');
    if (!GetVolumePathNameW(path.c_str(), root.data(), static_cast<DWORD>(root.size()))) {
        error = GetLastError();
        return std::nullopt;
    }
    root.resize(std::wcslen(root.c_str()));
    if (GetDriveTypeW(root.c_str()) == DRIVE_REMOTE) {
        return std::wstring();
    }
    std::wstring volume(MAX_PATH, L'\0');
    if (!GetVolumeNameForVolumeMountPointW(root.c_str(), volume.data(),
                                           static_cast<DWORD>(volume.size()))) {
        error = GetLastError();
        return std::nullopt;
    }
    volume.resize(std::wcslen(volume.c_str()));
    while (!volume.empty() && volume.back() == L'\\') {
        volume.pop_back();
    }
    return volume;
}

using GetStorageDependencyInformationFn = DWORD(WINAPI*)(HANDLE, GET_STORAGE_DEPENDENCY_FLAG, ULONG,
                                                         PSTORAGE_DEPENDENCY_INFO, PULONG);

// Loaded when first asked for, from the system folder: Wine and older Windows may lack it.
GetStorageDependencyInformationFn StorageDependencyQuery() {
    static const GetStorageDependencyInformationFn query = [] {
        std::wstring path(MAX_PATH, L'\0');
        const UINT length = GetSystemDirectoryW(path.data(), MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            return GetStorageDependencyInformationFn{};
        }
        path.resize(length);
        const HMODULE module = LoadLibraryW((path + L"\\virtdisk.dll").c_str());
        const FARPROC proc =
            module ? GetProcAddress(module, "GetStorageDependencyInformation") : nullptr;
        return reinterpret_cast<GetStorageDependencyInformationFn>(
            reinterpret_cast<void (*)()>(proc));
    }();
    return query;
}

// The files a disk is stored in: an attached virtual disk and the parents it is built on.
std::vector<std::wstring> BackingFilesOf(std::uint32_t disk) {
    const GetStorageDependencyInformationFn query = StorageDependencyQuery();
    const auto path = Wide(PhysicalDrivePath(disk)).value_or(std::wstring());
    Handle handle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr));
    if (!handle.Valid()) {
        handle = OpenForQuery(path);  // without administrator rights
    }
    if (query == nullptr || !handle.Valid()) {
        return {};
    }
    const auto flags = static_cast<GET_STORAGE_DEPENDENCY_FLAG>(
        GET_STORAGE_DEPENDENCY_FLAG_HOST_VOLUMES | GET_STORAGE_DEPENDENCY_FLAG_DISK_HANDLE);
    std::vector<std::uint64_t> buffer(512);  // 4 KiB, 8-byte aligned for the entries' pointers
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto* info = reinterpret_cast<STORAGE_DEPENDENCY_INFO*>(buffer.data());
        info->Version = STORAGE_DEPENDENCY_INFO_VERSION_2;
        ULONG used = 0;
        const auto size = static_cast<ULONG>(buffer.size() * sizeof(std::uint64_t));
        const DWORD error = query(handle.Get(), flags, size, info, &used);
        if (error == ERROR_INSUFFICIENT_BUFFER && used > size) {
            buffer.resize(used / sizeof(std::uint64_t) + 1);
            continue;
        }
        if (error != ERROR_SUCCESS) {
            return {};
        }
        std::vector<std::wstring> files;
        for (ULONG i = 0; i < info->NumberEntries; ++i) {
            const STORAGE_DEPENDENCY_INFO_TYPE_2& entry = info->Version2Entries[i];
            if (entry.HostVolumeName == nullptr || entry.DependentVolumeRelativePath == nullptr) {
                continue;
            }
            // "\\?\Volume{...}\" and "\folder\disk.vhdx".
            std::wstring host = entry.HostVolumeName;
            std::wstring relative = entry.DependentVolumeRelativePath;
            while (!host.empty() && host.back() == L'\\') {
                host.pop_back();
            }
            files.push_back(host + (relative.starts_with(L'\\') ? L"" : L"\\") + relative);
        }
        return files;
    }
    return {};
}

}  // namespace

std::optional<DiskRecord> DiskRecordOf(const PropertyReader& property) {
    const auto text = [&property](const wchar_t* name,
                                  std::optional<std::string> (*read)(const VARIANT&)) {
        Variant value;
        property(name, *value.Put());
        return read(value.Get());
    };
    Variant index;
    property(L"Index", *index.Put());
    const std::optional<std::uint32_t> n = UInt32Of(index.Get());
    if (!n) {
        return std::nullopt;  // no drive number, no way to open the drive
    }
    DiskRecord record;
    record.index = *n;
    record.deviceId = text(L"DeviceID", TextOf).value_or("");
    record.model = text(L"Model", TextOf);
    record.mediaType = text(L"MediaType", TextOf);
    record.size = text(L"Size", NumberTextOf);
    record.pnpDeviceId = text(L"PNPDeviceID", TextOf).value_or("");
    return record;
}

std::optional<std::uint64_t> DiskLength(std::uint32_t n) {
    const std::wstring path = Wide(PhysicalDrivePath(n)).value_or(std::wstring());
    // The length query needs read access, which administrators have; without it the geometry
    // query, which needs none, gives the same length.
    const Handle readable(CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
    DWORD returned = 0;
    GET_LENGTH_INFORMATION length{};
    if (readable.Valid() && DeviceIoControl(readable.Get(), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0,
                                            &length, sizeof(length), &returned, nullptr)) {
        return static_cast<std::uint64_t>(length.Length.QuadPart);
    }
    const Handle queryOnly = OpenForQuery(path);
    // The geometry's size varies with the disk's partition data: room for all of it.
    alignas(DISK_GEOMETRY_EX) std::array<std::byte, 1024> geometry{};
    if (queryOnly.Valid() &&
        DeviceIoControl(queryOnly.Get(), IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0,
                        geometry.data(), static_cast<DWORD>(geometry.size()), &returned, nullptr) &&
        returned >= offsetof(DISK_GEOMETRY_EX, Data)) {
        return static_cast<std::uint64_t>(
            reinterpret_cast<const DISK_GEOMETRY_EX*>(geometry.data())->DiskSize.QuadPart);
    }
    return std::nullopt;
}

VolumeExtents VolumeDiskExtents(const std::wstring& volume) {
    const Handle handle(CreateFileW(volume.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    if (!handle.Valid()) {
        return {{}, GetLastError()};
    }
    std::vector<std::byte> bytes(sizeof(VOLUME_DISK_EXTENTS));
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD returned = 0;
        if (DeviceIoControl(handle.Get(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0,
                            bytes.data(), static_cast<DWORD>(bytes.size()), &returned, nullptr)) {
            bytes.resize(returned);
            return {std::move(bytes), ERROR_SUCCESS};
        }
        const DWORD error = GetLastError();
        if (error != ERROR_MORE_DATA) {
            return {{}, error};
        }
        // A volume on several disks: the count came back, room for all of them.
        DWORD count = 0;
        std::memcpy(&count, bytes.data(), sizeof(count));
        bytes.resize(offsetof(VOLUME_DISK_EXTENTS, Extents) +
                     std::size_t{count} * sizeof(DISK_EXTENT));
    }
    return {{}, ERROR_MORE_DATA};
}

WmiDiskCatalog::WmiDiskCatalog(ExtentsQuery extentsOf, LengthQuery lengthOf)
    : extentsOf_(std::move(extentsOf)), lengthOf_(std::move(lengthOf)) {}

std::wstring DiskDrivesQuery() {
    return L"select * from Win32_DiskDrive";
}

std::wstring PartitionsQuery(const std::string& diskDeviceId) {
    std::wstring escaped;
    for (const wchar_t c : WideOrEmpty(diskDeviceId)) {
        escaped += c;
        if (c == L'\\') {
            escaped += c;
        }
    }
    return L"ASSOCIATORS OF {Win32_DiskDrive.DeviceID=" + Quoted(escaped) +
           L"} WHERE AssocClass = Win32_DiskDriveToDiskPartition";
}

std::wstring LogicalDisksQuery(const std::string& partitionDeviceId) {
    return L"ASSOCIATORS OF {Win32_DiskPartition.DeviceID=" +
           Quoted(WideOrEmpty(partitionDeviceId)) +
           L"} WHERE AssocClass = Win32_LogicalDiskToPartition";
}

std::optional<std::string> TextOf(const VARIANT& value) {
    if (value.vt != VT_BSTR || value.bstrVal == nullptr) {
        return std::nullopt;
    }
    return Utf8(std::wstring_view(value.bstrVal, SysStringLen(value.bstrVal)));
}

std::optional<std::string> NumberTextOf(const VARIANT& value) {
    if (value.vt == VT_BSTR) {
        const std::optional<std::string> text = TextOf(value);
        return text && DecimalOf(*text) ? text : std::nullopt;
    }
    if (const auto number = SignedOf(value)) {
        return std::to_string(*number);
    }
    if (const auto number = UnsignedOf(value)) {
        return std::to_string(*number);
    }
    return std::nullopt;
}

std::optional<std::uint32_t> UInt32Of(const VARIANT& value) {
    if (value.vt == VT_I4) {
        return static_cast<std::uint32_t>(value.lVal);  // WMI's uint32 in a signed slot
    }
    std::optional<std::uint64_t> number = UnsignedOf(value);
    if (const auto signedNumber = SignedOf(value); signedNumber && *signedNumber >= 0) {
        number = static_cast<std::uint64_t>(*signedNumber);
    }
    if (const auto text = value.vt == VT_BSTR ? TextOf(value) : std::nullopt) {
        number = DecimalOf(*text);
    }
    if (!number || *number > UINT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*number);
}

std::optional<std::vector<ComPtr<IWbemClassObject>>> WmiDiskCatalog::Query(
    const std::wstring& wql) {
    if (!services_) {
        ComPtr<IWbemLocator> locator;
        if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IWbemLocator, locator.PutVoid()))) {
            return std::nullopt;
        }
        const Bstr root(L"ROOT\\CIMV2");
        ComPtr<IWbemServices> services;
        if (!root || FAILED(locator->ConnectServer(root.Get(), nullptr, nullptr, nullptr, 0,
                                                   nullptr, nullptr, services.Put()))) {
            return std::nullopt;
        }
        // What the moniker's {impersonationLevel=impersonate} sets on the proxy.
        if (FAILED(CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                     RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                                     EOAC_NONE))) {
            return std::nullopt;
        }
        services_ = std::move(services);
    }
    const Bstr language(L"WQL");
    const Bstr text(wql.c_str());
    ComPtr<IEnumWbemClassObject> results;
    if (!language || !text) {
        return std::nullopt;
    }
    const HRESULT executed = services_->ExecQuery(
        language.Get(), text.Get(), WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY, nullptr,
        results.Put());
    if (FAILED(executed)) {
        // WMI's own errors (a query it refused) keep the connection; a lost one is made anew.
        if (HRESULT_FACILITY(executed) != FACILITY_ITF) {
            services_.Reset();
        }
        return std::nullopt;
    }
    std::vector<ComPtr<IWbemClassObject>> objects;
    for (;;) {
        ComPtr<IWbemClassObject> object;
        ULONG returned = 0;
        const HRESULT hr = results->Next(kResultTimeoutMs, 1, object.Put(), &returned);
        if (returned == 0 || !object) {
            // A failure after the first results still leaves those results.
            if (FAILED(hr) && objects.empty()) {
                return std::nullopt;
            }
            return objects;
        }
        objects.push_back(std::move(object));
    }
}

std::vector<std::string> WmiDiskCatalog::DeviceIdsOf(const std::wstring& wql) {
    std::vector<std::string> ids;
    for (const auto& object : Query(wql).value_or(std::vector<ComPtr<IWbemClassObject>>())) {
        if (auto id = Property(*object.Get(), L"DeviceID", TextOf)) {
            ids.push_back(std::move(*id));
        }
    }
    return ids;
}

std::optional<std::vector<DiskRecord>> WmiDiskCatalog::Disks() {
    auto disks = Query(DiskDrivesQuery());
    if (!disks) {
        return std::nullopt;
    }
    std::vector<DiskRecord> records;
    for (const auto& disk : *disks) {
        IWbemClassObject& object = *disk.Get();
        auto record = DiskRecordOf([&object](const wchar_t* name, VARIANT& value) {
            if (FAILED(object.Get(name, 0, &value, nullptr, nullptr))) {
                VariantInit(&value);
            }
        });
        if (record) {
            const Handle drive =
                OpenForQuery(Wide(PhysicalDrivePath(record->index)).value_or(std::wstring()));
            if (drive.Valid()) {
                record->identity = DiskIdentityOf(drive.Get());
            }
            record->length = lengthOf_ ? lengthOf_(record->index) : std::nullopt;
            records.push_back(std::move(*record));
        }
    }
    return records;
}

std::vector<std::string> WmiDiskCatalog::PartitionsOf(const std::string& diskDeviceId) {
    return DeviceIdsOf(PartitionsQuery(diskDeviceId));
}

std::vector<std::string> WmiDiskCatalog::VolumesOf(const std::string& partitionDeviceId) {
    return DeviceIdsOf(LogicalDisksQuery(partitionDeviceId));
}

DisksUnder WmiDiskCatalog::DisksHolding(const std::string& path) {
    const auto wide = Wide(path);
    const auto full = wide && !wide->empty() ? FullPath(*wide) : std::nullopt;
    if (!full) {
        return UnknownDisks(SystemErrorText(ERROR_INVALID_NAME));
    }
    const NearestExisting nearest = OpenNearestExisting(*full);
    if (!nearest.handle.Valid()) {
        return UnknownDisks(SystemErrorText(nearest.error));
    }
    DWORD error = ERROR_SUCCESS;
    const auto volume = VolumeUnder(nearest.handle.Get(), *full, error);
    if (!volume) {
        return UnknownDisks(SystemErrorText(error));
    }
    if (volume->empty()) {
        return {DisksUnder::Kind::NoDisk, {}, {}};
    }
    const VolumeExtents extents =
        extentsOf_ ? extentsOf_(*volume) : VolumeExtents{{}, ERROR_INVALID_FUNCTION};
    if (extents.error != ERROR_SUCCESS) {
        return UnknownDisks(SystemErrorText(extents.error));
    }
    auto disks = DiskNumbersOf(extents.bytes);
    if (!disks) {
        return UnknownDisks(SystemErrorText(ERROR_INVALID_DATA));
    }
    // The query worked and places the volume on no disk: a RAM disk, or Wine's folders.
    if (disks->empty()) {
        return {DisksUnder::Kind::NoDisk, {}, {}};
    }
    return {DisksUnder::Kind::Disks, std::move(*disks), {}};
}

std::vector<std::string> WmiDiskCatalog::DrivesBackedBy(const std::string& path) {
    const auto wide = Wide(path);
    const auto full = wide && !wide->empty() ? FullPath(*wide) : std::nullopt;
    const Handle file = full ? OpenForQuery(*full) : Handle();
    DWORD error = ERROR_SUCCESS;
    const auto identity = file.Valid() ? FileIdentityOf(file.Get(), error) : std::nullopt;
    if (!identity) {
        return {};
    }
    // Every disk, listed by WMI or present to Plug and Play.
    std::map<std::uint32_t, std::string> models;
    for (const DiskRecord& disk : Disks().value_or(std::vector<DiskRecord>())) {
        models[disk.index] = disk.model.value_or("");
    }
    for (const std::uint32_t n : PresentDiskNumbers()) {
        models.try_emplace(n);
    }
    std::vector<std::string> names;
    for (const auto& [n, model] : models) {
        for (const std::wstring& backing : BackingFilesOf(n)) {
            const Handle candidate = OpenForQuery(backing);
            if (candidate.Valid() && FileIdentityOf(candidate.Get(), error) == identity) {
                const std::string device = "\\\\.\\PHYSICALDRIVE" + std::to_string(n);
                names.push_back(model.empty() ? device : model + " (" + device + ")");
                break;
            }
        }
    }
    return names;
}

}  // namespace velmaris::platform

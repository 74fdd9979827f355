#include "platform/windows/win32_identity.h"

#include <windows.h>

#include <setupapi.h>
#include <winioctl.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

#include "platform/windows/utf8.h"
#include "platform/windows/win32_handle.h"

namespace velmaris::platform {
namespace {

// GUID_DEVINTERFACE_DISK, defined here: the header declares it for a library we do not link.
constexpr GUID kDiskInterface = {
    0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

// FILE_INFO_BY_HANDLE_CLASS values and FILE_ID_INFO as documented; the headers hide them below
// Windows 8, where the call fails and the older file index is read instead.
constexpr auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);
struct FileIdInfo {
    std::uint64_t volumeSerialNumber;
    std::array<unsigned char, 16> fileId;
};
static_assert(sizeof(FileIdInfo) == 24);

// The offsets the parsers read, as the headers lay the structures out.
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, Size) == 4);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset) == 24);
static_assert(offsetof(VOLUME_DISK_EXTENTS, Extents) == 8 && sizeof(DISK_EXTENT) == 24);

template <typename T>
T Load(std::span<const std::byte> bytes, std::size_t offset) {
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

std::string Hex(std::uint64_t value, int digits) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0 && value != 0; --i, value >>= 4) {
        text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
    }
    return text;
}

std::string FileKeyText(std::uint64_t volumeSerial, const std::array<unsigned char, 16>& id) {
    std::string text = "file:" + Hex(volumeSerial, 16) + ":";
    for (auto byte = id.rbegin(); byte != id.rend(); ++byte) {
        text += Hex(*byte, 2);
    }
    return text;
}

std::string SerialNumberOfDisk(HANDLE disk) {
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    // The header says how large the whole descriptor is.
    STORAGE_DESCRIPTOR_HEADER header{};
    DWORD returned = 0;
    if (!DeviceIoControl(disk, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query), &header,
                         sizeof(header), &returned, nullptr) ||
        returned < sizeof(header) || header.Size < sizeof(STORAGE_DEVICE_DESCRIPTOR)) {
        return {};
    }
    std::vector<std::byte> descriptor(header.Size);
    if (!DeviceIoControl(disk, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query),
                         descriptor.data(), header.Size, &returned, nullptr)) {
        return {};
    }
    return SerialNumberOf(
        std::span(descriptor).first(std::min<std::size_t>(returned, header.Size)));
}

std::optional<STORAGE_DEVICE_NUMBER> DeviceNumberOf(HANDLE device) {
    STORAGE_DEVICE_NUMBER number{};
    DWORD returned = 0;
    if (!DeviceIoControl(device, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                         sizeof(number), &returned, nullptr)) {
        return std::nullopt;
    }
    return number;
}

// Calls visit with each present disk device, its interface opened for queries, until visit
// returns true.
template <typename Visit>
void ForEachDisk(Visit visit) {
    const HDEVINFO devices = SetupDiGetClassDevsW(&kDiskInterface, nullptr, nullptr,
                                                  DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (devices == INVALID_HANDLE_VALUE) {
        return;
    }
    SP_DEVICE_INTERFACE_DATA interface {};
    interface.cbSize = sizeof(interface);
    for (DWORD k = 0; SetupDiEnumDeviceInterfaces(devices, nullptr, &kDiskInterface, k, &interface);
         ++k) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(devices, &interface, nullptr, 0, &size, nullptr);
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
            continue;
        }
        std::vector<std::uint64_t> storage(size / sizeof(std::uint64_t) + 1);  // aligned
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        if (!SetupDiGetDeviceInterfaceDetailW(devices, &interface, detail, size, nullptr,
                                              &device)) {
            continue;
        }
        const Handle disk(CreateFileW(detail->DevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
        if (disk.Valid() && visit(devices, device, disk.Get())) {
            break;
        }
    }
    SetupDiDestroyDeviceInfoList(devices);
}

// The instance id of the present disk device whose interface answers to the same number.
std::string PnpInstanceIdOf(HANDLE disk) {
    const auto wanted = DeviceNumberOf(disk);
    std::string id;
    if (!wanted) {
        return id;
    }
    ForEachDisk([&](HDEVINFO devices, SP_DEVINFO_DATA& device, HANDLE candidate) {
        const auto number = DeviceNumberOf(candidate);
        if (!number || number->DeviceType != wanted->DeviceType ||
            number->DeviceNumber != wanted->DeviceNumber) {
            return false;
        }
        DWORD length = 0;
        SetupDiGetDeviceInstanceIdW(devices, &device, nullptr, 0, &length);
        std::wstring text(length, L'\0');
        if (length > 0 &&
            SetupDiGetDeviceInstanceIdW(devices, &device, text.data(), length, nullptr)) {
            text.resize(std::wcslen(text.c_str()));
            id = Utf8(text);
        }
        return true;
    });
    return id;
}

}  // namespace

std::string SerialNumberOf(std::span<const std::byte> descriptor) {
    // Version, Size, four one-byte fields, then the offsets of vendor, product, revision and
    // serial number.
    constexpr std::size_t kSizeAt = 4;
    constexpr std::size_t kSerialOffsetAt = 24;
    if (descriptor.size() < kSerialOffsetAt + sizeof(std::uint32_t)) {
        return {};
    }
    const std::size_t end =
        std::min<std::size_t>(descriptor.size(), Load<std::uint32_t>(descriptor, kSizeAt));
    const std::size_t at = Load<std::uint32_t>(descriptor, kSerialOffsetAt);
    if (at == 0 || at >= end) {
        return {};
    }
    const auto* text = reinterpret_cast<const char*>(descriptor.data()) + at;
    const auto* stop = static_cast<const char*>(std::memchr(text, '\0', end - at));
    return stop == nullptr ? std::string() : std::string(text, stop);
}

std::optional<std::vector<std::uint32_t>> DiskNumbersOf(std::span<const std::byte> extents) {
    // NumberOfDiskExtents, then DISK_EXTENTs { DiskNumber; StartingOffset; ExtentLength } on
    // 8-byte boundaries.
    constexpr std::size_t kFirstExtent = 8;
    constexpr std::size_t kExtentSize = 24;
    if (extents.size() < sizeof(std::uint32_t)) {
        return std::nullopt;
    }
    const std::size_t count = Load<std::uint32_t>(extents, 0);
    if (count > (extents.size() - std::min(extents.size(), kFirstExtent)) / kExtentSize) {
        return std::nullopt;
    }
    std::vector<std::uint32_t> disks;
    for (std::size_t i = 0; i < count; ++i) {
        disks.push_back(Load<std::uint32_t>(extents, kFirstExtent + i * kExtentSize));
    }
    std::sort(disks.begin(), disks.end());
    disks.erase(std::unique(disks.begin(), disks.end()), disks.end());
    return disks;
}

std::string DiskIdentityOf(void* disk) {
    const std::string pnp = PnpInstanceIdOf(disk);
    const std::string serial = SerialNumberOfDisk(disk);
    if (pnp.empty() && serial.empty()) {
        return {};
    }
    return "pnp:" + pnp + "|serial:" + serial;
}

std::vector<std::uint32_t> PresentDiskNumbers() {
    std::vector<std::uint32_t> numbers;
    ForEachDisk([&](HDEVINFO, SP_DEVINFO_DATA&, HANDLE disk) {
        if (const auto number = DeviceNumberOf(disk)) {
            numbers.push_back(number->DeviceNumber);
        }
        return false;
    });
    return numbers;
}

std::optional<std::string> FileIdentityOf(void* file, unsigned long& error) {
    FileIdInfo id{};
    if (GetFileInformationByHandleEx(file, kFileIdInfo, &id, sizeof(id))) {
        return FileKeyText(id.volumeSerialNumber, id.fileId);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) {
        error = GetLastError();
        return std::nullopt;
    }
    // The 64-bit file index, in the low half of the 128-bit id as FileIdInfo has it.
    const std::uint64_t index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    std::array<unsigned char, 16> wide{};
    for (std::size_t i = 0; i < 8; ++i) {
        wide[i] = static_cast<unsigned char>(index >> (8 * i));
    }
    return FileKeyText(info.dwVolumeSerialNumber, wide);
}

}  // namespace velmaris::platform

#include "platform/windows/wmi_disk_catalog.h"

#include <windows.h>

#include <charconv>
#include <climits>

#include "platform/windows/utf8.h"

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

std::optional<DiskRecord> RecordOf(IWbemClassObject& disk) {
    DiskRecord record;
    record.deviceId = Property(disk, L"DeviceID", TextOf).value_or("");
    Variant index;
    std::optional<std::uint32_t> n;
    if (SUCCEEDED(disk.Get(L"Index", 0, index.Put(), nullptr, nullptr))) {
        n = UInt32Of(index.Get());
    }
    if (!n) {
        return std::nullopt;  // no drive number, no way to open the drive
    }
    record.index = *n;
    record.model = Property(disk, L"Model", TextOf);
    record.mediaType = Property(disk, L"MediaType", TextOf);
    record.size = Property(disk, L"Size", NumberTextOf);
    record.pnpDeviceId = Property(disk, L"PNPDeviceID", TextOf).value_or("");
    return record;
}

}  // namespace

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
        if (auto record = RecordOf(*disk.Get())) {
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

}  // namespace velmaris::platform

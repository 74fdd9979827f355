// The WMI disk catalog: its query texts, its reading of property values, and Wine's WMI and
// volume queries.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>

#include "platform/windows/com_ptr.h"
#include "platform/windows/wmi_disk_catalog.h"
#include "scratch.h"

namespace velmaris::platform {
namespace {

// The disk query itself is run against WMI below; these carry an escaped id.
TEST(WmiQueries, AreSentWordForWord) {
    EXPECT_EQ(
        PartitionsQuery("\\\\.\\PHYSICALDRIVE0"),
        LR"(ASSOCIATORS OF {Win32_DiskDrive.DeviceID="\\\\.\\PHYSICALDRIVE0"} WHERE AssocClass = Win32_DiskDriveToDiskPartition)");
    // Only the disk's id is escaped.
    EXPECT_EQ(
        LogicalDisksQuery("a\\b"),
        LR"(ASSOCIATORS OF {Win32_DiskPartition.DeviceID="a\b"} WHERE AssocClass = Win32_LogicalDiskToPartition)");
}

// A VARIANT as WMI's automation layer hands a property over.
template <typename Set>
VARIANT Of(VARTYPE type, Set set) {
    VARIANT v;
    VariantInit(&v);
    v.vt = type;
    set(v);
    return v;
}
VARIANT Of(VARTYPE type) {
    return Of(type, [](VARIANT&) {});
}
VARIANT Text(const wchar_t* text) {
    return Of(VT_BSTR, [&](VARIANT& v) { v.bstrVal = text ? SysAllocString(text) : nullptr; });
}

TEST(WmiValues, NullsAreAbsentAndEachTypeIsReadForWhatItHolds) {
    using Str = std::optional<std::string>;
    using U32 = std::optional<std::uint32_t>;
    // Size is a uint64, which arrives as text; Index a uint32, which arrives as VT_I4 with the
    // same bits; texts come out as UTF-8.
    std::tuple<const char*, VARIANT, Str, Str, U32> cases[] = {
        {"null", Of(VT_NULL), {}, {}, {}},
        {"empty", Of(VT_EMPTY), {}, {}, {}},
        {"uint64 as text", Text(L"500107862016"), "500107862016", "500107862016", {}},
        {"uint32 as text", Text(L"12"), "12", "12", 12u},
        {"empty text", Text(L""), "", {}, {}},
        {"text, not a number", Text(L"12abc"), "12abc", {}, {}},
        {"non-Latin", Text(L"Диск 映像"), reinterpret_cast<const char*>(u8"Диск 映像"), {}, {}},
        {"no string", Text(nullptr), {}, {}, {}},
        {"uint64", Of(VT_UI8, [](auto& v) { v.ullVal = 2000398934016; }), {}, "2000398934016", {}},
        {"uint32 in a signed slot", Of(VT_I4, [](auto& v) { v.lVal = 3; }), {}, "3", 3u},
        {"top bit set", Of(VT_I4, [](auto& v) { v.lVal = -1; }), {}, "-1", 4294967295u},
        {"uint32", Of(VT_UI4, [](auto& v) { v.ulVal = 7; }), {}, "7", 7u},
        {"byte", Of(VT_UI1, [](auto& v) { v.bVal = 9; }), {}, "9", 9u},
        {"negative int16", Of(VT_I2, [](auto& v) { v.iVal = -1; }), {}, "-1", {}},
        {"big int64", Of(VT_I8, [](auto& v) { v.llVal = 5000000000; }), {}, "5000000000", {}},
        {"double", Of(VT_R8, [](auto& v) { v.dblVal = 1.5; }), {}, {}, {}},
        {"boolean", Of(VT_BOOL, [](auto& v) { v.boolVal = VARIANT_TRUE; }), {}, {}, {}},
    };
    for (auto& [what, value, text, number, index] : cases) {
        EXPECT_EQ(std::tuple(TextOf(value), NumberTextOf(value), UInt32Of(value)),
                  std::tuple(text, number, index))
            << what;
        VariantClear(&value);
    }
}

// Win32_DiskDrive's properties, each holding its own name here (Size, a uint64, arrives as
// text; Index, a uint32, as VT_I4), make the record; without a drive number there is none.
TEST(WmiValues, ADiskRecordTakesEachPropertyByNameAndNeedsADriveNumber) {
    const auto read = [](bool indexed) {
        return DiskRecordOf([indexed](const wchar_t* name, VARIANT& value) {
            const std::wstring property = name;
            value = property == L"Index"
                        ? Of(indexed ? VT_I4 : VT_NULL, [](auto& v) { v.lVal = 2; })
                    : property == L"Size" ? Text(L"30746096640")
                                          : Text(name);
        });
    };
    const auto record = read(true);
    ASSERT_TRUE(record);
    EXPECT_EQ(std::tuple(record->index, record->deviceId, record->model, record->mediaType,
                         record->size, record->pnpDeviceId),
              std::tuple(2u, "DeviceID", "Model", "MediaType", "30746096640", "PNPDeviceID"));
    EXPECT_FALSE(read(false));
}

TEST(WmiDiskCatalog, ListsTheMachinesDisksAndWalksWhatItCan) {
    const ComApartment apartment;
    ASSERT_TRUE(apartment.Ready());
    // Wine answers no length query: a stand-in gives each disk's exact length.
    WmiDiskCatalog catalog(VolumeDiskExtents, [](std::uint32_t n) {
        return n == 0 ? std::nullopt : std::optional<std::uint64_t>(n * 1000 + 7);
    });
    const auto disks = catalog.Disks();
    ASSERT_TRUE(disks) << "WMI could not be reached";
    ASSERT_FALSE(disks->empty()) << "WMI listed no disk";
    for (const DiskRecord& disk : *disks) {
        // Windows says "\\.\PHYSICALDRIVE0"; Wine 8 doubles the backslashes.
        EXPECT_TRUE(disk.deviceId.starts_with("\\\\") &&
                    disk.deviceId.ends_with("\\PHYSICALDRIVE" + std::to_string(disk.index)))
            << disk.deviceId;
        EXPECT_TRUE(!disk.size || (!disk.size->empty() &&
                                   disk.size->find_first_not_of("0123456789") == std::string::npos))
            << disk.size.value_or("");
        EXPECT_EQ(disk.length, disk.index == 0
                                   ? std::nullopt
                                   : std::optional<std::uint64_t>(disk.index * 1000 + 7));
        // Partition walking may fail on some machines (Wine): it must return, empty or not.
        for (const std::string& partition : catalog.PartitionsOf(disk.deviceId)) {
            for (const std::string& volume : catalog.VolumesOf(partition)) {
                EXPECT_TRUE(volume.size() == 2 && volume[1] == ':') << volume;
            }
        }
    }
    // The connection is kept: a second listing gives the same disks.
    const auto again = catalog.Disks();
    ASSERT_TRUE(again && again->size() == disks->size());
    for (std::size_t i = 0; i < disks->size(); ++i) {
        EXPECT_EQ((*again)[i].deviceId, (*disks)[i].deviceId);
    }
    EXPECT_TRUE(catalog.PartitionsOf("\\\\.\\PHYSICALDRIVE4000000").empty());
    // Windows places a local folder's volume on its disks; Wine's volumes have no extent.
    test::ScratchDir tmp;
    const std::string file = tmp.Put("plain.bin", "x");
    const DisksUnder under = catalog.DisksHolding(file);
    EXPECT_NE(under.kind, DisksUnder::Kind::Unknown) << under.reason;
    EXPECT_EQ(under.kind == DisksUnder::Kind::Disks, !under.drives.empty());
    EXPECT_TRUE(catalog.DrivesBackedBy(file).empty()) << "a plain file backs no disk";
}

}  // namespace
}  // namespace velmaris::platform

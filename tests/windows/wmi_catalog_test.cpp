// The WMI disk catalog: its query texts, its reading of property values, and Wine's WMI.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/windows/com_ptr.h"
#include "platform/windows/wmi_disk_catalog.h"

namespace velmaris::platform {
namespace {

TEST(WmiQueries, AreSentWordForWord) {
    EXPECT_EQ(DiskDrivesQuery(), L"select * from Win32_DiskDrive");
    EXPECT_EQ(
        PartitionsQuery("\\\\.\\PHYSICALDRIVE0"),
        LR"(ASSOCIATORS OF {Win32_DiskDrive.DeviceID="\\\\.\\PHYSICALDRIVE0"} WHERE AssocClass = Win32_DiskDriveToDiskPartition)");
    EXPECT_EQ(
        LogicalDisksQuery("Disk #1, Partition #0"),
        LR"(ASSOCIATORS OF {Win32_DiskPartition.DeviceID="Disk #1, Partition #0"} WHERE AssocClass = Win32_LogicalDiskToPartition)");
    // Only the disk's id is escaped.
    EXPECT_EQ(
        LogicalDisksQuery("a\\b"),
        LR"(ASSOCIATORS OF {Win32_DiskPartition.DeviceID="a\b"} WHERE AssocClass = Win32_LogicalDiskToPartition)");
}

// Fills a VARIANT the way WMI's automation layer hands a property over.
class Value {
  public:
    Value(VARTYPE type) { v_.Put()->vt = type; }
    Value(const wchar_t* text) {
        VARIANT* v = v_.Put();
        v->vt = VT_BSTR;
        v->bstrVal = SysAllocString(text);
    }
    template <typename Set>
    Value(VARTYPE type, Set set) {
        VARIANT* v = v_.Put();
        v->vt = type;
        set(*v);
    }
    const VARIANT& operator*() const { return v_.Get(); }

  private:
    Variant v_;
};

TEST(WmiValues, NullsAreAbsentAndEachTypeIsReadForWhatItHolds) {
    for (const VARTYPE absent : {VARTYPE{VT_NULL}, VARTYPE{VT_EMPTY}}) {
        const Value value(absent);
        EXPECT_FALSE(TextOf(*value)) << absent;
        EXPECT_FALSE(NumberTextOf(*value)) << absent;
        EXPECT_FALSE(UInt32Of(*value)) << absent;
    }

    // Size: uint64 arrives as text; a number type is taken too; anything else is no size.
    EXPECT_EQ(NumberTextOf(*Value(L"500107862016")), "500107862016");
    EXPECT_EQ(NumberTextOf(*Value(VT_UI8, [](VARIANT& v) { v.ullVal = 2000398934016; })),
              "2000398934016");
    EXPECT_EQ(NumberTextOf(*Value(VT_I4, [](VARIANT& v) { v.lVal = 512; })), "512");
    EXPECT_FALSE(NumberTextOf(*Value(L"")));
    EXPECT_FALSE(NumberTextOf(*Value(L"12abc")));
    EXPECT_FALSE(NumberTextOf(*Value(VT_R8, [](VARIANT& v) { v.dblVal = 1.5; })));
    EXPECT_FALSE(UInt32Of(*Value(L"500107862016"))) << "too large for a drive number";

    // Index: uint32 arrives as VT_I4 with the same bits.
    EXPECT_EQ(UInt32Of(*Value(VT_I4, [](VARIANT& v) { v.lVal = 3; })), 3u);
    EXPECT_EQ(UInt32Of(*Value(VT_I4, [](VARIANT& v) { v.lVal = -1; })), 4294967295u);
    EXPECT_EQ(UInt32Of(*Value(VT_UI4, [](VARIANT& v) { v.ulVal = 7; })), 7u);
    EXPECT_EQ(UInt32Of(*Value(VT_UI1, [](VARIANT& v) { v.bVal = 9; })), 9u);
    EXPECT_EQ(UInt32Of(*Value(L"12")), 12u);
    EXPECT_FALSE(UInt32Of(*Value(VT_I2, [](VARIANT& v) { v.iVal = -1; })));
    EXPECT_FALSE(UInt32Of(*Value(VT_I8, [](VARIANT& v) { v.llVal = 5000000000; })));
    EXPECT_FALSE(UInt32Of(*Value(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; })));

    // Texts come out as UTF-8; a number is not a text.
    EXPECT_EQ(TextOf(*Value(L"Диск 映像")),
              "\xD0\x94\xD0\xB8\xD1\x81\xD0\xBA \xE6\x98\xA0\xE5\x83\x8F");
    EXPECT_EQ(TextOf(*Value(L"")), "");
    EXPECT_FALSE(TextOf(*Value(VT_I4, [](VARIANT& v) { v.lVal = 1; })));
    EXPECT_FALSE(TextOf(*Value(VT_BSTR, [](VARIANT& v) { v.bstrVal = nullptr; })));
}

bool IsDecimal(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

TEST(WmiDiskCatalog, ListsTheMachinesDisksAndWalksWhatItCan) {
    const ComApartment apartment;
    ASSERT_TRUE(apartment.Ready());
    WmiDiskCatalog catalog;
    const auto disks = catalog.Disks();
    ASSERT_TRUE(disks) << "WMI could not be reached";
    ASSERT_FALSE(disks->empty()) << "WMI listed no disk";

    int partitions = 0;
    int volumes = 0;
    for (const DiskRecord& disk : *disks) {
        // Windows says "\\.\PHYSICALDRIVE0"; Wine 8 doubles the backslashes.
        EXPECT_TRUE(disk.deviceId.starts_with("\\\\") &&
                    disk.deviceId.ends_with("\\PHYSICALDRIVE" + std::to_string(disk.index)))
            << disk.deviceId;
        if (disk.size) {
            EXPECT_TRUE(IsDecimal(*disk.size)) << *disk.size;
        }
        // Partition walking may fail on some machines (Wine): it must return, empty or not.
        for (const std::string& partition : catalog.PartitionsOf(disk.deviceId)) {
            ++partitions;
            for (const std::string& volume : catalog.VolumesOf(partition)) {
                ++volumes;
                EXPECT_TRUE(volume.size() == 2 && volume[1] == ':') << volume;
            }
        }
    }
    RecordProperty("disks", static_cast<int>(disks->size()));
    RecordProperty("partitions", partitions);
    RecordProperty("volumes", volumes);
    const DiskRecord& first = disks->front();
    std::cout << disks->size() << " disk(s), " << partitions << " partition(s), " << volumes
              << " volume(s); first: " << first.deviceId << ", " << first.model.value_or("-")
              << ", " << first.mediaType.value_or("-") << ", " << first.size.value_or("-")
              << ", identity \"" << first.identity << "\"\n";

    // The connection is kept: a second listing gives the same disks.
    const auto again = catalog.Disks();
    ASSERT_TRUE(again);
    ASSERT_EQ(again->size(), disks->size());
    for (std::size_t i = 0; i < disks->size(); ++i) {
        EXPECT_EQ((*again)[i].deviceId, (*disks)[i].deviceId);
    }
    EXPECT_TRUE(catalog.PartitionsOf("\\\\.\\PHYSICALDRIVE4000000").empty());
    EXPECT_TRUE(catalog.VolumesOf("no such partition").empty());
}

}  // namespace
}  // namespace velmaris::platform

// What Windows says disks and volumes are: the descriptor and extents buffers as Microsoft lays
// them out, and the disks under a folder's volume.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/windows/win32_identity.h"
#include "platform/windows/wmi_disk_catalog.h"
#include "scratch.h"

namespace velmaris::platform {
namespace {

using test::ScratchDir;
using Numbers = std::vector<std::uint32_t>;

void Put32(std::vector<std::byte>& bytes, std::size_t at, std::uint32_t value) {
    std::memcpy(bytes.data() + at, &value, sizeof(value));
}

// STORAGE_DEVICE_DESCRIPTOR: Version and Size, four one-byte fields, the vendor, product,
// revision and serial number offsets at 12, 16, 20 and 24, BusType, RawPropertiesLength, then
// the strings from 36 on: here "ATA" at 36, the product at 40, the serial number at 48.
std::vector<std::byte> Descriptor(std::uint32_t serialAt, std::size_t cut = 0,
                                  std::optional<std::uint32_t> size = std::nullopt) {
    const std::string strings("ATA\0SSD 870\0S5Y1NX0R\0", 21 - cut);
    std::vector<std::byte> bytes(36 + strings.size());
    std::memcpy(bytes.data() + 36, strings.data(), strings.size());
    Put32(bytes, 0, 40);  // Version: sizeof the structure
    Put32(bytes, 4, size.value_or(static_cast<std::uint32_t>(bytes.size())));
    Put32(bytes, 12, 36);
    Put32(bytes, 16, 40);
    Put32(bytes, 24, serialAt);
    Put32(bytes, 28, 0xB);  // BusTypeSata
    return bytes;
}

// VOLUME_DISK_EXTENTS: NumberOfDiskExtents, then DISK_EXTENTs from offset 8 of 24 bytes each:
// DiskNumber, StartingOffset at 8, ExtentLength at 16.
std::vector<std::byte> Extents(const std::vector<std::uint32_t>& disks,
                               std::optional<std::uint32_t> count = std::nullopt) {
    std::vector<std::byte> bytes(8 + 24 * disks.size());
    Put32(bytes, 0, count.value_or(static_cast<std::uint32_t>(disks.size())));
    for (std::size_t i = 0; i < disks.size(); ++i) {
        Put32(bytes, 8 + 24 * i, disks[i]);
        const std::uint64_t start = 1048576 * (i + 1);
        std::memcpy(bytes.data() + 8 + 24 * i + 8, &start, sizeof(start));
    }
    return bytes;
}

TEST(DiskLayouts, SerialNumbersAndExtentDisksAreReadWhereTheLayoutSaysAndOnlyThere) {
    const std::tuple<const char*, std::vector<std::byte>, std::string> serials[] = {
        {"present", Descriptor(48), "S5Y1NX0R"},
        {"offset 0: no serial number", Descriptor(0), ""},
        {"past the bytes returned", Descriptor(400), ""},
        {"at the descriptor's Size", Descriptor(48, 0, 48), ""},
        {"ends past the descriptor's Size", Descriptor(48, 0, 52), ""},
        {"not terminated", Descriptor(48, 1), ""},
        {"shorter than the offsets", std::vector<std::byte>(20), ""},
    };
    for (const auto& [what, descriptor, serial] : serials) {
        EXPECT_EQ(SerialNumberOf(descriptor), serial) << what;
    }
    const std::tuple<const char*, std::vector<std::byte>, std::optional<Numbers>> volumes[] = {
        {"dynamic volume on two disks", Extents({3, 1}), Numbers{1, 3}},
        {"two pieces on one disk", Extents({2, 2}), Numbers{2}},
        {"no extent", Extents({}), Numbers{}},
        {"counts more than it holds", Extents({0}, 2), std::nullopt},
        {"no count", std::vector<std::byte>(2), std::nullopt},
    };
    for (const auto& [what, extents, disks] : volumes) {
        EXPECT_EQ(DiskNumbersOf(extents), disks) << what;
    }
}

TEST(WmiDiskCatalog, DisksHoldingAsksTheVolumeTheFolderLandsOn) {
    ScratchDir tmp;
    const std::string file = tmp.Put("in.bin", "x");
    std::vector<std::wstring> asked;
    VolumeExtents answer{Extents({3, 1}), 0};
    WmiDiskCatalog catalog([&](const std::wstring& volume) {
        asked.push_back(volume);
        return answer;
    });
    // One volume, by its GUID name, whatever the spelling and whether the path is there yet.
    std::string doubled = tmp.Path();
    doubled.insert(doubled.find('\\'), "\\");
    for (const std::string& path : {tmp.Path(), file, tmp.Path() + "\\not\\there\\001.bin",
                                    "\\\\?\\" + tmp.Path() + "\\new.bin", doubled}) {
        const DisksUnder under = catalog.DisksHolding(path);
        EXPECT_TRUE(under.kind == DisksUnder::Kind::Disks && under.drives == Numbers({1, 3}))
            << path << ": " << under.reason;
    }
    ASSERT_EQ(asked.size(), 5u);
    EXPECT_TRUE(asked[0].starts_with(L"\\\\?\\Volume{") && asked[0].ends_with(L"}")) << asked[0];
    EXPECT_EQ(std::count(asked.begin(), asked.end(), asked[0]), 5);

    // The system's refusal and extents that do not add up leave the disks unknown, with a
    // reason; a volume placed on no disk (a RAM disk) has none.
    const std::pair<VolumeExtents, DisksUnder::Kind> cases[] = {
        {{{}, 5 /* ERROR_ACCESS_DENIED */}, DisksUnder::Kind::Unknown},
        {{Extents({0}, 2), 0}, DisksUnder::Kind::Unknown},
        {{Extents({}), 0}, DisksUnder::Kind::NoDisk}};
    for (const auto& [extents, kind] : cases) {
        answer = extents;
        const DisksUnder under = catalog.DisksHolding(file);
        EXPECT_TRUE(under.kind == kind && under.drives.empty()) << under.reason;
        EXPECT_EQ(under.reason.empty(), kind != DisksUnder::Kind::Unknown);
    }
    EXPECT_EQ(catalog.DisksHolding("").kind, DisksUnder::Kind::Unknown);
}

}  // namespace
}  // namespace velmaris::platform

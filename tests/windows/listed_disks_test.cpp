// Disks as Windows lists them: Win32_DiskDrive records modelled on Microsoft's documented
// outputs go through the real parsing and listing, and a run over files as drives whose
// listed size is rounded down as Windows rounds it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "discovery/drive_list.h"
#include "discovery/system_drives.h"
#include "fake_services.h"
#include "fake_window.h"
#include "platform/windows/win32_clock.h"
#include "platform/windows/win32_files.h"
#include "platform/windows/win32_number_marks.h"
#include "platform/windows/win32_storage.h"
#include "platform/windows/win32_system_paths.h"
#include "platform/windows/wmi_disk_catalog.h"
#include "record_field.h"
#include "scratch.h"
#include "ui/frm_main.h"

namespace velmaris::platform {
namespace {

// One disk as Win32_DiskDrive describes it, with the length the disk itself reports.
struct WmiDisk {
    std::uint32_t index;
    const wchar_t* model;
    const wchar_t* mediaType;  // null: no medium, and then no Size either
    const wchar_t* pnpDeviceId;
    std::uint64_t length;
    std::uint32_t sector = 512;
};

// Size is documented as cylinders x tracks per cylinder x sectors per track x bytes per
// sector: whole cylinders of 255 x 63 sectors.
std::uint64_t CylinderSize(const WmiDisk& disk) {
    const std::uint64_t cylinder = std::uint64_t{255} * 63 * disk.sector;
    return disk.length / cylinder * cylinder;
}

// The record as the catalog builds it: the properties as WMI's automation layer hands them
// over (Index, a uint32, as VT_I4; Size, a uint64, as text), the length from the disk.
DiskRecord Listed(const WmiDisk& disk) {
    const auto record = DiskRecordOf([&disk](const wchar_t* name, VARIANT& value) {
        const std::wstring property = name;
        const std::wstring text =
            property == L"DeviceID"      ? L"\\\\.\\PHYSICALDRIVE" + std::to_wstring(disk.index)
            : property == L"Model"       ? disk.model
            : property == L"PNPDeviceID" ? disk.pnpDeviceId
            : property == L"MediaType" && disk.mediaType ? disk.mediaType
            : property == L"Size" && disk.mediaType      ? std::to_wstring(CylinderSize(disk))
                                                         : L"";
        VariantInit(&value);
        if (property == L"Index") {
            value.vt = VT_I4;
            value.lVal = static_cast<LONG>(disk.index);
        } else if (!text.empty()) {
            value.vt = VT_BSTR;
            value.bstrVal = SysAllocString(text.c_str());
        } else {
            value.vt = VT_NULL;
        }
    });
    EXPECT_TRUE(record);
    DiskRecord listed = record.value_or(DiskRecord{});
    listed.length = disk.length;
    return listed;
}

TEST(ListedDisks, ShowTheRoundedSizeAndKeepTheExactLength) {
    const WmiDisk disks[] = {
        {0, L"Samsung SSD 970 EVO Plus 1TB", L"Fixed hard disk media",
         L"SCSI\\DISK&VEN_NVME&PROD_SAMSUNG_SSD_970\\5&2E2A8E6F&0&000000", 1000204886016},
        {1, L"ST3500418AS ATA Device", L"Fixed hard disk media",
         L"SCSI\\DISK&VEN_&PROD_ST3500418AS\\4&1A2B3C4D&0&000000", 500107862016},
        {2, L"SanDisk Cruzer Blade USB Device", L"Removable Media",
         L"USBSTOR\\DISK&VEN_SANDISK&PROD_CRUZER_BLADE&REV_1.00\\4C530001230514111372&0",
         30752636928},
        {3, L"Generic- SD/MMC USB Device", nullptr,
         L"USBSTOR\\DISK&VEN_GENERIC-&PROD_SD/MMC&REV_1.00\\20120926571200000&0", 0},
        {4, L"ST1000NM0045 SCSI Disk Device", L"Fixed hard disk media",
         L"SCSI\\DISK&VEN_SEAGATE&PROD_ST1000NM0045\\5&1F2E3D4C&0&000100", 1000204886016, 4096},
        {5, L"WDC WD40EFRX-68N32N0 ATA Device", L"External hard disk media",
         L"SCSI\\DISK&VEN_WDC&PROD_WD40EFRX-68N32N0\\7&3B4C5D6E&0&000000", 4000787030016},
    };
    fakes::FakeCatalog catalog;
    for (const WmiDisk& disk : disks) {
        catalog.disks.push_back(Listed(disk));
    }
    // As the association queries return them: the EFI partition has no letter.
    catalog.partitions["\\\\.\\PHYSICALDRIVE0"] = {"Disk #0, Partition #0",
                                                   "Disk #0, Partition #1"};
    catalog.partitions["\\\\.\\PHYSICALDRIVE2"] = {"Disk #2, Partition #0"};
    catalog.volumes["Disk #0, Partition #1"] = {"C:"};
    catalog.volumes["Disk #2, Partition #0"] = {"E:"};

    grid::GridModel grid;
    grid.SetColCount(5);
    discovery::DriveVolumes letters;
    const auto system = discovery::FindSystemDrives({"C:"}, catalog, letters);
    const discovery::ListedDrives listed =
        discovery::ListPhysicalDrives(grid, catalog, system, NumberMarks{});

    const struct {
        std::uint32_t index;
        const char* model;
        const char* size;
        std::uint64_t sizeBytes;
    } rows[] = {
        {0, "SAMSUNG SSD 970 EVO PLUS 1TB", "931.5 Gb", 1000202273280},
        {1, "ST3500418AS ATA DEVICE", "465.8 Gb", 500105249280},
        {2, "SANDISK CRUZER BLADE USB DEVICE", "28.6 Gb", 30746096640},
        {4, "ST1000NM0045 ", "931.5 Gb", 1000194048000},
        {5, "WDC WD40EFRX-68N32N0 ATA DEVICE", "3.6 Tb", 4000784417280},
    };
    ASSERT_EQ(grid.RowCount(), 5) << "the empty card reader is not listed";
    for (int row = 1; row <= 5; ++row) {
        const auto& want = rows[row - 1];
        const WmiDisk& disk = disks[want.index];
        EXPECT_EQ(grid.CellText(row, discovery::kColId), std::to_string(want.index));
        EXPECT_EQ(grid.CellText(row, discovery::kColModel), want.model);
        EXPECT_EQ(grid.CellText(row, discovery::kColSize), want.size) << want.model;
        EXPECT_EQ(grid.CellText(row, discovery::kColSizeBytes), std::to_string(want.sizeBytes));
        EXPECT_EQ(listed.at(want.index).length, disk.length) << want.model;
        EXPECT_EQ(grid.CellBackColor(row, 1) == discovery::kSystemDriveBackColor, row == 1);
    }
    EXPECT_EQ(letters[2], std::vector<std::string>{"E:"});
}

TEST(ListedDisks, ARunImagesTheExactLengthThoughTheListingRoundedIt) {
    test::ScratchDir tmp;
    // One cylinder and a tail past it that Size leaves out.
    const WmiDisk disk{0, L"Disk", L"Fixed hard disk media", L"SCSI\\DISK",
                       8225280 + 131072 * 2 + 512 * 7};
    const std::string bytes = test::Pattern(disk.length, 5);
    const std::string file = tmp.Put("drive.img", bytes);
    fakes::FakeCatalog catalog;
    catalog.AddDisk(99, "System", "1024", {"C:"});
    catalog.disks.push_back(Listed(disk));
    Win32SystemPaths paths;
    Win32NumberMarks numbers;
    Win32Files files;
    Win32Storage storage([file](std::uint32_t n) { return n == 0 ? file : ""; });
    catalog.disks.back().identity = storage.OpenDrive(0).handle->Identity();
    Win32Clock clock;
    fakes::FakePower power;
    fakes::FakeKeepAwake awake;
    Services services{catalog, paths, numbers, files, storage, clock, power, awake};
    fakes::FakeWindow window;
    ui::frmMain frm{window, services};
    frm.PumpWhileWaiting = std::chrono::hours(1);
    frm.Form_Load();
    window.folderPicks.push_back(tmp.Path() + "\\images");
    frm.Command1_Click();
    window.grid1->SetCurRow(1);
    frm.iGrid1_DblClick(1, 1);
    ASSERT_EQ(window.grid2->RowCount(), 1);
    EXPECT_EQ(window.grid2->CellText(1, discovery::kColSizeBytes), "8225280");
    window.checked[Control::Check2] = true;  // read again unbuffered, and read back
    frm.Command2_Click();

    EXPECT_EQ(window.grid2->CellText(1, jobs::kColStatus), "Verified.");
    const std::string image = window.grid2->CellText(1, jobs::kColFileName);
    EXPECT_TRUE(test::ScratchDir::Read(image) == bytes) << "the image is not the drive";
    const std::string record = test::ScratchDir::Read(image + ".txt");
    EXPECT_EQ(fakes::RecordField(record, "Bytes copied"), std::to_string(bytes.size()));
    EXPECT_EQ(fakes::RecordField(record, "SHA-256 of the image read back"),
              fakes::RecordField(record, "SHA-256"));
    // 64.78 blocks, not the listed 62.75: the bar's maximum counts the tail too.
    EXPECT_NE(window.IndexOf("SetProgressMax 66"), -1);
}

}  // namespace
}  // namespace velmaris::platform

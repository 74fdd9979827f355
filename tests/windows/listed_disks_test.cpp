// A run over a file as a drive, listed from a Win32_DiskDrive record through the real parsing
// with its size rounded down as Windows rounds it, imaged and verified by the Win32 services.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "discovery/drive_list.h"
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

// Win32_DiskDrive's record of disk n of `length` bytes as WMI's automation layer hands it over
// (Index, a uint32, as VT_I4; Size, a uint64, as text). Size is documented as cylinders x
// tracks per cylinder x sectors per track x bytes per sector: whole cylinders of 255 x 63.
DiskRecord Listed(std::uint32_t n, std::uint64_t length) {
    const std::uint64_t cylinder = std::uint64_t{255} * 63 * 512;
    const auto record = DiskRecordOf([&](const wchar_t* name, VARIANT& value) {
        const std::wstring property = name;
        VariantInit(&value);
        value.vt = property == L"Index" ? VT_I4 : VT_BSTR;
        value.lVal = static_cast<LONG>(n);
        if (property != L"Index") {
            value.bstrVal = SysAllocString(
                (property == L"DeviceID"    ? L"\\\\.\\PHYSICALDRIVE" + std::to_wstring(n)
                 : property == L"Size"      ? std::to_wstring(length / cylinder * cylinder)
                 : property == L"MediaType" ? L"Fixed hard disk media"
                                            : property)
                    .c_str());
        }
    });
    EXPECT_TRUE(record);
    DiskRecord listed = record.value_or(DiskRecord{});
    listed.length = length;
    return listed;
}

TEST(ListedDisks, ARunImagesTheExactLengthThoughTheListingRoundedIt) {
    test::ScratchDir tmp;
    // One cylinder and a tail past it that Size leaves out.
    const std::string bytes = test::Pattern(8225280 + 131072 * 2 + 512 * 7, 5);
    const std::string file = tmp.Put("drive.img", bytes);
    fakes::FakeCatalog catalog;
    catalog.AddDisk(99, "System", "1024", {"C:"});
    catalog.disks.push_back(Listed(0, bytes.size()));
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

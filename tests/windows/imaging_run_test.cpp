// Whole imaging runs through frmMain and the real Windows services, regular files standing in
// for the drives, with a recording window in place of the screen.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "fake_services.h"
#include "fake_window.h"
#include "imaging/sha256.h"
#include "jobs/job_context.h"
#include "platform/windows/win32_clock.h"
#include "platform/windows/win32_files.h"
#include "platform/windows/win32_number_marks.h"
#include "platform/windows/win32_storage.h"
#include "platform/windows/win32_system_paths.h"
#include "record_field.h"
#include "scratch.h"
#include "ui/frm_main.h"

namespace velmaris::platform {
namespace {

using test::FsPath;
using test::Pattern;
using test::ScratchDir;
using test::Utf8Of;

constexpr std::size_t kBlock = 131072;

using fakes::RecordField;

std::string Sha256Of(const std::string& bytes) {
    imaging::Sha256 hash;
    hash.Update(reinterpret_cast<const std::byte*>(bytes.data()), bytes.size());
    return imaging::Sha256::Hex(hash.Finish());
}

// The program with the Windows services; a fake catalog lists the drive files at their sizes
// and identities, and the system disk that holds C:, without which nothing is listed.
struct Program {
    explicit Program(const std::vector<std::string>& drives)
        : storage([drives](std::uint32_t n) { return n < drives.size() ? drives[n] : ""; }) {
        catalog.AddDisk(99, "System", "1024", {"C:"});
        for (std::uint32_t n = 0; n < drives.size(); ++n) {
            const auto opened = storage.OpenDrive(n);
            catalog
                .AddDisk(n, "Disk " + std::to_string(n),
                         std::to_string(std::filesystem::file_size(FsPath(drives[n]))))
                .identity = opened.handle ? opened.handle->Identity() : "";
        }
    }
    fakes::FakeCatalog catalog;
    Win32SystemPaths paths;
    Win32NumberMarks numbers;
    Win32Files files;
    Win32Storage storage;
    Win32Clock clock;
    fakes::FakePower power;
    Services services{catalog, paths, numbers, files, storage, clock, power};
    fakes::FakeWindow window;
    ui::frmMain frm{window, services};
};

TEST(ImagingRun, ShrunkAndStoppedDrivesKeepTheirPrefixAndRecordWhy) {
    ScratchDir tmp;
    const std::vector<std::size_t> sizes = {kBlock * 3 + 512 * 5, kBlock * 16 + 512 * 7};
    const std::size_t shrinkTo = kBlock * 2 + 512 * 3;  // of the second drive
    for (const bool stop : {false, true}) {
        const std::string run = stop ? "stopped" : "shrinks";
        SCOPED_TRACE(run);
        // Zeros past the shrink: a read racing it sees the same bytes either way.
        std::vector<std::string> contents = {Pattern(sizes[0], 1), Pattern(shrinkTo, 2)};
        contents[1].resize(sizes[1], '\0');
        std::vector<std::string> drives;
        for (std::size_t k = 0; k < contents.size(); ++k) {
            drives.push_back(tmp.Put(run + std::to_string(k) + ".img", contents[k]));
        }
        Program program(drives);
        program.frm.PumpWhileWaiting = std::chrono::hours(1);
        program.frm.Form_Load();
        // A folder the run creates.
        program.window.folderPicks.push_back(tmp.Path() + "\\" + Utf8Of(u8"образы ") + run);
        program.frm.Command1_Click();
        for (std::size_t k = 0; k < drives.size(); ++k) {
            program.window.grid1->SetCurRow(1);
            program.frm.iGrid1_DblClick(1, 1);
        }
        ASSERT_EQ(program.window.grid2->RowCount(), 2);
        // Pumps come between passes only: the second comes before the third block is applied.
        int pumps = 0;
        program.window.onPump = [&] {
            if (++pumps != 2) {
                return;
            }
            if (stop) {
                program.window.answers.push_back(Answer::Yes);
                program.frm.XPButton1_Click();
            } else {
                std::filesystem::resize_file(FsPath(drives[1]), shrinkTo);
            }
        };
        program.frm.Command2_Click();

        const std::vector<std::string> statuses =
            stop ? std::vector<std::string>{"Stopped", "Stopped"}
                 : std::vector<std::string>{"Done.", "Read Error ..."};
        for (int row = 1; row <= 2; ++row) {
            const std::string& status = statuses[static_cast<std::size_t>(row - 1)];
            const std::string& content = contents[static_cast<std::size_t>(row - 1)];
            const std::string image = program.window.grid2->CellText(row, jobs::kColFileName);
            EXPECT_EQ(program.window.grid2->CellText(row, jobs::kColStatus), status);
            // Never padded: what the drive held, to its end only when done.
            const std::string copied = ScratchDir::Read(image);
            EXPECT_EQ(copied.size() == content.size(), status == "Done.") << copied.size();
            EXPECT_TRUE(content.compare(0, copied.size(), copied) == 0) << image;

            const std::string record = ScratchDir::Read(image + ".txt");
            const std::string result = RecordField(record, "Result");
            EXPECT_TRUE(result == status || result.starts_with(status + " (")) << record;
            EXPECT_EQ(RecordField(record, "Image"), image) << record;
            EXPECT_EQ(RecordField(record, "Bytes copied"), std::to_string(copied.size())) << record;
            EXPECT_EQ(RecordField(record, "Unreadable sectors"), "none") << record;
            EXPECT_EQ(RecordField(record, "SHA-256"), Sha256Of(copied)) << record;
        }
        EXPECT_EQ(program.window.captions[Control::StatusBar1],
                  stop ? "Process stopped by user" : "Process finished with errors");
        // Only the question to stop: a record that could not be written would be reported.
        EXPECT_EQ(program.window.messages.size(), stop ? 1u : 0u)
            << (program.window.messages.empty() ? "" : program.window.messages.back().prompt);
    }
}

}  // namespace
}  // namespace velmaris::platform

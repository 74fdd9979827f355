#include <gtest/gtest.h>

#include "fake_services.h"
#include "fake_window.h"
#include "imaging/sha256.h"
#include "ui/frm_main.h"

namespace velmaris::ui {
namespace {

constexpr std::uint64_t kBlock = 131072;

struct Case {
    const char* name;
    std::uint64_t size;
    std::uint32_t sectorSize;
    std::set<std::uint64_t> bad;  // sectors that never read, and are zeros in the image
    const char* status;
    std::optional<std::uint64_t> clearingFailureAt = {};  // fails once, then reads
};

// Runs one drive (and a healthy one beside it) and returns the images.
struct OneRun {
    fakes::FakeMachine machine;
    fakes::FakeWindow window;
    std::unique_ptr<frmMain> frm;

    explicit OneRun(const Case& c, bool parallel) {
        machine.catalog.AddDisk(9, "System", "1024", {"C:"});
        machine.catalog.AddDisk(0, "Faulty", std::to_string(c.size));
        machine.catalog.AddDisk(1, "Healthy", std::to_string(kBlock * 3 + 512));
        fakes::FakeDrive& faulty = machine.storage.AddDrive(0, c.size, c.sectorSize);
        faulty.badSectors = c.bad;
        if (c.clearingFailureAt) {
            faulty.failReadAt = c.clearingFailureAt;
            faulty.failuresBeforeClearing = 1;
        }
        machine.storage.AddDrive(1, kBlock * 3 + 512);
        machine.files.folders = {"D:\\Images"};
        frm = std::make_unique<frmMain>(window, machine.services);
        frm->ParallelCopy = parallel;
        frm->Form_Load();
        window.folderPicks.push_back("D:\\Images");
        frm->Command1_Click();
        for (int i = 0; i < 2; ++i) {
            window.grid1->SetCurRow(1);
            frm->iGrid1_DblClick(1, 1);
        }
        frm->Command2_Click();
    }
    const std::vector<std::byte>& Image(int row) {
        return machine.storage.files["D:\\Images\\00" + std::to_string(row) + ".bin"].data;
    }
};

TEST(UnreadableSectors, AreZeroedInPlaceAndCountedWhileEverythingElseIsKept) {
    // A drive that vanishes is Imaging.FailuresAreNeverShownAsDone's.
    const Case cases[] = {
        {"first sector", kBlock * 3 + 512 * 5, 512, {0}, "Done: 1 unreadable sector"},
        {"middle", kBlock * 3 + 512 * 5, 512, {300}, "Done: 1 unreadable sector"},
        {"last sector", kBlock * 3 + 512 * 5, 512, {771}, "Done: 1 unreadable sector"},
        {"block boundary", kBlock * 3, 512, {254, 255, 256, 257}, "Done: 4 unreadable sectors"},
        {"4096-byte sectors", kBlock * 2 + 4096 * 3, 4096, {5, 66}, "Done: 2 unreadable sectors"},
        {"error that clears", kBlock * 2 + 512, 512, {}, "Done.", kBlock + 700},
    };
    for (const Case& c : cases) {
        for (const bool parallel : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (parallel ? " parallel" : " serial"));
            OneRun run(c, parallel);
            EXPECT_EQ(run.window.grid2->CellText(1, 7), c.status);
            EXPECT_EQ(run.window.grid2->CellText(2, 7), "Done.");
            EXPECT_EQ(run.Image(2), run.machine.storage.drives[1].data);
            std::vector<std::byte> expected = run.machine.storage.drives[0].data;
            for (const std::uint64_t sector : c.bad) {
                std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(sector * c.sectorSize),
                            c.sectorSize, std::byte{0});
            }
            EXPECT_EQ(run.Image(1), expected);
            // The record names the drive, its zeroed sectors and the image's hash.
            const auto& file = run.machine.storage.files["D:\\Images\\001.bin.txt"].data;
            const std::string record(reinterpret_cast<const char*>(file.data()), file.size());
            imaging::Sha256 hash;
            hash.Update(expected.data(), expected.size());
            EXPECT_NE(record.find("SHA-256: " + imaging::Sha256::Hex(hash.Finish())),
                      std::string::npos)
                << record;
            EXPECT_NE(record.find("Result: " + std::string(c.status) + "\n"), std::string::npos);
            EXPECT_NE(record.find("Drive length: " + std::to_string(c.size) + " bytes\n"),
                      std::string::npos);
            if (std::string(c.name) == "block boundary") {
                EXPECT_NE(record.find("  sectors 254-257 (bytes 130048-132095)\n"),
                          std::string::npos)
                    << record;
            }
            EXPECT_EQ(run.window.captions[platform::Control::StatusBar1],
                      c.bad.empty() ? "Process Complete" : "Process finished with errors");
        }
    }
}

TEST(UnreadableSectors, ADriveThatFailsEverySectorEndsWithoutZerosToItsEnd) {
    std::set<std::uint64_t> all;
    for (std::uint64_t s = 0; s < 8192; ++s) {
        all.insert(s);
    }
    OneRun run({"all bad", 8192 * 512, 512, all, "Read Error ..."}, true);
    EXPECT_EQ(run.window.grid2->CellText(1, 7), "Read Error ...");
    EXPECT_EQ(run.Image(1).size(), 2048u * 512 - kBlock) << "the bound: 2048 sectors in a row";
    // The record lists the zeros the image holds, not those of the block given up on.
    const auto& file = run.machine.storage.files["D:\\Images\\001.bin.txt"].data;
    const std::string record(reinterpret_cast<const char*>(file.data()), file.size());
    EXPECT_NE(record.find("\n  sectors 0-1791 (bytes 0-917503)\n"), std::string::npos) << record;
    EXPECT_EQ(record.find("2047"), std::string::npos) << record;
}

}  // namespace
}  // namespace velmaris::ui

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "fake_services.h"
#include "fake_window.h"
#include "imaging/drive_copier.h"
#include "platform/sha256.h"
#include "record_field.h"
#include "ui/frm_main.h"

namespace velmaris::ui {
namespace {

using fakes::RecordField;
using platform::Answer;
using platform::Control;
using Strings = std::vector<std::string>;

constexpr std::uint64_t kBlock = 131072;
enum Ticked { kShutdown = 1, kVerify = 2 };  // the boxes ticked for a run

// Records every status a job row shows, in order.
struct StatusLog : grid::GridObserver {
    grid::GridModel* grid = nullptr;
    std::map<int, Strings> rows;
    void BeforeLayoutChange() override {}
    void AfterLayoutChange() override {}
    void CurrentRowChanged(int) override {}
    void CellChanged(int row, int col) override {
        if (col == 7) {
            rows[row].push_back(grid->CellText(row, 7));
        }
    }
};

std::string Sha256Of(const std::vector<std::byte>& data) {
    platform::Sha256 hash;
    hash.Update(data.data(), data.size());
    return platform::Sha256::Hex(hash.Finish());
}

// A started window with a target folder and the given drives selected, in order.
struct Rig {
    fakes::FakeMachine machine;
    fakes::FakeWindow window;
    std::unique_ptr<frmMain> frm;
    StatusLog log;
    // Sizes are listed rounded down to this, the exact length beside them, as Windows lists.
    std::uint64_t listedUnit = 1;
    std::map<std::uint32_t, std::uint64_t> listedLengths;  // exact lengths other than the size

    void Start(const std::vector<std::uint64_t>& sizes, int ticked = 0, bool parallel = true) {
        machine.catalog.AddDisk(99, "System", "1024", {"C:"});
        for (std::uint32_t n = 0; n < sizes.size(); ++n) {
            machine.catalog
                .AddDisk(n, "Disk " + std::to_string(n),
                         std::to_string(sizes[n] - sizes[n] % listedUnit))
                .length = listedLengths.contains(n) ? listedLengths[n] : sizes[n];
            machine.storage.AddDrive(n, sizes[n]);
        }
        machine.files.folders = {"D:\\Images"};
        frm = std::make_unique<frmMain>(window, machine.services);
        frm->ParallelCopy = parallel;
        // Passes take microseconds here: a pump inside one would make counts depend on timing.
        frm->PumpWhileWaiting = std::chrono::hours(1);
        frm->Form_Load();
        window.folderPicks.push_back("D:\\Images");
        frm->Command1_Click();
        for (std::uint32_t n = 0; n < sizes.size(); ++n) {
            window.grid1->SetCurRow(1);
            frm->iGrid1_DblClick(1, 1);
        }
        log.grid = window.grid2;
        window.grid2->SetObserver(&log);
        window.calls.clear();
        window.checked[Control::Check1] = (ticked & kShutdown) != 0;
        window.checked[Control::Check2] = (ticked & kVerify) != 0;
    }
    std::string Image(int row) { return "D:\\Images\\00" + std::to_string(row) + ".bin"; }
    bool ImageIsDrive(int row, int n) {
        const auto it = machine.storage.files.find(Image(row));
        return it != machine.storage.files.end() && it->second.finished &&
               it->second.data == machine.storage.drives[static_cast<std::uint32_t>(n)].data;
    }
    std::string Status(int row) { return window.grid2->CellText(row, 7); }
    Strings Statuses() {
        Strings all;
        for (int row = 1; row <= window.grid2->RowCount(); ++row) {
            all.push_back(Status(row));
        }
        return all;
    }
    std::string Record(int row) {
        const auto& data = machine.storage.files[Image(row) + ".txt"].data;
        return {reinterpret_cast<const char*>(data.data()), data.size()};
    }
    // Run mode left or never entered: closable, nothing to stop, and the machine may sleep.
    void ExpectIdle() {
        EXPECT_EQ(window.closeDisabled, 0);
        EXPECT_FALSE(window.enabled[Control::XPButton1]);
        EXPECT_FALSE(machine.awake.held);
    }
    // After a stop: the image is a prefix of its drive, at least the passes applied and at most
    // the lead past them; its record states those bytes and their hash; "Done." only if whole.
    void ExpectStoppedImage(int row, std::uint64_t applied) {
        const auto& image = machine.storage.files[Image(row)];
        const auto& drive = machine.storage.drives[static_cast<std::uint32_t>(row - 1)].data;
        EXPECT_GE(image.data.size(), std::min<std::uint64_t>(applied, drive.size())) << row;
        EXPECT_LE(image.data.size(), applied + imaging::kPassLead * kBlock) << row;
        ASSERT_LE(image.data.size(), drive.size()) << row;
        EXPECT_TRUE(std::equal(image.data.begin(), image.data.end(), drive.begin())) << row;
        EXPECT_TRUE(image.finished) << row;
        const std::string status = image.data.size() == drive.size() ? "Done." : "Stopped";
        EXPECT_EQ(Status(row), status);
        EXPECT_EQ(RecordField(Record(row), "Result"), status);
        EXPECT_EQ(RecordField(Record(row), "Bytes copied"), std::to_string(image.data.size()));
        EXPECT_EQ(RecordField(Record(row), "SHA-256"), Sha256Of(image.data));
    }
    Strings Calls(const std::string& prefix) {
        Strings found;
        for (const std::string& call : window.calls) {
            if (call.starts_with(prefix)) {
                found.push_back(call.substr(prefix.size()));
            }
        }
        return found;
    }
};

struct Imaging : ::testing::Test, Rig {};

TEST_F(Imaging, DrivesOfDifferentSizesAreCopiedExactlyThenTheMachineShutsDown) {
    // Listed rounded down, as Windows lists whole cylinders: the images hold the exact lengths.
    listedUnit = 1024;
    Start({kBlock * 3, kBlock * 2 + 512 * 5, 512 * 7}, kShutdown);
    EXPECT_EQ(window.grid2->CellText(3, 5), "3072");
    // A share that will not take the owner-only access list still gets the image.
    machine.storage.notPrivate = {Image(2)};
    frm->Command2_Click();
    for (int row = 1; row <= 3; ++row) {
        EXPECT_TRUE(ImageIsDrive(row, row - 1)) << row;
        EXPECT_EQ(log.rows[row], (Strings{"Imaging...", "Waiting ...", "Finishing...", "Done."}));
    }
    EXPECT_EQ(RecordField(Record(1), "Image access"), "owner only");
    EXPECT_EQ(RecordField(Record(2), "Image access"),
              "the owner-only access list could not be applied");
    // Four block passes, then eight sector passes; the bar stops at its maximum of four.
    EXPECT_EQ(Calls("SetProgressMax "), Strings{"4"});
    EXPECT_EQ(Calls("SetProgressValue "), (Strings{"1", "2", "3", "4"}));
    EXPECT_EQ(Calls("SetCaption Label5 "), (Strings{"131,072", "262,144", "393,216", "524,288"}));
    // Once after each pass, and once while the shutdown program answers.
    EXPECT_EQ(std::count(window.calls.begin(), window.calls.end(), "PumpMessages"), 13);
    EXPECT_FALSE(window.visible[Control::ProgBarXP1]);
    ExpectIdle();
    EXPECT_EQ(machine.awake.calls, (Strings{"hold", "release"}));
    // "Abort Shutdown" shows once the shutdown is scheduled and goes once it is cancelled; no
    // new run, nor a second abort, can start while the program answers.
    EXPECT_EQ(machine.power.calls, Strings{"shutdown"});
    EXPECT_EQ(Strings(window.calls.end() - 4, window.calls.end()),
              (Strings{"SetEnabled Command2 0", "PumpMessages", "SetVisible Command6 1",
                       "SetEnabled Command2 1"}));
    window.calls.clear();
    frm->Command6_Click();
    EXPECT_EQ(machine.power.calls, (Strings{"shutdown", "abort"}));
    EXPECT_EQ(window.calls, (Strings{"SetEnabled Command6 0", "PumpMessages",
                                     "SetEnabled Command6 1", "SetVisible Command6 0"}));
}

TEST_F(Imaging, AFailedShutdownOrAbortIsSaidAndAbortStaysForAPendingOne) {
    for (const bool startFails : {true, false}) {
        Rig rig;
        rig.Start({kBlock}, kShutdown);
        (startFails ? rig.machine.power.startFailure : rig.machine.power.abortFailure) = "code 5";
        rig.frm->Command2_Click();
        EXPECT_EQ(rig.window.visible[Control::Command6], !startFails);
        if (!startFails) {
            rig.frm->Command6_Click();
            EXPECT_TRUE(rig.window.visible[Control::Command6] &&
                        rig.window.enabled[Control::Command6]);
        }
        ASSERT_EQ(rig.window.messages.size(), 1u);
        EXPECT_EQ(rig.window.Said(),
                  std::string("Shutdown [30] The shutdown of the computer could not be ") +
                      (startFails ? "started" : "aborted") + ".\ncode 5");
    }
}

TEST_F(Imaging, ParallelAndSerialRunsShowAndWriteTheSame) {
    const std::vector<std::uint64_t> sizes = {kBlock * 5 + 512 * 255, kBlock, 512, kBlock * 2};
    Start(sizes, 0, false);
    // Per image: with one target shared, which image fills it first depends on timing.
    const std::map<std::string, std::uint64_t> room = {{Image(1), kBlock * 2}, {Image(3), 0}};
    machine.storage.roomFor = room;
    frm->Command2_Click();
    Rig parallel;
    parallel.Start(sizes, 0, true);
    parallel.machine.storage.roomFor = room;
    parallel.frm->Command2_Click();
    EXPECT_EQ(parallel.window.calls, window.calls);
    EXPECT_EQ(parallel.log.rows, log.rows);
    for (const auto& [path, image] : machine.storage.files) {
        EXPECT_EQ(parallel.machine.storage.files[path].data, image.data) << path;
    }
    EXPECT_EQ(Statuses(), (Strings{"Write Error ...", "Done.", "Write Error ...", "Done."}));
}

TEST_F(Imaging, FailuresAreNeverShownAsDone) {
    Start({kBlock * 2, kBlock * 2, kBlock * 2 + 512 * 3, kBlock}, kShutdown | kVerify);
    machine.storage.drives[0].openFails = true;
    machine.storage.drives[1].goneAt = kBlock + 4096;  // vanishes: no zeros to its end
    machine.storage.drives[2].shortReadAt = kBlock * 2 + 256;
    machine.storage.cannotCreate = {Image(4)};
    frm->Command2_Click();
    EXPECT_EQ(RecordField(Record(2), "Verification"),
              "not verified: the image does not hold the whole drive");
    EXPECT_EQ(Statuses(),
              (Strings{"Open Error ...", "Read Error ...", "Read Error ...", "Write Error ..."}));
    EXPECT_FALSE(machine.storage.files.contains(Image(1)));
    EXPECT_EQ(window.captions[Control::StatusBar1], "Process finished with errors");
    EXPECT_TRUE(machine.power.calls.empty()) << "no shutdown after errors";
}

TEST_F(Imaging, WriteErrorsLeaveTheRunAndFlushFailuresCount) {
    Start({kBlock * 3, kBlock + 512 * 2});
    // Room for one of the second drive's sectors only, and the target full after it.
    machine.storage.roomFor[Image(2)] = kBlock + 512;
    machine.storage.capacity = kBlock * 4 + 512;
    frm->Command2_Click();
    EXPECT_TRUE(ImageIsDrive(1, 0));
    EXPECT_EQ(Statuses(), (Strings{"Done.", "Write Error ..."}));
    ASSERT_EQ(window.messages.size(), 2u);
    EXPECT_EQ(window.messages[0].Text(),
              "Write Error [30] Unable to write to file " + Image(2) + ".");
    // The full target has no room for the records either, and says so.
    EXPECT_PRED_FORMAT2(testing::IsSubstring, Image(1) + ".txt: No space left", window.Said());

    Rig flush;
    flush.Start({kBlock});
    flush.machine.storage.finishFailure = "Input/output error";
    flush.frm->Command2_Click();
    EXPECT_EQ(flush.Status(1), "Write Error ...");

    // Every image done, but a record that cannot be written leaves the run incomplete.
    Rig record;
    record.Start({kBlock}, kShutdown);
    record.machine.storage.cannotCreate = {record.Image(1) + ".txt"};
    record.frm->Command2_Click();
    EXPECT_EQ(record.Status(1), "Done.");
    EXPECT_EQ(record.window.captions[Control::StatusBar1], "Process finished with errors");
    EXPECT_TRUE(record.machine.power.calls.empty()) << "no shutdown after a lost record";
}

TEST_F(Imaging, StopTakesEffectAfterThePass) {
    Start({kBlock * 4, kBlock}, kShutdown | kVerify);
    window.enabled[Control::Check2] = true;  // as the window shows it before a run
    int pumps = 0;
    window.onPump = [&] {
        EXPECT_TRUE(machine.awake.held) << "the machine may sleep during the run";
        EXPECT_FALSE(window.enabled[Control::Check2]) << "it decides what the run does";
        if (++pumps == 2) {
            window.answers = {Answer::Yes};
            frm->XPButton1_Click();
        }
    };
    frm->Command2_Click();
    EXPECT_EQ(window.Said(), "Stop process? [1024] Stop the imaging process, are you sure");
    EXPECT_EQ(Calls("SetProgressValue "), (Strings{"1", "2"}));
    ExpectStoppedImage(1, kBlock * 2);
    ExpectStoppedImage(2, kBlock * 2);
    EXPECT_EQ(Status(2), "Done.") << "complete before the stop";
    EXPECT_EQ(RecordField(Record(2), "Verification"), "not verified: stopped by the user");
    EXPECT_TRUE(machine.storage.files[Image(1) + ".txt"].finished);
    EXPECT_EQ(window.captions[Control::StatusBar1], "Process stopped by user");
    EXPECT_EQ(window.IndexOf("SetCaption StatusBar1 Finishing...."), -1);
    EXPECT_FALSE(window.checked[Control::Check1]);
    EXPECT_TRUE(window.enabled[Control::Check2]);
    EXPECT_TRUE(machine.power.calls.empty());
    EXPECT_EQ(machine.awake.calls, (Strings{"hold", "release"}));
}

TEST_F(Imaging, AFastDriveRunsAtMostTheLeadAheadOfASlowOne) {
    Start({kBlock * 96, kBlock * 96});
    std::atomic<long> slowReads{0}, fastReads{0}, widest{0};
    machine.storage.drives[0].onRead = [&] {
        ++slowReads;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    machine.storage.drives[1].onRead = [&] {
        const long ahead = ++fastReads - slowReads;
        for (long seen = widest; ahead > seen && !widest.compare_exchange_weak(seen, ahead);) {
        }
    };
    frm->Command2_Click();
    EXPECT_TRUE(ImageIsDrive(1, 0) && ImageIsDrive(2, 1));
    // The slow drive's read under way, the passes queued, and the one the fast drive is at.
    EXPECT_LE(widest, static_cast<long>(imaging::kPassLead) + 2);
}

TEST_F(Imaging, TheWindowAnswersWhileADriveOrAnImageIsSlowAndCanStopTheRun) {
    Start({kBlock * 4, kBlock * 4});
    frm->PumpWhileWaiting = std::chrono::milliseconds(20);
    // The first drive's first read, and the first image's flush, do not return until the
    // window has been pumped meanwhile; the first pump during that read stops the run.
    std::atomic<int> pumps{0};
    const auto awaitPump = [&pumps](const char* what) {
        const int before = pumps;
        for (int ms = 0; pumps == before && ms < 30000; ms += 5) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_GT(pumps, before) << "the window was not pumped while " << what;
    };
    std::atomic<bool> reading{false}, closing{false};
    machine.storage.drives[0].onRead = [&] {
        if (!reading.exchange(true)) {
            awaitPump("the drive was busy");
        }
    };
    machine.storage.onFinish = [&](const std::string& path) {
        if (path.ends_with(".bin") && !closing.exchange(true)) {
            awaitPump("the image was flushed");
        }
    };
    window.onPump = [&] {
        if (reading && pumps++ == 0) {
            window.answers = {Answer::Yes};
            frm->XPButton1_Click();
        }
    };
    frm->Command2_Click();
    // Stopped within the first pass, which still ends whole.
    EXPECT_EQ(Calls("SetProgressValue "), Strings{"1"});
    ExpectStoppedImage(1, kBlock);
    ExpectStoppedImage(2, kBlock);
}

TEST_F(Imaging, StopInTheFinishingPhaseAndNoToTheQuestion) {
    Start({kBlock + 512 * 4});
    int pumps = 0;
    window.onPump = [&] {
        ++pumps;
        window.answers = {pumps == 1 ? Answer::No : Answer::Yes};
        if (pumps == 1 || pumps == 4) {
            frm->XPButton1_Click();
        }
    };
    frm->Command2_Click();
    // Block passes 1 and 2, then two sectors before the stop after pass four.
    EXPECT_EQ(std::count(window.calls.begin(), window.calls.end(), "PumpMessages"), 4);
    ExpectStoppedImage(1, kBlock + 512 * 2);
    EXPECT_EQ(window.IndexOf("SetCaption StatusBar1 Closing files.."), -1);
}

TEST_F(Imaging, ChecksRefuseBeforeAnythingIsOpened) {
    // Listed as whole blocks: the room and the bar's maximum go by the exact lengths.
    listedUnit = kBlock;
    Start({kBlock + 512 * 137, kBlock});
    EXPECT_EQ(window.grid2->CellText(1, 5), std::to_string(kBlock));
    // Room for the listed sizes, not for the drives: No ends the run, and run mode is left.
    machine.storage.freeBytes = kBlock * 2 + 512 * 137 - 1;
    window.answers = {Answer::No};
    frm->Command2_Click();
    EXPECT_TRUE(window.Said().starts_with("Warning! [34] ")) << window.Said();
    EXPECT_EQ(window.closeDisabled, 0);
    machine.storage.freeBytes = kBlock * 2 + 512 * 137;

    // Each refusal names its reason before anything is opened or created.
    const std::string same = "Two drives would be imaged into the same file ",
                      link = "D:\\Images\\link.bin", dev = "D:\\Images\\dev";
    const auto fat = [](Rig& r) {
        r.window.grid2->SetCellValue(2, 5, "4294967040");
        r.machine.storage.fileSizeLimit = platform::FileSizeLimit{4294967295, "FAT32"};
    };
    const std::string fatRefusal = "holds 4294967296 bytes, and its target's file system (FAT32)";
    using Disks = platform::DisksUnder;
    const auto under = [](Disks disks) {
        return [disks](Rig& r) { r.machine.catalog.disksHolding = disks; };
    };
    const struct {
        std::string image2;                 // row 2's image path
        std::function<void(Rig&)> arrange;  // undone by the next case's fresh machine
        std::string prompt;                 // a part of the refusal
        std::uint64_t listedLength2 = 0;    // drive 2's exact length as listed, if not its size
    } cases[] = {
        {Image(1), {}, same + Image(1) + "."},
        {"d:\\images\\\\001.BIN", {}, same + "d:\\images\\\\001.BIN."},
        {link, [&](Rig& r) { r.machine.storage.sameFileAs[link] = r.Image(1); }, same + link + "."},
        {Image(1) + ".txt", {}, same + Image(1) + ".txt."},
        {"D:002.bin", {}, "\"D:002.bin\" is not a full path"},
        {Image(2), fat, fatRefusal, 4294967296},  // too large for FAT, its listed size is not
        {dev, [&](Rig& r) { r.machine.storage.notRegular = {dev}; }, "not a regular file"},
        {Image(2), [](Rig& r) { r.machine.storage.keyFails = {r.Image(2) + ".txt"}; },
         "The image path " + Image(2) + ".txt cannot be checked: Access is denied."},
        {Image(2), [](Rig& r) { r.machine.catalog.backedDrives[r.Image(2)] = {"VHD (2)"}; },
         "The file " + Image(2) + " holds the contents of the drive VHD (2)"},
        {Image(2), under({Disks::Kind::Unknown, {}, "no ext"}), "could not be worked out: no ext"},
        {Image(2), under({Disks::Kind::Disks, {1}, {}}),
         "The target is one of the source drives, this will cause problems."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.prompt);
        Rig rig;
        if (c.listedLength2 != 0) {
            rig.listedLengths[1] = c.listedLength2;
        }
        rig.Start({kBlock, kBlock});
        rig.window.grid2->SetCellValue(2, 6, c.image2);
        if (c.arrange) {
            c.arrange(rig);
        }
        rig.frm->Command2_Click();
        EXPECT_PRED_FORMAT2(testing::IsSubstring, "[30] ", rig.window.Said());
        EXPECT_PRED_FORMAT2(testing::IsSubstring, c.prompt, rig.window.Said());
        EXPECT_TRUE(rig.machine.storage.opened.empty());
        rig.ExpectIdle();
    }

    // Overwrite questions come first, a record's after its image's; a No truncates nothing.
    machine.storage.files[Image(1) + ".txt"].data.assign(10, std::byte{1});
    machine.storage.files[Image(2)].data.assign(10, std::byte{1});
    window.answers = {Answer::Yes, Answer::No};
    frm->Command2_Click();
    ASSERT_GE(window.messages.size(), 2u);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, Image(1) + ".txt already exists",
                        window.messages.end()[-2].prompt);
    EXPECT_PRED_FORMAT2(testing::IsSubstring,
                        "File exists [1024] The file " + Image(2) + " already exists",
                        window.Said());
    EXPECT_EQ(Calls("SetProgressMax "), Strings{"3"});  // 2 when listed
    EXPECT_TRUE(machine.storage.opened.empty());
    EXPECT_EQ(machine.storage.files[Image(2)].data.size(), 10u);
    EXPECT_EQ(Status(1), "");
    ExpectIdle();
}

TEST_F(Imaging, ADriveThatIsNotTheOneListedCostsNoImage) {
    Start({kBlock, kBlock, kBlock});
    machine.storage.drives[1].identity = "another medium";  // same number, same size
    frm->Command2_Click();
    // Every drive is opened and checked before the first image is created.
    ASSERT_GE(machine.storage.opened.size(), 5u);
    EXPECT_EQ(Strings(machine.storage.opened.begin(), machine.storage.opened.begin() + 5),
              (Strings{"drive 0", "drive 1", "drive 2", "image " + Image(1), "image " + Image(3)}));
    EXPECT_EQ(Statuses(), (Strings{"Done.", "Open Error ...", "Done."}));
    EXPECT_FALSE(machine.storage.files.contains(Image(2)));
    EXPECT_PRED_FORMAT2(testing::IsSubstring,
                        "the disk at drive number 1 has changed since it was listed", Record(2));
}

TEST_F(Imaging, NoTargetOrNoJobsRefusesOutsideRunMode) {
    Start({});
    window.folderPicks.push_back(std::nullopt);
    frm->Command1_Click();
    frm->Command2_Click();  // the folder dialog is cancelled again
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.Said(), "Error [1030] No target folder selected.");
    window.folderPicks.push_back("D:\\Images");
    frm->Command2_Click();
    EXPECT_EQ(window.Said(), "No drives selected. [30] Please select drives to image.");
    EXPECT_EQ(window.IndexOf("DisableClose 1"), -1);
}

TEST_F(Imaging, UnreadableSectorsAreZeroedInPlaceAndListedWhileEverythingElseIsKept) {
    const std::uint64_t odd = kBlock * 3 + 512 * 5;
    const char *one = "Done: 1 unreadable sector", *four = "Done: 4 unreadable sectors",
               *none = "Unreadable sectors: none\n",
               *apart = "sectors 5-5 (bytes 20480-24575)\n  sectors 66-66 (bytes 270336-274431)\n";
    const struct {
        std::uint64_t size;
        std::uint32_t sectorSize;
        std::set<std::uint64_t> bad;  // sectors that never read, and are zeros in the image
        std::string status, listed;   // the record's list of them
        std::optional<std::uint64_t> clearingFailureAt = {};  // fails once, then reads
    } cases[] = {
        {odd, 512, {0}, one, "sectors 0-0 (bytes 0-511)\n"},
        {odd, 512, {300}, one, "sectors 300-300 (bytes 153600-154111)\n"},
        {odd, 512, {772}, one, "sectors 772-772 (bytes 395264-395775)\n"},
        {kBlock * 3, 512, {254, 255, 256, 257}, four, "sectors 254-257 (bytes 130048-132095)\n"},
        {kBlock * 2 + 4096 * 3, 4096, {5, 66}, "Done: 2 unreadable sectors", apart},
        {kBlock * 2 + 512, 512, {}, "Done.", none, kBlock + 700},
    };
    for (const auto& c : cases) {
        for (const bool parallel : {true, false}) {
            SCOPED_TRACE(c.listed + (parallel ? " parallel" : " serial"));
            Rig rig;
            rig.Start({c.size, kBlock * 3 + 512}, 0, parallel);
            fakes::FakeDrive& faulty = rig.machine.storage.drives[0];
            faulty.sectorSize = c.sectorSize;
            faulty.badSectors = c.bad;
            faulty.failReadAt = c.clearingFailureAt;
            faulty.failuresBeforeClearing = 1;
            rig.frm->Command2_Click();
            EXPECT_TRUE(rig.ImageIsDrive(2, 1));
            std::vector<std::byte> expected = faulty.data;
            for (const std::uint64_t sector : c.bad) {
                std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(sector * c.sectorSize),
                            c.sectorSize, std::byte{0});
            }
            EXPECT_EQ(rig.machine.storage.files[rig.Image(1)].data, expected);
            const std::string record = rig.Record(1);
            EXPECT_EQ(RecordField(record, "SHA-256"), Sha256Of(expected));
            EXPECT_EQ(rig.Status(1), c.status);
            EXPECT_EQ(RecordField(record, "Result"), c.status);
            EXPECT_EQ(RecordField(record, "Drive length"), std::to_string(c.size) + " bytes");
            EXPECT_PRED_FORMAT2(testing::IsSubstring,
                                c.listed == none ? none : "(zeros in the image):\n  " + c.listed,
                                record);
            EXPECT_EQ(rig.window.captions[Control::StatusBar1],
                      c.bad.empty() ? "Process Complete" : "Process finished with errors");
        }
    }
}

TEST_F(Imaging, ADriveThatFailsEverySectorEndsWithoutZerosToItsEnd) {
    Start({8192 * 512});
    for (std::uint64_t s = 0; s < 8192; ++s) {
        machine.storage.drives[0].badSectors.insert(s);
    }
    frm->Command2_Click();
    EXPECT_EQ(Status(1), "Read Error ...");
    EXPECT_EQ(machine.storage.files[Image(1)].data.size(), 2048u * 512 - kBlock)
        << "the bound: 2048 sectors in a row";
    // The record lists the zeros the image holds, not those of the block given up on.
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "\n  sectors 0-1791 (bytes 0-917503)\n", Record(1));
    EXPECT_EQ(Record(1).find("2047"), std::string::npos);
}

TEST_F(Imaging, AVerifiedRunReadsEveryDriveAndImageAgainThenCompletes) {
    Start({kBlock * 3, kBlock + 512 * 3}, kShutdown | kVerify);
    frm->Command2_Click();
    for (int row = 1; row <= 2; ++row) {
        EXPECT_TRUE(ImageIsDrive(row, row - 1)) << row;
        EXPECT_EQ(Strings(log.rows[row].end() - 2, log.rows[row].end()),
                  (Strings{"Verifying...", "Verified."}));
        const std::string record = Record(row), copied = RecordField(record, "SHA-256");
        EXPECT_EQ(RecordField(record, "SHA-256 of the drive read again"), copied);
        EXPECT_EQ(RecordField(record, "SHA-256 of the image read back"), copied);
        EXPECT_EQ(RecordField(record, "Verification"), "done");
        EXPECT_EQ(RecordField(record, "Verification result"), "Verified.");
        EXPECT_EQ(RecordField(record, "Differing bytes"), "0");
    }
    // The drive opened again past the cache, and the image read back, after the copy.
    const auto& opened = machine.storage.opened;
    const auto at = [&opened](const std::string& what) {
        return std::find(opened.begin(), opened.end(), what) - opened.begin();
    };
    EXPECT_LT(at("image " + Image(2)), at("verify drive 0"));
    EXPECT_EQ(at("verify drive 0") + 1, at("read back " + Image(1)));
    EXPECT_EQ(Calls("SetCaption StatusBar1 "),
              (Strings{"Creating images", "Finishing....", "Closing files..", "Verifying images",
                       "Process Complete"}));
    // The display starts again for the verification, up to the longest drive.
    EXPECT_EQ(Calls("SetProgressMax "), (Strings{"4", "3"}));
    EXPECT_EQ(Calls("SetCaption Label5 ").back(), "393,216");
    EXPECT_LT(window.IndexOf("SetEnabled Check2 0"),
              window.IndexOf("SetCaption StatusBar1 Verifying images"));
    EXPECT_TRUE(window.enabled[Control::Check2]);
    EXPECT_EQ(machine.power.calls, Strings{"shutdown"});
}

// Timer1 shows the time since the phase began, the time left at that pace, and the speed of
// every drive at work: each row while copying, the drives being verified while verifying.
TEST_F(Imaging, TimerShowsElapsedRemainingAndSpeedOfEachPhase) {
    Start({kBlock * 32, kBlock * 32, kBlock * 32}, kVerify);
    machine.storage.drives[1].openFails = true;
    Strings shown;
    window.onPump = [&] {
        const bool verifying = window.captions[Control::StatusBar1] == "Verifying images";
        if (window.captions[Control::Label5] == (verifying ? "4,194,304" : "1,048,576")) {
            machine.clock.now += 1000;
            frm->Timer1_Timer();
            shown.push_back(window.captions[Control::Label12] + " " +
                            window.captions[Control::Label7] + " " +
                            window.captions[Control::Label9]);
        }
    };
    frm->Command2_Click();
    EXPECT_EQ(shown, (Strings{"0:00:01 0:00:03 180", "0:00:01 0:00:00 480"}));
}

TEST_F(Imaging, VerificationCatchesWhatChangedAndSkipsOnlyUnreadableSectors) {
    const std::string error = "Verify Error ...", one = "Verified: 1 unreadable sector",
                      notOpened = "the drive could not be opened again: No such device",
                      drive = "the drive read again differs from the image as written; ",
                      image = "the image read back differs from the image as written; ",
                      aByte = "the drive read again and the image read back differ in 1 byte",
                      twice = " bytes, not 262144";
    // What is found when the drive and its image are opened again.
    enum class R { Same, Gone, NotOpened, Another, Shorter, ImageShorter };
    const struct {
        std::set<std::uint64_t> badWhenCopied, badWhenReadAgain;
        std::optional<std::uint64_t> changedOnDrive, flippedOnTarget;
        R reopened;
        std::string status, reasons;
        std::uint32_t unitWhenReadAgain = 512;  // a bridge may come back with larger sectors
    } cases[] = {
        {{}, {}, kBlock + 7, {}, R::Same, error, drive + aByte},  // drive changed
        {{}, {}, {}, 300, R::Same, error, image + aByte},         // target corrupts
        {{5}, {}, {}, {}, R::Same, one, ""},
        {{}, {300}, {}, {}, R::Same, one, ""},
        {{5, 6}, {6, 300}, {}, {}, R::Same, "Verified: 3 unreadable sectors", ""},
        {{}, {1}, {}, {}, R::Same, "Verified: 8 unreadable sectors", "", 4096},
        {{}, {5}, 6 * 512 + 1, {}, R::Same, error, aByte},  // a change beside an unreadable one
        {{}, {}, {}, {}, R::Gone, error, "the drive could not be read again: No such device"},
        {{}, {}, {}, {}, R::NotOpened, error, notOpened},
        {{}, {}, {}, {}, R::Another, error, "the drive opened again is not the drive imaged"},
        {{}, {}, {}, {}, R::Shorter, error, "the drive now holds 131072" + twice},
        {{}, {}, {}, {}, R::ImageShorter, error, "the image holds 131072" + twice},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status + " " + c.reasons);
        Rig rig;
        rig.Start({kBlock * 2, kBlock}, kShutdown | kVerify);
        rig.machine.storage.drives[0].badSectors = c.badWhenCopied;
        rig.machine.storage.onReopen = [&c, &rig](fakes::FakeDrive& reopened) {
            if (reopened.identity != "disk-0") {
                return;
            }
            reopened.badSectors = c.badWhenReadAgain;
            reopened.sectorSize = c.unitWhenReadAgain;
            if (c.changedOnDrive) {
                reopened.data[*c.changedOnDrive] ^= std::byte{0x80};
            }
            reopened.openFails = c.reopened == R::NotOpened;
            reopened.goneAt = c.reopened == R::Gone ? std::optional(kBlock) : std::nullopt;
            reopened.identity = c.reopened == R::Another ? "another medium" : "disk-0";
            reopened.data.resize(c.reopened == R::Shorter ? kBlock : reopened.data.size());
            if (c.reopened == R::ImageShorter) {
                rig.machine.storage.files[rig.Image(1)].data.resize(kBlock);
            }
        };
        if (c.flippedOnTarget) {
            rig.machine.storage.flippedOnReadBack[rig.Image(1)] = {*c.flippedOnTarget};
        }
        rig.frm->Command2_Click();
        EXPECT_EQ(rig.Status(1), c.status);
        const std::string result = RecordField(rig.Record(1), "Verification result");
        EXPECT_EQ(result, c.reasons.empty() ? c.status : c.status + " (" + c.reasons + ")");
        const std::uint64_t differs = c.changedOnDrive.value_or(c.flippedOnTarget.value_or(0));
        if (differs != 0) {
            EXPECT_EQ(RecordField(rig.Record(1), "Differing bytes"),
                      "1, the first at byte offsets " + std::to_string(differs));
        }
        EXPECT_EQ(rig.Status(2), "Verified.") << "the other drive is not held back";
        EXPECT_EQ(rig.window.captions[Control::StatusBar1], "Process finished with errors");
        EXPECT_TRUE(rig.machine.power.calls.empty()) << "no shutdown unless every image is proven";
    }
}

TEST_F(Imaging, AStopDuringVerificationKeepsTheCopyResultOfDrivesNotYetVerified) {
    Start({kBlock * 64, kBlock}, kVerify);
    frm->PumpWhileWaiting = std::chrono::milliseconds(1);
    machine.storage.onReopen = [](fakes::FakeDrive& drive) {
        drive.onRead = [] { std::this_thread::sleep_for(std::chrono::milliseconds(2)); };
    };
    bool asked = false;
    window.onPump = [&] {
        if (!asked && window.IndexOf("SetCaption StatusBar1 Verifying images") >= 0) {
            asked = true;
            window.answers = {Answer::Yes};
            frm->XPButton1_Click();
        }
    };
    frm->Command2_Click();
    EXPECT_TRUE(ImageIsDrive(1, 0));
    EXPECT_EQ(Status(1), "Done.");
    EXPECT_EQ(RecordField(Record(1), "Verification"), "not verified: stopped by the user");
    EXPECT_EQ(window.captions[Control::StatusBar1], "Process stopped by user");
}

}  // namespace
}  // namespace velmaris::ui

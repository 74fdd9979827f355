#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

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

constexpr std::uint64_t kBlock = 131072;

// Records every status a job row shows, in order.
struct StatusLog : grid::GridObserver {
    grid::GridModel* grid = nullptr;
    std::map<int, std::vector<std::string>> rows;
    void BeforeLayoutChange() override {}
    void AfterLayoutChange() override {}
    void CurrentRowChanged(int) override {}
    void CellChanged(int row, int col) override {
        if (col == 7) {
            rows[row].push_back(grid->CellText(row, 7));
        }
    }
};

// A started window with a target folder and the given drives selected, in order.
struct Rig {
    fakes::FakeMachine machine;
    fakes::FakeWindow window;
    std::unique_ptr<frmMain> frm;
    StatusLog log;
    // Sizes are listed rounded down to this, the exact length beside them, as Windows lists.
    std::uint64_t listedUnit = 1;
    std::map<std::uint32_t, std::uint64_t> listedLengths;  // exact lengths other than the size

    void Start(const std::vector<std::uint64_t>& sizes, bool parallel = true) {
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
        // Passes here take microseconds: a pump inside one would make the counts below depend
        // on the scheduler.
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
    }
    std::string Image(int row) { return "D:\\Images\\00" + std::to_string(row) + ".bin"; }
    bool ImageIsDrive(int row, std::uint32_t n) {
        const auto it = machine.storage.files.find(Image(row));
        return it != machine.storage.files.end() &&
               it->second.data == machine.storage.drives[n].data && it->second.finished;
    }
    std::string Status(int row) { return window.grid2->CellText(row, 7); }
    std::string Record(int row) {
        const auto& data = machine.storage.files[Image(row) + ".txt"].data;
        return {reinterpret_cast<const char*>(data.data()), data.size()};
    }
    // After a stop: the image is a prefix of its drive holding at least the passes applied and
    // at most the pipeline's lead past them, its record states exactly those bytes and their
    // hash, and the row says "Done." only when the image is whole.
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
        platform::Sha256 hash;
        hash.Update(image.data.data(), image.data.size());
        EXPECT_EQ(RecordField(Record(row), "SHA-256"), platform::Sha256::Hex(hash.Finish()));
    }
    std::vector<std::string> Calls(const std::string& prefix) {
        std::vector<std::string> found;
        for (const std::string& call : window.calls) {
            if (call.rfind(prefix, 0) == 0) {
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
    Start({kBlock * 3, kBlock * 2 + 512 * 5, 512 * 7});
    EXPECT_EQ(window.grid2->CellText(3, 5), "3072");
    window.checked[Control::Check1] = true;
    // A share that will not take the owner-only access list still gets the image.
    machine.storage.notPrivate = {Image(2)};
    frm->Command2_Click();
    for (int row = 1; row <= 3; ++row) {
        EXPECT_TRUE(ImageIsDrive(row, static_cast<std::uint32_t>(row - 1))) << row;
        EXPECT_EQ(Status(row), "Done.");
    }
    EXPECT_EQ(RecordField(Record(1), "Image access"), "owner only");
    EXPECT_EQ(RecordField(Record(2), "Image access"),
              "the owner-only access list could not be applied");
    EXPECT_EQ(log.rows[1],
              (std::vector<std::string>{"Imaging...", "Waiting ...", "Finishing...", "Done."}));
    EXPECT_EQ(log.rows[3], log.rows[1]);
    EXPECT_EQ(Calls("SetCaption StatusBar1 "),
              (std::vector<std::string>{"Creating images", "Finishing....", "Closing files..",
                                        "Process Complete"}));
    // Four block passes, then eight sector passes for the smallest drive's seven sectors;
    // the bar stops at its maximum of four.
    EXPECT_EQ(Calls("SetProgressMax "), std::vector<std::string>{"4"});
    EXPECT_EQ(Calls("SetProgressValue "), (std::vector<std::string>{"1", "2", "3", "4"}));
    EXPECT_EQ(Calls("SetCaption Label5 "),
              (std::vector<std::string>{"131,072", "262,144", "393,216", "524,288"}));
    // Once after each pass, and once while the shutdown program answers.
    EXPECT_EQ(std::count(window.calls.begin(), window.calls.end(), "PumpMessages"), 13);
    EXPECT_EQ(window.visible[Control::ProgBarXP1], false);
    EXPECT_EQ(window.closeDisabled, 0);
    EXPECT_TRUE(window.enabled[Control::Command2]);
    EXPECT_FALSE(window.enabled[Control::XPButton1]);
    EXPECT_EQ(machine.awake.calls, (std::vector<std::string>{"hold", "release"}));
    // Every image done: the shutdown starts, and can be aborted. "Abort Shutdown" comes only
    // once the program has said the shutdown is scheduled, and goes once it is cancelled; no
    // new run, and no second abort, can start while it answers.
    EXPECT_EQ(machine.power.calls, std::vector<std::string>{"shutdown"});
    const std::vector<std::string> scheduled = {"SetEnabled Command2 0", "PumpMessages",
                                                "SetVisible Command6 1", "SetEnabled Command2 1"};
    EXPECT_EQ(std::vector<std::string>(window.calls.end() - 4, window.calls.end()), scheduled);
    window.calls.clear();
    frm->Command6_Click();
    EXPECT_EQ(machine.power.calls, (std::vector<std::string>{"shutdown", "abort"}));
    EXPECT_EQ(window.calls,
              (std::vector<std::string>{"SetEnabled Command6 0", "PumpMessages",
                                        "SetEnabled Command6 1", "SetVisible Command6 0"}));
}

TEST_F(Imaging, AFailedShutdownOrAbortIsSaidAndAbortStaysForAPendingOne) {
    const struct {
        std::optional<std::string> startFailure, abortFailure;
        bool offered, offeredAfterAbort;
        std::vector<std::string> prompts;
    } cases[] = {
        {"exit status 1",
         std::nullopt,
         false,
         false,
         {"The shutdown of the computer could not be started.\nexit status 1"}},
        {std::nullopt,
         "code 1116",
         true,
         true,
         {"The shutdown of the computer could not be aborted.\ncode 1116"}},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.Start({kBlock});
        rig.window.checked[Control::Check1] = true;
        rig.machine.power.startFailure = c.startFailure;
        rig.machine.power.abortFailure = c.abortFailure;
        rig.frm->Command2_Click();
        EXPECT_EQ(rig.window.visible[Control::Command6], c.offered);
        if (c.offered) {
            rig.frm->Command6_Click();
            EXPECT_TRUE(rig.window.enabled[Control::Command6]);
        }
        EXPECT_EQ(rig.window.visible[Control::Command6], c.offeredAfterAbort);
        std::vector<std::string> prompts;
        for (const auto& shown : rig.window.messages) {
            prompts.push_back(shown.prompt);
            EXPECT_EQ(shown.title, "Shutdown");
            EXPECT_EQ(shown.style, 0x30u);
        }
        EXPECT_EQ(prompts, c.prompts);
    }
}

TEST_F(Imaging, ParallelAndSerialRunsShowAndWriteTheSame) {
    const std::vector<std::uint64_t> sizes = {kBlock * 5 + 512 * 255, kBlock, 512, kBlock * 2};
    Start(sizes, false);
    // Per image: with one target shared, which image fills it first depends on timing.
    const std::map<std::string, std::uint64_t> room = {{Image(1), kBlock * 2}, {Image(3), 0}};
    machine.storage.roomFor = room;
    frm->Command2_Click();
    const auto serialCalls = window.calls;
    const auto serialLog = log.rows;
    const auto serialFiles = machine.storage.files;

    Rig parallel;
    parallel.Start(sizes, true);
    parallel.machine.storage.roomFor = room;
    parallel.frm->Command2_Click();
    EXPECT_EQ(parallel.window.calls, serialCalls);
    EXPECT_EQ(parallel.log.rows, serialLog);
    for (const auto& [path, image] : serialFiles) {
        EXPECT_EQ(parallel.machine.storage.files[path].data, image.data) << path;
    }
    EXPECT_EQ(Status(1), "Write Error ...");
    EXPECT_EQ(Status(3), "Write Error ...");
    EXPECT_EQ(Status(4), "Done.");
}

TEST_F(Imaging, FailuresAreNeverShownAsDone) {
    Start({kBlock * 2, kBlock * 2, kBlock * 2 + 512 * 3, kBlock});
    machine.storage.drives[0].openFails = true;
    machine.storage.drives[1].goneAt = kBlock + 4096;  // vanishes: no zeros to its end
    machine.storage.drives[2].shortReadAt = kBlock * 2 + 256;
    machine.storage.cannotCreate = {Image(4)};
    window.checked[Control::Check1] = true;
    window.checked[Control::Check2] = true;
    frm->Command2_Click();
    EXPECT_EQ(RecordField(Record(2), "Verification"),
              "not verified: the image does not hold the whole drive");
    EXPECT_EQ(Status(1), "Open Error ...");
    EXPECT_EQ(machine.storage.files.count(Image(1)), 0u);
    EXPECT_EQ(Status(2), "Read Error ...");
    EXPECT_EQ(Status(3), "Read Error ...");
    EXPECT_EQ(Status(4), "Write Error ...");
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
    EXPECT_EQ(Status(1), "Done.");
    EXPECT_EQ(Status(2), "Write Error ...");
    ASSERT_EQ(window.messages.size(), 2u);
    EXPECT_EQ(window.messages[0].prompt, "Unable to write to file " + Image(2) + ".");
    EXPECT_EQ(window.messages[0].title, "Write Error");
    // The full target has no room for the records either, and says so.
    EXPECT_NE(window.messages[1].prompt.find(Image(1) + ".txt: No space left"), std::string::npos);

    Rig flush;
    flush.Start({kBlock});
    flush.machine.storage.finishFailure = "Input/output error";
    flush.frm->Command2_Click();
    EXPECT_EQ(flush.Status(1), "Write Error ...");

    // Every image done, but a record that cannot be written leaves the run incomplete.
    Rig record;
    record.Start({kBlock});
    record.machine.storage.cannotCreate = {record.Image(1) + ".txt"};
    record.window.checked[Control::Check1] = true;
    record.frm->Command2_Click();
    EXPECT_EQ(record.Status(1), "Done.");
    EXPECT_EQ(record.window.captions[Control::StatusBar1], "Process finished with errors");
    EXPECT_TRUE(record.machine.power.calls.empty()) << "no shutdown after a lost record";
}

TEST_F(Imaging, StopTakesEffectAfterThePass) {
    Start({kBlock * 4, kBlock});
    window.checked[Control::Check1] = true;
    window.enabled[Control::Check2] = true;  // as the window shows it before a run
    window.checked[Control::Check2] = true;
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
    EXPECT_EQ(window.messages.back().prompt, "Stop the imaging process, are you sure");
    EXPECT_EQ(window.messages.back().style, 0x1024u);
    EXPECT_EQ(Calls("SetProgressValue "), (std::vector<std::string>{"1", "2"}));
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
    EXPECT_EQ(machine.awake.calls, (std::vector<std::string>{"hold", "release"}));
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
    EXPECT_TRUE(ImageIsDrive(1, 0));
    EXPECT_TRUE(ImageIsDrive(2, 1));
    // The slow drive's read under way, the passes queued, and the one the fast drive is at.
    EXPECT_LE(widest, static_cast<long>(imaging::kPassLead) + 2);
}

TEST_F(Imaging, TheWindowAnswersWhileADriveOrAnImageIsSlowAndCanStopTheRun) {
    Start({kBlock * 4, kBlock * 4});
    frm->PumpWhileWaiting = std::chrono::milliseconds(20);
    // The first drive's first read, and the first image's flush, do not return until the
    // window has been pumped meanwhile.
    std::promise<void> pumpedReading, pumpedClosing;
    std::future<void> heardReading = pumpedReading.get_future();
    std::future<void> heardClosing = pumpedClosing.get_future();
    std::atomic<bool> reading{false}, closing{false};
    machine.storage.drives[0].onRead = [&] {
        if (!reading.exchange(true)) {
            EXPECT_EQ(heardReading.wait_for(std::chrono::seconds(30)), std::future_status::ready)
                << "the window was not pumped while the drive was busy";
        }
    };
    machine.storage.onFinish = [&](const std::string& path) {
        if (path.ends_with(".bin") && !closing.exchange(true)) {
            EXPECT_EQ(heardClosing.wait_for(std::chrono::seconds(30)), std::future_status::ready)
                << "the window was not pumped while the image was flushed";
        }
    };
    bool stopped = false, heardWhileClosing = false;
    window.onPump = [&] {
        if (reading && !stopped) {
            stopped = true;
            window.answers = {Answer::Yes};
            frm->XPButton1_Click();
            pumpedReading.set_value();
        }
        if (closing && !heardWhileClosing) {
            heardWhileClosing = true;
            pumpedClosing.set_value();
        }
    };
    frm->Command2_Click();
    // Stopped within the first pass, which still ends whole.
    EXPECT_EQ(Calls("SetProgressValue "), std::vector<std::string>{"1"});
    for (int row = 1; row <= 2; ++row) {
        ExpectStoppedImage(row, kBlock);
    }
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
    EXPECT_EQ(window.messages.back().title, "Warning!");
    EXPECT_EQ(window.messages.back().style, 0x34u);
    EXPECT_EQ(window.closeDisabled, 0);
    machine.storage.freeBytes = kBlock * 2 + 512 * 137;

    // Each refusal names its reason before anything is opened or created.
    struct Case {
        const char* what;
        std::string image2;                 // row 2's image path
        std::function<void(Rig&)> arrange;  // undone by the next case's fresh machine
        std::string prompt;                 // a part of the refusal
        std::uint64_t listedLength2 = 0;    // drive 2's exact length as listed, if not its size
    };
    const std::string same = "Two drives would be imaged into the same file ";
    const std::vector<Case> cases = {
        {"one path twice", Image(1), {}, same + Image(1) + "."},
        {"another case and a doubled separator",
         "d:\\images\\\\001.BIN",
         {},
         same + "d:\\images\\\\001.BIN."},
        {"a link to the other image", "D:\\Images\\link.bin",
         [](Rig& rig) { rig.machine.storage.sameFileAs["D:\\Images\\link.bin"] = rig.Image(1); },
         same + "D:\\Images\\link.bin."},
        {"an image over the other's record", Image(1) + ".txt", {}, same + Image(1) + ".txt."},
        {"a drive-relative path", "D:002.bin", {}, "\"D:002.bin\" is not a full path"},
        {"a drive too large for FAT, though its rounded size is not", Image(2),
         [](Rig& rig) {
             rig.window.grid2->SetCellValue(2, 5, "4294967040");
             rig.machine.storage.fileSizeLimit = platform::FileSizeLimit{4294967295, "FAT32"};
         },
         "the drive holds 4294967296 bytes, and its target's file system (FAT32) holds no file "
         "over 4294967295 bytes.",
         4294967296},
        {"a device", "D:\\Images\\dev",
         [](Rig& rig) { rig.machine.storage.notRegular = {"D:\\Images\\dev"}; },
         "not a regular file"},
        {"a file whose identity cannot be read", Image(2),
         [](Rig& rig) { rig.machine.storage.keyFails = {rig.Image(2) + ".txt"}; },
         "The image path " + Image(2) + ".txt cannot be checked: Access is denied."},
        {"the file behind a drive", Image(2),
         [](Rig& rig) { rig.machine.catalog.backedDrives[rig.Image(2)] = {"VHD (2)"}; },
         "The file " + Image(2) + " holds the contents of the drive VHD (2)"},
        {"a target whose disks are unknown", Image(2),
         [](Rig& rig) {
             rig.machine.catalog.disksHolding =
                 platform::DisksUnder{platform::DisksUnder::Kind::Unknown, {}, "no extents"};
         },
         "could not be worked out: no extents"},
        {"a target on a selected drive", Image(2),
         [](Rig& rig) {
             rig.machine.catalog.disksHolding =
                 platform::DisksUnder{platform::DisksUnder::Kind::Disks, {1}, {}};
         },
         "The target is one of the source drives, this will cause problems."},
    };
    for (const Case& c : cases) {
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
        ASSERT_FALSE(rig.window.messages.empty()) << c.what;
        EXPECT_NE(rig.window.messages.back().prompt.find(c.prompt), std::string::npos)
            << c.what << ": " << rig.window.messages.back().prompt;
        EXPECT_EQ(rig.window.messages.back().style, 0x30u) << c.what;
        EXPECT_TRUE(rig.machine.storage.opened.empty()) << c.what;
        EXPECT_EQ(rig.window.closeDisabled, 0) << c.what;
        EXPECT_FALSE(rig.machine.awake.held) << c.what;
    }

    // Every overwrite question comes first, a record's right after its image's; a No opens
    // and truncates nothing.
    machine.storage.files[Image(1) + ".txt"].data.assign(10, std::byte{1});
    machine.storage.files[Image(2)].data.assign(10, std::byte{1});
    window.answers = {Answer::Yes, Answer::No};
    frm->Command2_Click();
    ASSERT_GE(window.messages.size(), 2u);
    EXPECT_NE(window.messages.end()[-2].prompt.find(Image(1) + ".txt already exists"),
              std::string::npos);
    EXPECT_NE(window.messages.back().prompt.find(Image(2) + " already exists"), std::string::npos);
    EXPECT_EQ(window.messages.back().title, "File exists");
    EXPECT_EQ(window.messages.back().style, 0x1024u);
    EXPECT_EQ(Calls("SetProgressMax "), std::vector<std::string>{"3"});  // 2 when listed
    EXPECT_TRUE(machine.storage.opened.empty());
    EXPECT_EQ(machine.storage.files[Image(2)].data.size(), 10u);
    EXPECT_EQ(Status(1), "");
    EXPECT_EQ(window.closeDisabled, 0);
    EXPECT_FALSE(window.enabled[Control::XPButton1]);
    EXPECT_FALSE(machine.awake.held);
}

TEST_F(Imaging, ADriveThatIsNotTheOneListedCostsNoImage) {
    Start({kBlock, kBlock, kBlock});
    machine.storage.drives[1].identity = "another medium";  // same number, same size
    frm->Command2_Click();
    // Every drive is opened and checked before the first image is created.
    ASSERT_GE(machine.storage.opened.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(machine.storage.opened.begin(),
                                       machine.storage.opened.begin() + 5),
              (std::vector<std::string>{"drive 0", "drive 1", "drive 2", "image " + Image(1),
                                        "image " + Image(3)}));
    EXPECT_EQ(Status(1), "Done.");
    EXPECT_EQ(Status(2), "Open Error ...");
    EXPECT_EQ(Status(3), "Done.");
    EXPECT_FALSE(machine.storage.files.contains(Image(2)));
    EXPECT_NE(Record(2).find("the disk at drive number 1 has changed since it was listed"),
              std::string::npos);
}

TEST_F(Imaging, NoTargetOrNoJobsRefusesOutsideRunMode) {
    Start({});
    window.folderPicks.push_back(std::nullopt);
    frm->Command1_Click();
    frm->Command2_Click();  // the folder dialog is cancelled again
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].prompt, "No target folder selected.");
    EXPECT_EQ(window.messages[0].style, 0x1030u);
    window.folderPicks.push_back("D:\\Images");
    frm->Command2_Click();
    EXPECT_EQ(window.messages.back().prompt, "Please select drives to image.");
    EXPECT_EQ(window.messages.back().title, "No drives selected.");
    EXPECT_EQ(window.IndexOf("DisableClose 1"), -1);
}

TEST_F(Imaging, UnreadableSectorsAreZeroedInPlaceAndListedWhileEverythingElseIsKept) {
    const std::uint64_t odd = kBlock * 3 + 512 * 5;
    const char* one = "Done: 1 unreadable sector";
    const struct {
        const char* name;
        std::uint64_t size;
        std::uint32_t sectorSize;
        std::set<std::uint64_t> bad;  // sectors that never read, and are zeros in the image
        const char* status;
        std::string listed;                                   // the record's list of them
        std::optional<std::uint64_t> clearingFailureAt = {};  // fails once, then reads
    } cases[] = {
        {"first sector", odd, 512, {0}, one, "  sectors 0-0 (bytes 0-511)\n"},
        {"middle", odd, 512, {300}, one, "  sectors 300-300 (bytes 153600-154111)\n"},
        {"tail sector", odd, 512, {772}, one, "  sectors 772-772 (bytes 395264-395775)\n"},
        {"block boundary",
         kBlock * 3,
         512,
         {254, 255, 256, 257},
         "Done: 4 unreadable sectors",
         "  sectors 254-257 (bytes 130048-132095)\n"},
        {"4096-byte sectors",
         kBlock * 2 + 4096 * 3,
         4096,
         {5, 66},
         "Done: 2 unreadable sectors",
         "  sectors 5-5 (bytes 20480-24575)\n  sectors 66-66 (bytes 270336-274431)\n"},
        {"error that clears", kBlock * 2 + 512, 512, {}, "Done.", "", kBlock + 700},
    };
    for (const auto& c : cases) {
        for (const bool parallel : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (parallel ? " parallel" : " serial"));
            Rig rig;
            rig.Start({c.size, kBlock * 3 + 512}, parallel);
            fakes::FakeDrive& faulty = rig.machine.storage.drives[0];
            faulty.sectorSize = c.sectorSize;
            faulty.badSectors = c.bad;
            faulty.failReadAt = c.clearingFailureAt;
            faulty.failuresBeforeClearing = 1;
            rig.frm->Command2_Click();
            EXPECT_EQ(rig.Status(1), c.status);
            EXPECT_TRUE(rig.ImageIsDrive(2, 1));
            std::vector<std::byte> expected = faulty.data;
            for (const std::uint64_t sector : c.bad) {
                std::fill_n(expected.begin() + static_cast<std::ptrdiff_t>(sector * c.sectorSize),
                            c.sectorSize, std::byte{0});
            }
            EXPECT_EQ(rig.machine.storage.files[rig.Image(1)].data, expected);
            const std::string record = rig.Record(1);
            platform::Sha256 hash;
            hash.Update(expected.data(), expected.size());
            EXPECT_EQ(RecordField(record, "SHA-256"), platform::Sha256::Hex(hash.Finish()));
            EXPECT_EQ(RecordField(record, "Result"), c.status);
            EXPECT_EQ(RecordField(record, "Drive length"), std::to_string(c.size) + " bytes");
            EXPECT_NE(record.find(c.listed.empty() ? "Unreadable sectors: none\n"
                                                   : "(zeros in the image):\n" + c.listed),
                      std::string::npos)
                << record;
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
    EXPECT_NE(Record(1).find("\n  sectors 0-1791 (bytes 0-917503)\n"), std::string::npos)
        << Record(1);
    EXPECT_EQ(Record(1).find("2047"), std::string::npos);
}

TEST_F(Imaging, AVerifiedRunReadsEveryDriveAndImageAgainThenCompletes) {
    Start({kBlock * 3, kBlock + 512 * 3});
    window.checked[Control::Check1] = true;
    window.checked[Control::Check2] = true;
    frm->Command2_Click();
    for (int row = 1; row <= 2; ++row) {
        EXPECT_TRUE(ImageIsDrive(row, static_cast<std::uint32_t>(row - 1))) << row;
        EXPECT_EQ(log.rows[row].back(), "Verified.");
        EXPECT_EQ(*(log.rows[row].end() - 2), "Verifying...");
        const std::string record = Record(row);
        EXPECT_EQ(RecordField(record, "Verification"), "done");
        EXPECT_EQ(RecordField(record, "Verification result"), "Verified.");
        EXPECT_EQ(RecordField(record, "SHA-256 of the drive read again"),
                  RecordField(record, "SHA-256"));
        EXPECT_EQ(RecordField(record, "SHA-256 of the image read back"),
                  RecordField(record, "SHA-256"));
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
              (std::vector<std::string>{"Creating images", "Finishing....", "Closing files..",
                                        "Verifying images", "Process Complete"}));
    // The display starts again for the verification, up to the longest drive.
    EXPECT_EQ(Calls("SetProgressMax "), (std::vector<std::string>{"4", "3"}));
    EXPECT_EQ(Calls("SetCaption Label5 ").back(), "393,216");
    EXPECT_LT(window.IndexOf("SetEnabled Check2 0"),
              window.IndexOf("SetCaption StatusBar1 Verifying images"));
    EXPECT_TRUE(window.enabled[Control::Check2]);
    EXPECT_EQ(machine.power.calls, std::vector<std::string>{"shutdown"});
}

// Timer1 shows the time since the phase began, the time left at that pace, and the speed of
// every drive at work: each row while copying, the drives being verified while verifying.
TEST_F(Imaging, TimerShowsElapsedRemainingAndSpeedOfEachPhase) {
    Start({kBlock * 32, kBlock * 32, kBlock * 32});
    machine.storage.drives[1].openFails = true;
    window.checked[Control::Check2] = true;
    std::vector<std::string> shown;
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
    EXPECT_EQ(shown, (std::vector<std::string>{"0:00:01 0:00:03 180", "0:00:01 0:00:00 480"}));
}

TEST_F(Imaging, VerificationCatchesWhatChangedAndSkipsOnlyUnreadableSectors) {
    const std::string error = "Verify Error ...", one = "Verified: 1 unreadable sector",
                      three = "Verified: 3 unreadable sectors",
                      eight = "Verified: 8 unreadable sectors",
                      notRead = "the drive could not be read again: No such device",
                      notOpened = "the drive could not be opened again: No such device",
                      another = "the drive opened again is not the drive imaged",
                      drive = "the drive read again differs from the image as written; ",
                      image = "the image read back differs from the image as written; ",
                      aByte = "the drive read again and the image read back differ in 1 byte",
                      twice = " bytes, not 262144";
    // What is found when the drive and its image are opened again.
    enum class R { Same, Gone, NotOpened, Another, Shorter, ImageShorter };
    const struct {
        const char* name;
        std::set<std::uint64_t> badWhenCopied, badWhenReadAgain;
        std::optional<std::uint64_t> changedOnDrive, flippedOnTarget;
        R reopened;
        std::string status, reasons;
        std::uint32_t unitWhenReadAgain = 512;  // a bridge may come back with larger sectors
    } cases[] = {
        {"drive changed", {}, {}, kBlock + 7, {}, R::Same, error, drive + aByte},
        {"target corrupts", {}, {}, {}, 300, R::Same, error, image + aByte},
        {"unreadable when copied only", {5}, {}, {}, {}, R::Same, one, ""},
        {"unreadable when read again only", {}, {300}, {}, {}, R::Same, one, ""},
        {"unreadable in both", {5, 6}, {6, 300}, {}, {}, R::Same, three, ""},
        {"unreadable in larger units", {}, {1}, {}, {}, R::Same, eight, "", 4096},
        {"a change beside an unreadable sector", {}, {5}, 6 * 512 + 1, {}, R::Same, error, aByte},
        {"drive gone", {}, {}, {}, {}, R::Gone, error, notRead},
        {"not opened", {}, {}, {}, {}, R::NotOpened, error, notOpened},
        {"other medium", {}, {}, {}, {}, R::Another, error, another},
        {"shorter", {}, {}, {}, {}, R::Shorter, error, "the drive now holds 131072" + twice},
        {"image shorter", {}, {}, {}, {}, R::ImageShorter, error, "the image holds 131072" + twice},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.Start({kBlock * 2, kBlock});
        rig.window.checked[Control::Check1] = true;
        rig.window.checked[Control::Check2] = true;
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
    Start({kBlock * 64, kBlock});
    window.checked[Control::Check2] = true;
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

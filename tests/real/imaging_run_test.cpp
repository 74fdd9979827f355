// Whole imaging runs through the real core and the real Linux services, with a recording
// window in place of the screen: only what real devices and file systems show (the copy's
// rules are proven through the fakes in tests/core). Needs root, losetup, mkfs.ext4 and mount.
#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "fake_window.h"
#include "jobs/job_context.h"
#include "loop_lab.h"
#include "platform/linux/linux_power.h"
#include "platform/linux/linux_storage.h"
#include "platform/linux/linux_system_paths.h"
#include "platform/linux/locale_number_marks.h"
#include "platform/linux/logind_keep_awake.h"
#include "platform/linux/monotonic_clock.h"
#include "platform/linux/posix_files.h"
#include "platform/linux/sysfs_disk_catalog.h"
#include "platform/sha256.h"
#include "record_field.h"
#include "ui/frm_main.h"

namespace velmaris::platform {
namespace {

namespace fs = std::filesystem;
using fakes::RecordField;
using test::LoopLab;
using test::Quoted;
using ImagingRun = test::LoopTest;

constexpr std::uintmax_t kBlock = 131072;
constexpr auto Slurp = test::ScratchDir::Read;

// A file of bytes of its own, so that a block at a wrong offset or from another file shows.
fs::path RandomFile(LoopLab& lab, const std::string& file, std::uintmax_t bytes) {
    return lab.tmp.Put(file, test::Pattern(bytes, std::random_device{}()));
}

std::string RandomLoop(LoopLab& lab, const std::string& file, std::uintmax_t bytes,
                       const std::string& options = "") {
    return lab.AttachFile(RandomFile(lab, file, bytes), options);
}

std::string Sha256Of(const std::string& bytes) {
    platform::Sha256 hash;
    hash.Update(reinterpret_cast<const std::byte*>(bytes.data()), bytes.size());
    return platform::Sha256::Hex(hash.Finish());
}

// The program as it runs on this machine, with a shutdown that does nothing and the real sleep
// lock (which holds nothing where there is no logind).
struct Program {
    SysfsDiskCatalog catalog;
    LinuxSystemPaths paths;
    LocaleNumberMarks numbers;
    PosixFiles files;
    LinuxStorage storage{catalog};
    MonotonicClock clock;
    LinuxPower power{"/bin/true"};
    LogindKeepAwake awake;
    Services services{catalog, paths, numbers, files, storage, clock, power, awake};
    fakes::FakeWindow window;
    ui::frmMain frm{window, services};

    // Starts the window, picks the target folder and selects the loop devices in this order.
    void Select(const std::string& folder, const std::vector<std::string>& loops) {
        frm.Form_Load();
        window.folderPicks.push_back(folder);
        frm.Command1_Click();
        for (const std::string& name : loops) {
            int row = window.grid1->RowCount();  // "loop3" is listed as "(LOOP3)"
            while (row > 0 && window.grid1->CellText(row, 2).find("(LOOP" + name.substr(4) + ")") ==
                                  std::string::npos) {
                --row;
            }
            ASSERT_GT(row, 0) << name << " is not among the source drives";
            window.grid1->SetCurRow(row);
            frm.iGrid1_DblClick(row, 1);
        }
        ASSERT_EQ(window.grid2->RowCount(), static_cast<int>(loops.size()));
    }

    std::string Status(int row) const { return window.grid2->CellText(row, jobs::kColStatus); }
};

TEST_F(ImagingRun, ShrunkAndVanishedDrivesKeepTheirPrefixAndSayWhy) {
    // The first drive is longer than a pipeline runs ahead, so that the change meets its reads;
    // it shrinks, or vanishes (to 0 bytes).
    const std::array<std::uintmax_t, 2> sizes = {kBlock * 48 + 512 * 7, kBlock * 3 + 512 * 5};
    for (const std::uintmax_t shrinkTo : {kBlock * 2 + 512 * 3, std::uintmax_t{0}}) {
        for (const bool parallel : {true, false}) {
            const std::string run = std::to_string(shrinkTo) + (parallel ? "-parallel" : "-serial");
            SCOPED_TRACE(run);
            std::vector<std::string> names, contents;
            std::vector<fs::path> files;
            for (std::size_t k = 0; k < sizes.size(); ++k) {
                files.push_back(RandomFile(lab, run + std::to_string(k) + ".img",
                                           k == 0 ? shrinkTo : sizes[k]));
                // Zeros past the shrink: until losetup -c, the device reads zeros past the
                // truncated file, and a worker's read ahead may fall in that moment.
                fs::resize_file(files[k], sizes[k]);
                contents.push_back(Slurp(files[k]));
                names.push_back(lab.AttachFile(files[k]));
                ASSERT_FALSE(names[k].empty()) << "losetup failed on " << files[k];
            }
            const fs::path folder = lab.tmp.Path() / run;
            Program program;
            program.frm.ParallelCopy = parallel;
            // Pumps between passes only: a read cut by the shrink may fail as an I/O error.
            program.frm.PumpWhileWaiting = std::chrono::hours(1);
            program.Select(folder.string(), names);
            if (HasFatalFailure()) {
                return;
            }
            // One pump a pass: the second comes long before the first drive's end.
            int pumps = 0;
            program.window.onPump = [&] {
                if (++pumps == 2) {
                    fs::resize_file(files[0], shrinkTo);
                    EXPECT_TRUE(lab.tmp.Run("losetup -c /dev/" + names[0]));
                }
            };
            program.frm.Command2_Click();

            for (std::size_t k = 0; k < sizes.size(); ++k) {
                const int row = static_cast<int>(k) + 1;
                const fs::path image = folder / ("00" + std::to_string(row) + ".bin");
                const std::string copied = Slurp(image);
                const std::string record = Slurp(image.string() + ".txt");
                const std::string status = k == 0 ? "Read Error ..." : "Done.";
                // Never padded: what the drive held, to its end only when done, and a record
                // that says so, with no sector taken for unreadable.
                EXPECT_EQ(program.Status(row), status) << names[k];
                EXPECT_EQ(copied.size() == sizes[k], k == 1) << copied.size();
                EXPECT_TRUE(contents[k].compare(0, copied.size(), copied) == 0) << image;
                EXPECT_EQ(RecordField(record, "Result").substr(0, status.size()), status);
                EXPECT_EQ(RecordField(record, "Bytes copied"), std::to_string(copied.size()));
                EXPECT_EQ(RecordField(record, "Unreadable sectors"), "none") << record;
                EXPECT_EQ(RecordField(record, "SHA-256"), Sha256Of(copied));
            }
        }
    }
}

// One digest of the names and contents of every file in the lab, mounts included (what they
// hold in memory goes to their files first), or "" when it could not be taken.
std::string Digest(LoopLab& lab) {
    return lab.tmp
        .Run("sync && find " + Quoted(lab.tmp.Path()) +
             " -type f ! -name .output -exec sha256sum {} + | sort | sha256sum")
        .value_or("");
}

// What a case sets up: the folder and drives the operator picks and the image paths edited
// afterwards (row -> path), both under the lab's folder, the refusal expected, and what changes
// between start-up and Run.
struct Scene {
    std::string folder;
    std::vector<std::string> loops;
    std::map<int, std::string> images;
    std::string refusal;
    std::function<void()> afterListing = {};
};

TEST_F(ImagingRun, NeverWritesOverASourceNorTwiceIntoOneFileHoweverPathsAreSpelled) {
    Need("fusefat mkfs.vfat mkfs.btrfs");
    if (IsSkipped()) {
        return;
    }
    const fs::path t = lab.tmp.Path();
    auto same = [&](const std::string& relative) {
        return "Two drives would be imaged into the same file " + (t / relative).string() + ".";
    };
    const std::string backs = "holds the contents of the drive Loop device (";
    const std::string onSource =
        "The target is one of the source drives, this will cause problems.";
    int made = 0;
    auto sources = [&](int count) {  // fresh drives to select
        std::vector<std::string> names;
        while (count-- > 0) {
            names.push_back(RandomLoop(lab, "src" + std::to_string(made++) + ".img", kBlock));
        }
        return names;
    };
    // An overlay on the folder named, its layers on ext4 on a new drive, which it returns; the
    // layers named in full, or relative to where mount ran.
    auto overlay = [&](const std::string& name, bool full) {
        const std::string drive = lab.Attach(name + ".img", kBlock * 64);
        const std::string up = lab.MountExt4(drive, name + "-up");
        const std::string at = full ? up + "/" : "";
        lab.Mount("cd " + up + " && mkdir l u w && mount -t overlay -o noatime,lowerdir=" + at +
                      "l,upperdir=" + at + "u,workdir=" + at + "w overlay",
                  name);
        return drive;
    };
    const std::vector<std::function<Scene()>> cases = {
        [&] {  // the default image path is the drive's own file
            fs::create_directories(t / "a");
            const std::string loop = RandomLoop(lab, "a/001.bin", kBlock * 4, "-r");
            return Scene{"a", {loop}, {}, backs + loop + ")"};
        },
        [&] {  // a hard link to the file of a drive that is not selected
            const std::string loop = RandomLoop(lab, "b.img", kBlock * 2);
            fs::create_hard_link(t / "b.img", t / "b-link.bin");
            return Scene{"", sources(1), {{1, "b-link.bin"}}, backs + loop + ")"};
        },
        [&] {  // a bind-mounted folder
            fs::create_directories(t / "real");
            lab.Mount("mount --bind " + Quoted(t / "real"), "bound");
            return Scene{"real", sources(2), {{2, "bound/001.bin"}}, same("bound/001.bin")};
        },
        [&] {  // two names differing in case on FAT
            lab.MountFat("fat");
            return Scene{"fat",
                         sources(2),
                         {{1, "fat/Disk.bin"}, {2, "fat/DISK.BIN"}},
                         same("fat/DISK.BIN")};
        },
        [&] {  // a file system mounted on a selected drive after start-up
            const std::string drive = lab.Attach("g.img", kBlock * 64);
            lab.tmp.Run(std::string(test::kQuietExt4) + " /dev/" + drive);
            return Scene{"", {drive}, {{1, "g-mnt/001.bin"}}, onSource, [this, drive] {
                             lab.Mount("mount -o noatime /dev/" + drive, "g-mnt");
                         }};
        },
        [&] {  // a loop device over a file on a selected drive
            const std::string outer = lab.Attach("h.img", kBlock * 256);
            const fs::path inner = fs::path(lab.MountExt4(outer, "h-outer")) / "inner.img";
            lab.tmp.Run("truncate -s 8M " + Quoted(inner));
            lab.MountExt4(lab.AttachFile(inner), "h-inner");
            return Scene{"h-inner", {outer}, {}, onSource};
        },
        [&] {  // an overlay whose writes land on a selected drive
            return Scene{"o", {overlay("o", true)}, {}, onSource};
        },
        [&] {  // the same, with folders no one can find
            return Scene{"r", {overlay("r", false)}, {}, "upper folder u is not a full path"};
        },
        [&] {  // btrfs over two drives, mounted through the one not selected
            const std::string a = lab.Attach("i1.img", kBlock * 128);
            const std::string b = lab.Attach("i2.img", kBlock * 128);
            lab.tmp.Run("mkfs.btrfs -q -f -K --mixed /dev/" + a + " /dev/" + b);
            lab.Mount("mount -o noatime,nodiscard /dev/" + a, "i");
            return Scene{"i", {b}, {}, onSource};
        },
    };
    for (std::size_t k = 0; k < cases.size(); ++k) {
        SCOPED_TRACE("case " + std::to_string(k + 1));
        const Scene scene = cases[k]();
        Program program;
        program.Select((scene.folder.empty() ? t : t / scene.folder).string(), scene.loops);
        if (HasFatalFailure()) {
            return;
        }
        for (const auto& [row, path] : scene.images) {
            program.window.grid2->SetCellValue(row, jobs::kColFileName, (t / path).string());
        }
        if (scene.afterListing) {
            scene.afterListing();
        }
        const std::string before = Digest(lab);
        ASSERT_FALSE(before.empty());
        // Yes to every question: only the checks may keep the run from writing.
        program.window.answers.assign(8, Answer::Yes);
        program.frm.Command2_Click();

        ASSERT_FALSE(program.window.messages.empty());
        EXPECT_NE(program.window.messages.back().prompt.find(scene.refusal), std::string::npos)
            << program.window.messages.back().prompt;
        EXPECT_EQ(Digest(lab), before) << "a file was written";
        EXPECT_EQ(program.Status(1), "");
    }
}

// That the other drives are copied all the same is proven through the fakes in tests/core.
TEST_F(ImagingRun, ADriveSwappedAtItsNumberEndsInAnOpenErrorWithoutAnImage) {
    const std::string swapped = RandomLoop(lab, "first.img", kBlock * 2);
    Program program;
    const fs::path folder = lab.tmp.Path() / "out";
    program.Select(folder.string(), {swapped});
    if (HasFatalFailure()) {
        return;
    }
    // Another medium of the same size at the same number, as a swapped disk would be.
    const fs::path other = RandomFile(lab, "second.img", kBlock * 2);
    ASSERT_TRUE(lab.tmp.Run("losetup -d /dev/" + swapped + " && losetup /dev/" + swapped + " " +
                            Quoted(other)));
    program.frm.Command2_Click();
    EXPECT_EQ(program.Status(1), "Open Error ...");
    EXPECT_FALSE(fs::exists(folder / "001.bin"));
}

}  // namespace
}  // namespace velmaris::platform

// Whole imaging runs through the real core and the real Linux services, with a recording
// window in place of the screen. Needs root, losetup, mkfs.ext4, mount and cmp.
#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake_window.h"
#include "jobs/job_context.h"
#include "loop_lab.h"
#include "platform/linux/linux_power.h"
#include "platform/linux/linux_storage.h"
#include "platform/linux/linux_system_paths.h"
#include "platform/linux/locale_number_marks.h"
#include "platform/linux/monotonic_clock.h"
#include "platform/linux/posix_files.h"
#include "platform/linux/sysfs_disk_catalog.h"
#include "record_field.h"
#include "ui/frm_main.h"

namespace velmaris::platform {
namespace {

namespace fs = std::filesystem;
using test::LoopLab;
using test::Quoted;

constexpr std::uintmax_t kBlock = 131072;
constexpr char kTools[] = "losetup mkfs.ext4 mount umount cmp";

std::string Slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A file of random bytes, so that a block at a wrong offset shows.
fs::path RandomFile(LoopLab& lab, const std::string& file, std::uintmax_t bytes) {
    std::mt19937_64 random(std::random_device{}());
    std::string data(static_cast<std::size_t>(bytes), '\0');
    for (std::size_t i = 0; i < data.size(); i += 8) {
        const std::uint64_t word = random();
        std::memcpy(data.data() + i, &word, std::min<std::size_t>(8, data.size() - i));
    }
    return lab.tmp.Put(file, data);
}

std::string RandomLoop(LoopLab& lab, const std::string& file, std::uintmax_t bytes,
                       const std::string& options = "") {
    return lab.AttachFile(RandomFile(lab, file, bytes), options);
}

using fakes::RecordField;

// The record beside an image: the status as its result, the image's size as the bytes copied,
// no unreadable sector, and the hash sha256sum finds in the image.
void ExpectRecord(LoopLab& lab, const fs::path& image, const std::string& status) {
    const std::string record = Slurp(image.string() + ".txt");
    const std::string result = RecordField(record, "Result");
    EXPECT_TRUE(result == status || result.rfind(status + " (", 0) == 0) << record;
    EXPECT_EQ(RecordField(record, "Bytes copied"), std::to_string(fs::file_size(image))) << record;
    EXPECT_EQ(RecordField(record, "Unreadable sectors"), "none") << record;
    EXPECT_TRUE(lab.tmp.Run("h=$(sha256sum < " + Quoted(image) +
                            " | cut -c1-64); [ ${#h} -eq 64 ] && grep -qx \"SHA-256: $h\" " +
                            Quoted(image.string() + ".txt")))
        << record;
}

// The program as it runs on this machine, with a shutdown that does nothing.
struct Program {
    SysfsDiskCatalog catalog;
    LinuxSystemPaths paths;
    LocaleNumberMarks numbers;
    PosixFiles files;
    LinuxStorage storage{catalog};
    MonotonicClock clock;
    LinuxPower power{"/bin/true"};
    Services services{catalog, paths, numbers, files, storage, clock, power};
    fakes::FakeWindow window;
    ui::frmMain frm{window, services};

    // Starts the window, picks the target folder and selects the loop devices in this order.
    void Select(const std::string& folder, const std::vector<std::string>& loops) {
        frm.Form_Load();
        window.folderPicks.push_back(folder);
        frm.Command1_Click();
        for (const std::string& name : loops) {
            const int row = SourceRow(name);
            ASSERT_GT(row, 0) << name << " is not among the source drives";
            window.grid1->SetCurRow(row);
            frm.iGrid1_DblClick(row, 1);
        }
        ASSERT_EQ(window.grid2->RowCount(), static_cast<int>(loops.size()));
    }

    int SourceRow(std::string name) const {
        for (char& c : name) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        for (int row = 1; row <= window.grid1->RowCount(); ++row) {
            if (window.grid1->CellText(row, 2).find("(" + name + ")") != std::string::npos) {
                return row;
            }
        }
        return 0;
    }

    std::string Status(int row) const { return window.grid2->CellText(row, jobs::kColStatus); }
    std::vector<std::string> Titles() const {
        std::vector<std::string> titles;
        for (const auto& shown : window.messages) {
            titles.push_back(shown.title);
        }
        return titles;
    }
};

TEST(ImagingRun, CopiesOddSizedAndBigSectorDrivesExactlyInBothModes) {
    LoopLab lab;
    if (const auto why = lab.Missing(kTools); !why.empty()) {
        GTEST_SKIP() << why;
    }
    struct Source {
        fs::path file;
        std::uintmax_t bytes;
        std::string options;  // of losetup
        std::string name;     // kernel name, once attached
        std::string content;  // before any run
    };
    std::vector<Source> sources = {
        {"a.img", kBlock * 9 + 512 * 7, "", "", ""},
        {"b.img", kBlock * 4 + 512 * 255, "", "", ""},
        {"c.img", kBlock * 6 + 4096 * 3, "--sector-size 4096", "", ""},
        {"d.img", kBlock * 2 + 512 * 3, "-r", "", ""},
    };
    std::vector<std::string> names;
    for (Source& source : sources) {
        source.name = RandomLoop(lab, source.file, source.bytes, source.options);
        ASSERT_FALSE(source.name.empty()) << "losetup failed on " << source.file;
        source.file = lab.tmp.Path() / source.file;
        source.content = Slurp(source.file);
        names.push_back(source.name);
    }

    for (const bool parallel : {true, false}) {
        SCOPED_TRACE(parallel ? "parallel" : "serial");
        const fs::path folder = lab.tmp.Path() / (parallel ? "parallel" : "serial");
        Program program;
        program.frm.ParallelCopy = parallel;
        program.Select(folder.string(), names);  // the folder does not exist yet
        if (HasFatalFailure()) {
            return;
        }
        program.frm.Command2_Click();

        EXPECT_EQ(program.window.captions[Control::StatusBar1], "Process Complete");
        EXPECT_EQ(program.Titles(), std::vector<std::string>{}) << "no question, no error";
        EXPECT_FALSE(program.frm.RunInProgress);
        for (std::size_t k = 0; k < sources.size(); ++k) {
            const int row = static_cast<int>(k) + 1;
            const fs::path image = folder / ("00" + std::to_string(row) + ".bin");
            EXPECT_EQ(program.Status(row), "Done.") << sources[k].name;
            ASSERT_TRUE(fs::is_regular_file(image)) << image;
            EXPECT_EQ(fs::file_size(image), sources[k].bytes) << image;
            EXPECT_TRUE(lab.tmp.Run("cmp /dev/" + sources[k].name + " " + Quoted(image)))
                << image << " differs from /dev/" << sources[k].name;
            const auto mode =
                static_cast<unsigned>(fs::status(image).permissions() & fs::perms::all);
            EXPECT_EQ(mode, 0600u) << image << " has mode " << std::oct << mode;
            ExpectRecord(lab, image, "Done.");
        }
    }
    for (const Source& source : sources) {
        EXPECT_TRUE(Slurp(source.file) == source.content) << source.file << " was changed";
    }
}

TEST(ImagingRun, FullTargetFailsOnlyTheDriveThatDoesNotFit) {
    LoopLab lab;
    if (const auto why = lab.Missing(kTools); !why.empty()) {
        GTEST_SKIP() << why;
    }
    // Parallel passes write a block of each drive in turn: the small drive's three blocks
    // and the big drive's first three take 768 KiB of the 1 MiB, so the small one always fits.
    // Whole blocks only, so it writes nothing after the big one has filled the volume.
    const std::string small = RandomLoop(lab, "small.img", kBlock * 3);
    const std::string big = RandomLoop(lab, "big.img", kBlock * 32);
    ASSERT_FALSE(small.empty() || big.empty()) << "losetup failed";
    const std::string target = lab.Mount("tmpfs", "-t tmpfs -o size=1m", "full");
    ASSERT_FALSE(target.empty()) << "could not mount a tmpfs";

    Program program;
    program.Select(target, {big, small});
    if (HasFatalFailure()) {
        return;
    }
    program.window.answers.push_back(Answer::Yes);  // go on despite too little space
    program.frm.Command2_Click();

    EXPECT_EQ(program.Status(1), "Write Error ...");
    EXPECT_EQ(program.Status(2), "Done.");
    EXPECT_TRUE(lab.tmp.Run("cmp /dev/" + small + " " + Quoted(target + "/002.bin")));
    EXPECT_LT(fs::file_size(target + "/001.bin"), kBlock * 32);
    EXPECT_EQ(program.window.captions[Control::StatusBar1], "Process finished with errors");
    // After the question, at most the report that the full target took no record.
    const std::vector<std::string> titles = program.Titles();
    ASSERT_FALSE(titles.empty());
    EXPECT_EQ(titles[0], "Warning!");
    EXPECT_LE(titles.size(), 2u);
    if (titles.size() == 2) {
        EXPECT_EQ(titles[1], "Write Error");
        EXPECT_NE(program.window.messages[1].prompt.find("001.bin.txt"), std::string::npos);
    }
}

TEST(ImagingRun, ShrunkVanishedAndStoppedDrivesKeepTheirPrefixAndSayWhy) {
    LoopLab lab;
    if (const auto why = lab.Missing(kTools); !why.empty()) {
        GTEST_SKIP() << why;
    }
    struct Case {
        std::string name;
        std::optional<std::uintmax_t> shrinkTo;  // of the first drive; none: the user stops
        std::array<std::string, 2> statuses;
    };
    const Case cases[] = {
        {"shrinks", kBlock * 2 + 512 * 3, {"Read Error ...", "Done."}},
        {"vanishes", 0, {"Read Error ...", "Done."}},
        {"stopped", std::nullopt, {"Stopped", "Stopped"}},
    };
    const std::array<std::uintmax_t, 2> sizes = {kBlock * 16 + 512 * 7, kBlock * 3 + 512 * 5};
    for (const Case& c : cases) {
        for (const bool parallel : {true, false}) {
            const std::string run = c.name + (parallel ? "-parallel" : "-serial");
            SCOPED_TRACE(run);
            std::vector<std::string> names, contents;
            std::vector<fs::path> files;
            for (std::size_t k = 0; k < sizes.size(); ++k) {
                files.push_back(RandomFile(lab, run + std::to_string(k) + ".img",
                                           k == 0 ? c.shrinkTo.value_or(sizes[k]) : sizes[k]));
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
                if (++pumps != 2) {
                    return;
                }
                if (c.shrinkTo) {
                    fs::resize_file(files[0], *c.shrinkTo);
                    EXPECT_TRUE(lab.tmp.Run("losetup -c /dev/" + names[0]));
                } else {
                    program.window.answers.push_back(Answer::Yes);
                    program.frm.XPButton1_Click();
                }
            };
            program.frm.Command2_Click();

            for (std::size_t k = 0; k < sizes.size(); ++k) {
                const int row = static_cast<int>(k) + 1;
                const fs::path image = folder / ("00" + std::to_string(row) + ".bin");
                EXPECT_EQ(program.Status(row), c.statuses[k]) << names[k];
                // Never padded: what the drive held, to its end only when done.
                const std::string copied = Slurp(image);
                EXPECT_EQ(copied.size() == sizes[k], c.statuses[k] == "Done.") << copied.size();
                EXPECT_TRUE(contents[k].compare(0, copied.size(), copied) == 0) << image;
                ExpectRecord(lab, image, c.statuses[k]);
            }
        }
    }
}

TEST(ImagingRun, TargetFullInTheTailSectorsFailsThatDrive) {
    LoopLab lab;
    if (const auto why = lab.Missing(kTools); !why.empty()) {
        GTEST_SKIP() << why;
    }
    // Seven blocks and a 64 KiB filler take 240 of the tmpfs's 256 pages: every block fits,
    // and the 16 pages left hold 128 of the 255 tail sectors.
    const std::uintmax_t bytes = kBlock * 7 + 512 * 255;
    const std::string name = RandomLoop(lab, "tail.img", bytes);
    ASSERT_FALSE(name.empty()) << "losetup failed";
    const std::string target = lab.Mount("tmpfs", "-t tmpfs -o size=1m", "full");
    ASSERT_FALSE(target.empty()) << "could not mount a tmpfs";
    std::ofstream(target + "/filler", std::ios::binary) << std::string(64 * 1024, 'f');

    Program program;
    program.Select(target, {name});
    if (HasFatalFailure()) {
        return;
    }
    program.window.answers.push_back(Answer::Yes);  // go on despite too little space
    program.frm.Command2_Click();

    const std::string image = target + "/001.bin";
    EXPECT_EQ(program.Status(1), "Write Error ...");
    const std::string copied = Slurp(image);
    EXPECT_GE(copied.size(), kBlock * 7) << "every block fitted";
    EXPECT_LT(copied.size(), bytes);
    EXPECT_TRUE(Slurp(lab.tmp.Path() / "tail.img").compare(0, copied.size(), copied) == 0);
    EXPECT_EQ(program.window.captions[Control::StatusBar1], "Process finished with errors");
    // The question, the failed sector, and the record that no longer fits.
    ASSERT_EQ(program.Titles(),
              (std::vector<std::string>{"Warning!", "Write Error", "Write Error"}));
    EXPECT_EQ(program.window.messages[1].prompt, "Unable to write to file " + image + ".");
    EXPECT_NE(program.window.messages[2].prompt.find(image + ".txt"), std::string::npos);
}

TEST(ImagingRun, RefusesATargetOnASelectedDrive) {
    LoopLab lab;
    if (const auto why = lab.Missing(kTools); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const std::string name = lab.Attach("fs.img", kBlock * 128);
    ASSERT_FALSE(name.empty()) << "losetup failed";
    const std::string point = lab.MountExt4(name, "mnt");
    ASSERT_FALSE(point.empty()) << "could not make or mount ext4 on /dev/" << name;

    Program program;  // started after the mount: the listing records the drive's volumes
    const fs::path folder = fs::path(point) / "images";
    program.Select(folder.string(), {name});
    if (HasFatalFailure()) {
        return;
    }
    // An image never fits on a filesystem inside its own drive: the space question comes first.
    program.window.answers.push_back(Answer::Yes);
    program.frm.Command2_Click();

    ASSERT_FALSE(program.window.messages.empty());
    EXPECT_EQ(program.window.messages.back().prompt,
              "The target is one of the source drives, this will cause problems.");
    EXPECT_TRUE(fs::is_directory(folder) && fs::is_empty(folder)) << folder;
    EXPECT_NE(program.Status(1), "Done.");
    EXPECT_FALSE(program.frm.RunInProgress);
}

}  // namespace
}  // namespace velmaris::platform

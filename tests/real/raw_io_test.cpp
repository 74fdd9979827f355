// Raw drives, image files, free space, the clock and the shutdown program on the machine. Loop
// devices and mounts need root and skip without it; the rest runs as any user.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "loop_lab.h"
#include "platform/linux/linux_power.h"
#include "platform/linux/linux_storage.h"
#include "platform/linux/monotonic_clock.h"
#include "platform/linux/unique_fd.h"

namespace velmaris::platform {
namespace {

namespace fs = std::filesystem;
using test::Pattern;
using test::Quoted;
using test::ScratchDir;
using LoopDevices = test::LoopTest;
using Mounted = test::LoopTest;

constexpr std::size_t kBlock = 131072;

LinuxStorage StorageOver(std::vector<std::string> nodes = {}) {
    return LinuxStorage([nodes](std::uint32_t n) -> std::optional<std::string> {
        return n < nodes.size() ? std::optional(nodes[n]) : std::nullopt;
    });
}

// Into a buffer aligned as the copy engine aligns its own, as direct reads may need.
std::string Read(RawDrive& drive, std::size_t size, IoResult& result) {
    const std::unique_ptr<std::byte, decltype(&std::free)> buffer(
        static_cast<std::byte*>(std::aligned_alloc(4096, (size + 4095) / 4096 * 4096)), &std::free);
    result = drive.Read(buffer.get(), size);
    return {reinterpret_cast<const char*>(buffer.get()), result.bytes};
}

// The open flags of the one descriptor this process holds on a file or device node.
int FlagsOf(const fs::path& node) {
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (fs::read_symlink(fd.path(), ec) == node) {
            std::ifstream info("/proc/self/fdinfo/" + fd.path().filename().string());
            for (std::string key, value; info >> key >> value;) {
                if (key == "flags:") {
                    return static_cast<int>(std::stol(value, nullptr, 8));
                }
            }
        }
    }
    return -1;
}

using Opener = Opened<RawDrive> (LinuxStorage::*)(std::uint32_t);
constexpr Opener kOpeners[] = {&LinuxStorage::OpenDrive, &LinuxStorage::OpenDriveUncached};

// Blocks until one no longer fits, then sectors until nothing is left: the block that did not
// fit must leave the position where it was, or the sectors after it come from the wrong place.
// Through the page cache and past it, where a device is opened with O_DIRECT.
void ExpectReadsReproduce(LinuxStorage& storage, std::uint32_t n, const fs::path& node,
                          const std::string& bytes, std::uint32_t sectorSize) {
    for (const Opener open : kOpeners) {
        const bool uncached = open == &LinuxStorage::OpenDriveUncached;
        const auto opened = (storage.*open)(n);
        ASSERT_TRUE(opened.handle) << opened.error.message;
        // A source is never open for writing, though root could; a device is read past its cache
        // only when asked to.
        const int flags = FlagsOf(fs::canonical(node));
        EXPECT_EQ(flags & O_ACCMODE, O_RDONLY) << "drive " << n;
        EXPECT_TRUE(!fs::is_block_file(node) || ((flags & O_DIRECT) != 0) == uncached) << n;
        RawDrive& drive = *opened.handle;
        EXPECT_EQ(drive.Length(), bytes.size());
        EXPECT_EQ(drive.SectorSize(), sectorSize);
        std::string got;
        for (const std::size_t size : {kBlock, std::size_t{512}}) {
            IoResult result;
            for (std::string piece; !(piece = Read(drive, size, result)).empty();) {
                EXPECT_EQ(result.bytes, size);
                got += piece;
            }
            EXPECT_EQ(result.error, IoError::None) << "past the end: " << result.message;
        }
        EXPECT_TRUE(got == bytes) << "drive " << n << " read back differs, uncached " << uncached;

        // A read that starts and ends inside sectors, on a 4096-byte-sector device too.
        const auto again = (storage.*open)(n);
        ASSERT_TRUE(again.handle);
        IoResult result;
        Read(*again.handle, 512, result);
        EXPECT_TRUE(Read(*again.handle, 8192, result) == bytes.substr(512, 8192)) << result.message;
    }
}

TEST(RawDrive, ARegularFileKeepsTheReadContractAndOtherNodesAreRefused) {
    ScratchDir tmp;
    const std::string bytes = Pattern(kBlock * 70 + 512 * 3, 1);  // past a cache trim
    const fs::path file = tmp.Put("disk.img", bytes);
    auto storage = StorageOver(
        {file.string(), "/dev/null", (tmp.Path() / "none").string(), tmp.Path().string()});
    ExpectReadsReproduce(storage, 0, file, bytes, 512);
    std::vector<IoError> refusals;  // with a reason for the record
    for (std::uint32_t n = 1; n <= 4; ++n) {
        const auto opened = storage.OpenDrive(n);
        EXPECT_FALSE(opened.handle || opened.error.message.empty()) << n;
        refusals.push_back(opened.error.error);
    }
    EXPECT_EQ(refusals,
              (std::vector{IoError::Other, IoError::NotFound, IoError::Other, IoError::NotFound}));

    // The drive shrinks under the reader, to no whole number of pages: the block that runs into
    // the new end fails whole.
    for (const Opener open : kOpeners) {
        tmp.Put("disk.img", bytes);
        const auto opened = (storage.*open)(0);
        ASSERT_TRUE(opened.handle);
        IoResult result;
        Read(*opened.handle, kBlock, result);
        fs::resize_file(file, kBlock * 2 + 4096 + 512);
        EXPECT_EQ(Read(*opened.handle, kBlock, result).size(), kBlock);
        EXPECT_TRUE(Read(*opened.handle, kBlock, result).empty());
        EXPECT_EQ(result.error, IoError::DeviceGone) << result.message;
        EXPECT_TRUE(Read(*opened.handle, 4096, result) == bytes.substr(kBlock * 2, 4096))
            << "the failed read moved the position";
    }
}

// What a read through the device's page cache keeps there is not what a write to the file behind
// the loop device changes (that goes to the file's own cache): only a read past the device's
// cache sees the new bytes. The kernel empties that cache when the device's last opener closes
// it, so one stays open throughout, as a mounted partition or another program would.
TEST_F(LoopDevices, Of512And4096ByteSectorsKeepTheReadContractPastTheCache) {
    const std::string odd = Pattern(kBlock * 70 + 512 * 3, 2);
    const std::string big = Pattern(kBlock * 3 + 4096 * 5, 3);
    const fs::path bigFile = lab.tmp.Put("big.img", big);
    const std::string oddName = lab.AttachFile(lab.tmp.Put("odd.img", odd));
    const std::string bigName = lab.AttachFile(bigFile, "--sector-size 4096");
    ASSERT_FALSE(oddName.empty() || bigName.empty()) << "losetup could not attach the files";
    auto storage = StorageOver({"/dev/" + oddName, "/dev/" + bigName});
    ExpectReadsReproduce(storage, 0, "/dev/" + oddName, odd, 512);
    ExpectReadsReproduce(storage, 1, "/dev/" + bigName, big, 4096);

    const UniqueFd holder(::open(("/dev/" + bigName).c_str(), O_RDONLY | O_CLOEXEC));
    IoResult result;
    const auto readAll = [&](Opener open) {
        return Read(*(storage.*open)(1).handle, big.size(), result);
    };
    ASSERT_TRUE(readAll(&LinuxStorage::OpenDrive) == big);
    const std::string changed = Pattern(4096, 8);
    const UniqueFd fd(::open(bigFile.c_str(), O_WRONLY | O_CLOEXEC));
    ASSERT_EQ(::pwrite(fd.Get(), changed.data(), changed.size(), kBlock), 4096);
    ASSERT_TRUE(readAll(&LinuxStorage::OpenDrive) == big) << "the cache kept nothing to prove";
    EXPECT_TRUE(readAll(&LinuxStorage::OpenDriveUncached).substr(kBlock, 4096) == changed);
}

TEST(ImageFile, IsWrittenWholeForItsOwnerOnlyAndNeverOverAnythingButAFile) {
    ScratchDir tmp;
    auto storage = StorageOver();
    const std::string bytes = Pattern((std::size_t{20} << 20) + 512, 4);  // past two windows
    const fs::path fresh = tmp.Path() / "fresh.img";
    const fs::path old = tmp.Put("old.img", Pattern(bytes.size() + 4096, 5));
    fs::permissions(old, fs::perms(0644));
    for (const fs::path& path : {fresh, old}) {
        auto image = storage.CreateImage(path.string());
        ASSERT_TRUE(image.handle) << image.error.message;
        EXPECT_EQ(image.handle->AccessNote(), "") << path;
        for (std::size_t at = 0; at < bytes.size(); at += std::size_t{1} << 20) {
            const std::size_t size = std::min(std::size_t{1} << 20, bytes.size() - at);
            const IoResult written =
                image.handle->Write(reinterpret_cast<const std::byte*>(bytes.data() + at), size);
            ASSERT_EQ(written.error, IoError::None) << written.message;
            EXPECT_EQ(written.bytes, size);
        }
        EXPECT_EQ(image.handle->Finish().error, IoError::None);
        EXPECT_NE(image.handle->Finish().error, IoError::None) << "finished twice";
        EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write)
            << path;
        EXPECT_TRUE(ScratchDir::Read(path) == bytes) << path;
    }

    const fs::path target = tmp.Put("target.txt", "keep");
    fs::create_symlink(target, tmp.Path() / "link.img");
    // What KindOf tells from a file is refused as it tells; a link to a file is refused too.
    const fs::path inDev = "/dev" / tmp.Path().filename();  // root could create it
    std::vector<IoError> refusals;
    for (const fs::path& path : {inDev, tmp.Path() / "link.img", tmp.Path() / "no" / "x.img"}) {
        const auto image = storage.CreateImage(path.string());
        EXPECT_FALSE(image.handle) << path;
        refusals.push_back(image.error.error);
    }
    EXPECT_EQ(refusals, (std::vector{IoError::Other, IoError::Other, IoError::NotFound}));
    EXPECT_FALSE(fs::exists(inDev));
    fs::remove(inDev);
    EXPECT_EQ(ScratchDir::Read(target), "keep");
}

// The flush requests a disk has completed, from its statistics.
long FlushesOf(const std::string& disk) {
    std::ifstream stat("/sys/block/" + disk + "/stat");
    long value = -1;
    for (int field = 0; field < 16 && stat >> value; ++field) {
    }
    return value;
}

// Flushed to the disk when finished, and read back to its last byte in the requests the copy
// engine makes, where direct reads need 4096-byte alignment (ext4 over 4096-byte sectors), take
// any (tmpfs since Linux 6.6) and are refused (ramfs).
TEST_F(Mounted, AnImageIsOnTheDiskWhenFinishedAndReadsBackWholePastTheCache) {
    const std::string disk = lab.Attach("fs.img", std::uintmax_t{16} << 20, "--sector-size 4096");
    const std::string ext4 = disk.empty() ? "" : lab.MountExt4(disk, "ext4");
    const std::string tmpfs = lab.Mount("mount -t tmpfs tmpfs", "tmpfs");
    const std::string ramfs = lab.Mount("mount -t ramfs ramfs", "ramfs");
    ASSERT_FALSE(ext4.empty() || tmpfs.empty() || ramfs.empty()) << "could not mount all three";
    auto storage = StorageOver();
    const std::string bytes = Pattern(kBlock * 5 + 512 * 3, 9);
    const std::pair<std::string, int> places[] = {{ext4, O_DIRECT}, {tmpfs, -1}, {ramfs, 0}};
    for (const auto& [folder, direct] : places) {
        const fs::path path = fs::path(folder) / "image.img";
        auto created = storage.CreateImage(path.string());
        ASSERT_TRUE(created.handle) << folder << ": " << created.error.message;
        created.handle->Write(reinterpret_cast<const std::byte*>(bytes.data()), bytes.size());
        const long flushes = FlushesOf(disk);
        EXPECT_EQ(created.handle->Finish().error, IoError::None);
        // No journal on this ext4 to flush on its own: any flush seen comes from the image.
        EXPECT_TRUE(folder != ext4 || FlushesOf(disk) > flushes) << "closed without a flush";
        const auto image = storage.OpenImageUncached(path.string());
        ASSERT_TRUE(image.handle) << folder << ": " << image.error.message;
        EXPECT_EQ(image.handle->Length(), bytes.size());
        EXPECT_TRUE(direct < 0 || (FlagsOf(path) & O_DIRECT) == direct) << folder;
        std::string got;
        IoResult result;
        for (std::size_t at = 0; at < bytes.size(); at += kBlock) {
            got += Read(*image.handle, std::min(kBlock, bytes.size() - at), result);
        }
        EXPECT_TRUE(got == bytes) << folder << ": " << result.message;
    }
    fs::create_symlink(ext4 + "/image.img", lab.tmp.Path() / "link.img");
    ASSERT_TRUE(lab.tmp.Run("mkfifo " + Quoted(lab.tmp.Path() / "fifo")));
    for (const fs::path& other : {lab.tmp.Path() / "link.img", lab.tmp.Path() / "fifo",
                                  lab.tmp.Path(), lab.tmp.Path() / "none"}) {
        EXPECT_FALSE(storage.OpenImageUncached(other.string()).handle) << other;
    }
}

TEST(Storage, KindAndKeyFollowWhereAPathLeads) {
    ScratchDir tmp;
    auto storage = StorageOver();
    const fs::path& dir = tmp.Path();
    const fs::path file = tmp.Put("a/one.img", "1");
    fs::create_symlink(file, dir / "to-file");
    fs::create_symlink("/dev/null", dir / "to-null");
    fs::create_symlink("/dev", dir / "to-dev");
    fs::create_symlink(dir / "gone", dir / "dangling");
    ASSERT_TRUE(tmp.Run("mkfifo " + Quoted(dir / "fifo")));
    // A plain file on the tmpfs under /dev, and a link to it, are under /dev all the same.
    ScratchDir shm("/dev/shm");
    const fs::path shared = shm.Put("shared.img", "x");
    fs::create_symlink(shared, dir / "to-shm");
    EXPECT_EQ(storage.KindOf(file.string()), PathKind::RegularFile);
    EXPECT_EQ(storage.KindOf((dir / "to-file").string()), PathKind::RegularFile);
    EXPECT_EQ(storage.KindOf((dir / "new" / "folder" / "x.img").string()), PathKind::Missing);
    for (const fs::path& other :
         {dir, dir / "fifo", fs::path("/dev/null"), dir / "to-null",
          fs::path("/dev/velmaris-missing.img"), dir / "to-dev" / "new.img", dir / "dangling",
          file / "x.img", fs::path("/proc/version"), fs::path(), shared, dir / "to-shm"}) {
        EXPECT_EQ(storage.KindOf(other.string()), PathKind::Other) << other;
    }

    // Keys are equal exactly for paths that reach the same file. Two files with a second name
    // each: alike in everything but their inodes.
    fs::create_hard_link(tmp.Put("a/two.img", "2"), dir / "two-link.img");
    fs::create_hard_link(file, dir / "a" / "link.img");
    fs::create_directory_symlink(dir / "a", dir / "alias");
    auto key = [&](const fs::path& path) { return storage.KeyOf(path.string()).key; };
    ASSERT_TRUE(key(file).has_value());
    for (const fs::path& same :
         {dir / "a" / "link.img", dir / "alias" / "one.img", dir / "a" / "." / "one.img",
          dir / "alias" / ".." / "a" / "one.img"}) {
        EXPECT_EQ(key(same), key(file)) << same;
    }
    EXPECT_NE(key(dir / "a" / "two.img"), key(file));
    // Not there yet: the folder decides, and this file system tells names apart by case.
    EXPECT_EQ(key(dir / "alias" / "new.img"), key(dir / "a" / "new.img"));
    EXPECT_NE(key(dir / "a" / "New.img"), key(dir / "a" / "new.img"));
    EXPECT_FALSE(key(file / "below.img").has_value());
}

// The refusal of a drive over the limit is proven through the fakes in tests/core.
TEST_F(Mounted, FatLimitsImagesTo4GiBAndGivesThemItsOwnPermissions) {
    Need("fusefat mkfs.vfat");
    if (IsSkipped()) {
        return;
    }
    const fs::path fat = lab.MountFat("fat");
    auto storage = StorageOver();
    const auto limit = storage.LargestFile((fat / "002.bin").string());
    ASSERT_TRUE(limit);
    EXPECT_EQ(limit->largest, 4294967295u);
    EXPECT_EQ(limit->fileSystem, "fuse.fusefat");
    EXPECT_FALSE(storage.LargestFile(lab.tmp.Path().string())) << "not FAT";

    // fusefat has no chmod (ENOSYS): an image is written all the same, with a note for its
    // record. (A whole run stops earlier: no disk can be found under fusefat's mount.)
    auto image = storage.CreateImage((fat / "001.bin").string());
    ASSERT_TRUE(image.handle) << image.error.message;
    EXPECT_EQ(image.handle->AccessNote(),
              "the owner-only mode could not be applied (Function not implemented); the file has "
              "the permissions its file system gives it");
}

TEST_F(Mounted, AFullTmpfsGivesNoSpaceAndProcMountedElsewhereIsNoTarget) {
    const std::string small = lab.Mount("mount -t tmpfs -o size=1m tmpfs", "small");
    const std::string proc = lab.Mount("mount -t proc proc", "proc");
    ASSERT_FALSE(small.empty() || proc.empty()) << "could not mount tmpfs and proc";
    auto storage = StorageOver();

    const auto free = storage.FreeBytes(small);
    ASSERT_TRUE(free.has_value());
    EXPECT_LE(*free, 1u << 20);
    EXPECT_GE(*free, (1u << 20) - (64u << 10));
    EXPECT_EQ(storage.FreeBytes(small + "/not/made/yet.img"), free);

    auto image = storage.CreateImage(small + "/full.img");
    ASSERT_TRUE(image.handle) << image.error.message;
    const std::string chunk = Pattern(384u << 10, 6);  // the last one fits in part
    IoResult result;
    std::uintmax_t stored = 0;
    for (int i = 0; i < 8 && result.error == IoError::None; ++i) {
        result =
            image.handle->Write(reinterpret_cast<const std::byte*>(chunk.data()), chunk.size());
        stored += result.bytes;
    }
    EXPECT_EQ(result.error, IoError::NoSpace) << result.message;
    EXPECT_FALSE(result.message.empty());
    image.handle->Finish();
    EXPECT_EQ(fs::file_size(small + "/full.img"), stored) << "bytes reported are not those stored";

    EXPECT_EQ(storage.KindOf(proc + "/version"), PathKind::Other);
    EXPECT_EQ(storage.KindOf(proc + "/new.img"), PathKind::Other);
    EXPECT_FALSE(storage.CreateImage(proc + "/new.img").handle);
}

TEST(MonotonicClock, CountsMilliseconds) {
    MonotonicClock clock;
    const std::uint32_t before = clock.Milliseconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::uint32_t elapsed = clock.Milliseconds() - before;
    EXPECT_GE(elapsed, 50u);
    EXPECT_LT(elapsed, 10000u) << "not milliseconds: microseconds would read 50000 or more";
}

// A harmless program in place of the shutdown program: its exit status is the outcome, and the
// window is answered while it runs.
TEST(LinuxPower, WaitsForTheProgramAndReportsItsOutcome) {
    ScratchDir tmp;
    const fs::path log = tmp.Path() / "calls";
    LinuxPower power("/bin/sh", {"-c", "sleep 0.2; echo start >> " + Quoted(log)},
                     {"-c", "echo abort >> " + Quoted(log) + "; exit 3"});
    int waits = 0;
    const auto wait = [&waits] { ++waits; };
    EXPECT_EQ(power.StartShutdown(wait), std::nullopt);
    EXPECT_EQ(ScratchDir::Read(log), "start\n") << "returned before the program ended";
    EXPECT_GT(waits, 0) << "the window was not answered while the program ran";
    EXPECT_EQ(power.AbortShutdown(wait), "/bin/sh ended with exit status 3.");
    EXPECT_EQ(ScratchDir::Read(log), "start\nabort\n");

    LinuxPower missing("/nonexistent/velmaris-shutdown");
    EXPECT_EQ(missing.StartShutdown(wait),
              "/nonexistent/velmaris-shutdown could not be run: No such file or directory.");
}

}  // namespace
}  // namespace velmaris::platform

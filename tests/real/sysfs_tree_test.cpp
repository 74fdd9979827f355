// The catalog on a made-up sysfs tree and mount table, which needs no root, and on real loop
// devices, which needs root, losetup, mkfs.ext4 and mount.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "loop_lab.h"
#include "platform/linux/linux_system_paths.h"
#include "platform/linux/mount_table.h"
#include "platform/linux/sysfs_disk_catalog.h"

namespace velmaris::platform {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;
using Attrs = std::initializer_list<std::pair<std::string, std::string>>;
using LoopDevices = test::LoopTest;

std::string Drive(std::size_t n) {
    return "\\\\.\\PHYSICALDRIVE" + std::to_string(n);
}

class SysfsTree : public ::testing::Test {
  protected:
    void SetUp() override {
        Disk("sdb", "8:16", "2048", "0",
             {{"device/vendor", "ATA     \n"}, {"device/model", "QEMU HARDDISK   \n"}});
        Disk("sdb/sdb1", "8:17", "8", "0", {{"partition", "1"}, {"holders/dm-0/.keep", ""}});
        Disk("sdb/sdb2", "8:18", "8", "0", {{"partition", "2"}});
        // An empty card reader.
        Disk("sdc", "8:32", "0", "1",
             {{"device/vendor", "Generic"}, {"device/model", "STORAGE  DEVICE"}});
        Disk("sdaa", "65:160", "1", "0");
        Disk("loop2", "7:2", "8", "0", {{"loop/backing_file", "/img/a.img\n"}});
        Disk("loop10", "7:10", "8", "0", {{"loop/backing_file", "/img/b.img\n"}});
        Disk("loop0", "7:0", "0", "0");  // never attached
        Disk("loop3", "7:3", "0", "0", {{"loop/backing_file", "\n"}});
        Disk("zram0", "252:0", "8", "0");
        Disk("ram0", "1:0", "8", "0");
        Disk("dm-0", "253:0", "8", "0", {{"dm/name", "x"}});
        Disk("md0", "9:0", "8", "0", {{"md/level", "raid1"}});
        Disk("nvme0c0n1", "259:1", "8", "0", {{"hidden", "1"}});
        // dm-0 over sdb1 is mounted twice and bound elsewhere; loop2 holds a filesystem itself.
        tmp_.Put("mountinfo",
                 "27 1 254:0 / / rw - ext4 /dev/vda rw\n"
                 "30 27 253:0 / /mnt/my\\040data rw - ext4 /dev/mapper/x rw\n"
                 "31 27 8:18 / /boot rw - vfat /dev/sdb2 rw\n"
                 "32 27 253:0 /sub /srv rw - ext4 /dev/mapper/x rw\n"
                 "33 30 253:0 / /mnt/my\\040data rw - ext4 /dev/mapper/x rw\n"
                 "34 27 7:2 / /media/whole rw - ext4 /dev/loop2 rw\n");
    }

    // A block device under sys/block, its sys/class/block link and a few more attributes.
    void Disk(const std::string& path, const std::string& dev, const std::string& sectors,
              const std::string& removable, Attrs extra = {}) {
        const fs::path dir = fs::path("sys/block") / path;
        tmp_.Put(dir / "dev", dev + "\n");
        tmp_.Put(dir / "size", sectors + "\n");
        tmp_.Put(dir / "removable", removable + "\n");
        for (const auto& [file, text] : extra) {
            tmp_.Put(dir / file, text);
        }
        fs::create_directories(tmp_.Path() / "sys/class/block");
        fs::create_directory_symlink(tmp_.Path() / dir,
                                     tmp_.Path() / "sys/class/block" / dir.filename());
    }

    SysfsDiskCatalog Catalog() {
        return SysfsDiskCatalog(tmp_.Path() / "sys", tmp_.Path() / "mountinfo",
                                tmp_.Path() / "dev");
    }

    Names Models(const std::vector<DiskRecord>& disks) {  // number, model and size of each
        Names models;
        for (const auto& d : disks) {
            models.push_back(std::to_string(d.index) + " " + d.model.value_or("<none>") + " " +
                             d.size.value_or("-"));
        }
        return models;
    }

    test::ScratchDir tmp_;
};

TEST_F(SysfsTree, ListsWholeDisksWithNumbersThatStayWithTheirNames) {
    auto catalog = Catalog();
    const auto disks = catalog.Disks();
    ASSERT_TRUE(disks.has_value());
    // sysfs counts 512-byte units; with no medium there is neither size nor type.
    EXPECT_EQ(Models(*disks), (Names{"0 Loop device (loop2) 4096", "1 Loop device (loop10) 4096",
                                     "2 QEMU HARDDISK (sdb) 1048576",
                                     "3 Generic STORAGE DEVICE (sdc) -", "4 sdaa 512"}));
    ASSERT_EQ(disks->size(), 5u);
    EXPECT_EQ((*disks)[2].deviceId, Drive(2));
    EXPECT_EQ((*disks)[2].mediaType, "Fixed hard disk media");
    EXPECT_FALSE((*disks)[2].pnpDeviceId.empty());
    EXPECT_EQ((*disks)[3].mediaType, std::nullopt);
    EXPECT_EQ(catalog.DevicePathOf(2), (tmp_.Path() / "dev/sdb").string());
    EXPECT_EQ(catalog.DevicePathOf(5), std::nullopt);

    fs::remove_all(tmp_.Path() / "sys/block/loop10");
    Disk("sda", "8:0", "4", "0");
    const auto later = catalog.Disks();
    ASSERT_TRUE(later.has_value());
    EXPECT_EQ(Models(*later),
              (Names{"0 Loop device (loop2) 4096", "2 QEMU HARDDISK (sdb) 1048576",
                     "3 Generic STORAGE DEVICE (sdc) -", "4 sdaa 512", "5 sda 2048"}));

    EXPECT_EQ(SysfsDiskCatalog(tmp_.Path() / "missing").Disks(), std::nullopt);
}

TEST_F(SysfsTree, FindsPartitionsAndTheirMountsThroughHolders) {
    auto catalog = Catalog();
    ASSERT_TRUE(catalog.Disks().has_value());
    EXPECT_EQ(catalog.PartitionsOf(Drive(2)), (Names{"sdb1", "sdb2"}));
    EXPECT_EQ(catalog.VolumesOf("sdb1"), (Names{"/mnt/my data", "/srv"}));
    EXPECT_EQ(catalog.VolumesOf("sdb2"), (Names{"/boot"}));
    // A filesystem straight on the disk makes the disk its own partition.
    EXPECT_EQ(catalog.PartitionsOf(Drive(0)), (Names{"loop2"}));
    EXPECT_EQ(catalog.VolumesOf("loop2"), (Names{"/media/whole"}));
    EXPECT_EQ(catalog.PartitionsOf(Drive(3)), Names{});
    EXPECT_EQ(catalog.PartitionsOf(Drive(9)), Names{});
    EXPECT_EQ(catalog.PartitionsOf("sdb"), Names{});
    EXPECT_EQ(catalog.VolumesOf("../block/sdb/sdb1"), Names{});
}

// Device-mapper and md list what they are built on as slaves: a folder on LVM or a RAID over a
// selected drive lies on that drive. Here the scratch folder's own device stands for dm-5.
TEST_F(SysfsTree, FindsTheDisksUnderAFolderThroughTheDevicesItIsBuiltOn) {
    struct stat folder {};
    ASSERT_EQ(::stat(tmp_.Path().c_str(), &folder), 0);
    if (major(folder.st_dev) == 0) {
        GTEST_SKIP() << "the scratch folder lies on no block device";
    }
    const std::string dev =
        std::to_string(major(folder.st_dev)) + ":" + std::to_string(minor(folder.st_dev));
    Disk("dm-5", dev, "8", "0", {{"dm/name", "vg-lv"}});
    const fs::path block = tmp_.Path() / "sys/block";
    for (const auto& [over, under, number] : {std::tuple{"dm-5", "md0", "9:0"},
                                              {"md0", "sdb/sdb1", "8:17"},
                                              {"md0", "sdaa", "65:160"}}) {
        fs::create_directories(block / over / "slaves");
        fs::create_directory_symlink(block / under,
                                     block / over / "slaves" / fs::path(under).filename());
        fs::create_directories(tmp_.Path() / "sys/dev/block");
        fs::create_directory_symlink(block / under, tmp_.Path() / "sys/dev/block" / number);
    }
    fs::create_directory_symlink(block / "dm-5", tmp_.Path() / "sys/dev/block" / dev);
    auto catalog = Catalog();
    ASSERT_TRUE(catalog.Disks().has_value());
    const DisksUnder under = catalog.DisksHolding((tmp_.Path() / "new" / "001.bin").string());
    EXPECT_EQ(under.kind, DisksUnder::Kind::Disks) << under.reason;
    EXPECT_EQ(std::set<std::uint32_t>(under.drives.begin(), under.drives.end()),
              (std::set<std::uint32_t>{2, 4}));
}

TEST_F(SysfsTree, TellsWhetherAFileSystemLiesOnADiskInMemoryOrNobodyKnowsWhere) {
    Disk("sr0", "11:0", "8", "1");
    Disk("loop4", "7:4", "8", "0", {{"loop/backing_file", "/run/live/medium/live/fs.squashfs\n"}});
    Disk("loop5", "7:5", "8", "0", {{"loop/backing_file", "/run/toram/fs.squashfs (deleted)\n"}});
    Disk("loop6", "7:6", "8", "0", {{"loop/backing_file", "/self/disk.img\n"}});
    Disk("dm-1", "253:1", "8", "0", {{"slaves/ram0/.keep", ""}});
    Disk("dm-2", "253:2", "8", "0", {{"slaves/ram0/.keep", ""}, {"slaves/sdb2/.keep", ""}});
    const std::string mounts =
        "20 1 0:20 / / rw - overlay overlay rw,lowerdir=/run/live/rootfs/fs.squashfs/,"
        "upperdir=/run/live/overlay/rw,workdir=/run/live/overlay/work\n"
        "21 20 0:21 / /run rw - tmpfs tmpfs rw\n"
        "22 21 11:0 / /run/live/medium ro - iso9660 /dev/sr0 ro\n"
        "23 21 7:4 / /run/live/rootfs/fs.squashfs ro - squashfs /dev/loop4 ro\n"
        "24 21 7:5 / /run/toram/root ro - squashfs /dev/loop5 ro\n"
        "25 20 8:18 / /persist rw - ext4 /dev/sdb2 rw\n"
        "26 20 0:30 / /ovl rw - overlay overlay "
        "rw,lowerdir=/x,upperdir=/persist/a\\054b,workdir=/w\n"
        "27 20 0:31 / /ro-ovl ro - overlay overlay ro,lowerdir=/run/toram/root:/run/live/medium\n"
        "28 20 252:0 / /zram rw - ext4 /dev/zram0 rw\n"
        "29 20 253:1 / /dm-ram rw - ext4 /dev/mapper/r rw\n"
        "30 20 253:2 / /dm-mixed rw - ext4 /dev/mapper/m rw\n"
        "31 20 8:17 / /part rw - ext4 /dev/sdb1 rw\n"
        "32 20 7:6 / /self rw - ext4 /dev/loop6 rw\n"
        "33 20 9:9 / /gone rw - ext4 /dev/md9 rw\n"
        "34 20 0:40 / /net rw - nfs4 srv:/x rw\n"
        "35 20 0:41 / /pool rw - zfs rpool/ROOT rw\n"
        "36 20 0:42 / /b rw - btrfs /dev/sdb2 rw\n"
        "37 20 11:0 / /cdrom ro - iso9660 /dev/sr0 ro\n";
    using Kind = SystemPaths::Residence::Kind;
    const struct {
        std::string path;
        Kind kind;
        Names volumes;
    } cases[] = {
        {"/", Kind::NoDisk, {}},  // a live system's root: written to memory
        {"/run/live/medium/live", Kind::Volumes, {"/run/live/medium"}},
        {"/run/live/rootfs/fs.squashfs/usr", Kind::Volumes, {"/run/live/rootfs/fs.squashfs"}},
        {"/run/toram/root", Kind::NoDisk, {}},  // over a loop of a file in memory
        {"/ovl", Kind::Volumes, {"/persist"}},  // its upper layer "/persist/a,b" is on a disk
        {"/ro-ovl/x", Kind::Volumes, {"/run/live/medium"}},
        {"/zram", Kind::NoDisk, {}},
        {"/dm-ram", Kind::NoDisk, {}},
        {"/dm-mixed", Kind::Volumes, {"/dm-mixed"}},
        {"/part", Kind::Volumes, {"/part"}},
        {"/self", Kind::Volumes, {"/self"}},  // a loop over a file on itself ends
        {"/gone", Kind::Volumes, {"/gone"}},  // not in sysfs: the catalog may still know it
        {"/net/share", Kind::NoDisk, {}},
        {"/pool", Kind::Unknown, {}},
        {"/b", Kind::Volumes, {"/b"}},
        {"relative", Kind::Unknown, {}},
    };
    for (const auto& c : cases) {
        const auto residence = ResidenceIn(mounts, tmp_.Path() / "sys", c.path);
        EXPECT_EQ(residence.kind, c.kind) << c.path;
        EXPECT_EQ(residence.volumes, c.volumes) << c.path;
    }
    EXPECT_EQ(ResidenceIn("", tmp_.Path() / "sys", "/").kind, Kind::Unknown);
    EXPECT_EQ(BootMediumFoldersIn(mounts), (Names{"/run/live/medium", "/cdrom"}));
}

using linux_mounts::DecodeMountField;
using linux_mounts::MountPointHolding;
using linux_mounts::ParseMountInfo;

TEST(MountTable, ParsesDecodesAndPicksTheLongestWholeComponentPrefix) {
    const auto entries = ParseMountInfo(
        "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
        "40 27 8:17 / /home rw master:3 shared:7 - ext4 /dev/sdb1 rw\n"
        "not a mount line\n"
        "41 27 8:18 / /mnt/my\\040disk\\134x\\011 rw - vfat /dev/my\\040sdb2 rw\n"
        "42 27 8:33 / /homework rw - xfs /dev/sdc1 rw\n"
        "43 27 x:1 / /bad rw - ext4 /dev/x rw\n");
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[1].source, "/dev/sdb1");  // after optional fields
    EXPECT_EQ(entries[2].major, 8u);
    EXPECT_EQ(entries[2].minor, 18u);
    EXPECT_EQ(entries[2].mountPoint, "/mnt/my disk\\x\t");
    EXPECT_EQ(entries[2].source, "/dev/my sdb2");
    // Not escapes: too few digits, not octal, above one byte.
    EXPECT_EQ(DecodeMountField("\\777\\101\\089a\\04"), "\\777A\\089a\\04");

    Names held;
    for (const char* path : {"/homework/a", "/home/user/file", "/home", "/homes",
                             "/mnt/my disk\\x\t/f", "relative/path"}) {
        held.push_back(MountPointHolding(entries, path).value_or("-"));
    }
    EXPECT_EQ(held, (Names{"/homework", "/home", "/home", "/", "/mnt/my disk\\x\t", "-"}));
    EXPECT_EQ(MountPointHolding({entries[1]}, "/etc/hosts"), std::nullopt);
}

const DiskRecord* Find(const std::vector<DiskRecord>& disks, const std::string& name) {
    const auto it = std::find_if(disks.begin(), disks.end(), [&](const DiskRecord& d) {
        return d.model && d.model->find("(" + name + ")") != std::string::npos;
    });
    return it == disks.end() ? nullptr : &*it;
}

TEST_F(LoopDevices, AreListedSizedAndMountedAsTheKernelSees) {
    const std::uintmax_t oddBytes = 131072u * 37 + 512u * 5;
    const std::uintmax_t bigSectorBytes = 4096u * 300;
    const std::string odd = lab.Attach("odd.img", oddBytes);
    const std::string big = lab.Attach("big.img", bigSectorBytes, "--sector-size 4096");
    ASSERT_FALSE(odd.empty() || big.empty()) << "losetup could not attach the image files";
    const auto unused = lab.tmp.Run("losetup -f");  // a node with no file behind it
    ASSERT_TRUE(unused.has_value());
    const std::string point = lab.MountExt4(odd, "mount point");  // escaped in mountinfo
    ASSERT_FALSE(point.empty()) << "could not make or mount ext4 on /dev/" << odd;

    SysfsDiskCatalog catalog;
    // Without a device node to ask, sysfs alone must give the same bytes.
    SysfsDiskCatalog sysfsOnly("/sys", "/proc/self/mountinfo", lab.tmp.Path() / "no-dev");
    const auto first = catalog.Disks();
    const auto fromSysfs = sysfsOnly.Disks();
    ASSERT_TRUE(first && fromSysfs);
    for (const auto& [name, bytes] : {std::pair{odd, oddBytes}, std::pair{big, bigSectorBytes}}) {
        const DiskRecord* disk = Find(*first, name);
        ASSERT_TRUE(disk && Find(*fromSysfs, name)) << name << " is not listed";
        EXPECT_EQ(disk->size, std::to_string(bytes)) << name;
        EXPECT_EQ(Find(*fromSysfs, name)->size, std::to_string(bytes)) << name;
        EXPECT_EQ(catalog.DevicePathOf(disk->index), "/dev/" + name);
    }
    EXPECT_EQ(Find(*first, unused->substr(5)), nullptr) << *unused << " has no file";

    // The filesystem sits on the whole disk: the disk is its own partition.
    EXPECT_EQ(catalog.PartitionsOf(Find(*first, odd)->deviceId), std::vector<std::string>{odd});
    EXPECT_EQ(catalog.VolumesOf(odd), std::vector<std::string>{point});
    LinuxSystemPaths paths;
    EXPECT_EQ(paths.VolumeOf(point + "/not/made/yet.img"), point);
    EXPECT_EQ(paths.VolumeOf(point), point);

    ASSERT_TRUE(lab.Detach(big));
    const auto second = catalog.Disks();
    ASSERT_TRUE(second.has_value());
    // Its number goes with it; that the others keep theirs is SysfsTree's.
    EXPECT_EQ(Find(*second, big), nullptr) << "a detached loop device is still listed";
}

}  // namespace
}  // namespace velmaris::platform

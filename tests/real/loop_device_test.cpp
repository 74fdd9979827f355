// The catalog and paths on real loop devices: needs root, losetup, mkfs.ext4 and mount.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "loop_lab.h"
#include "platform/linux/linux_system_paths.h"
#include "platform/linux/sysfs_disk_catalog.h"

namespace velmaris::platform {
namespace {

using test::LoopLab;

const DiskRecord* Find(const std::vector<DiskRecord>& disks, const std::string& name) {
    const auto it = std::find_if(disks.begin(), disks.end(), [&](const DiskRecord& d) {
        return d.model && d.model->find("(" + name + ")") != std::string::npos;
    });
    return it == disks.end() ? nullptr : &*it;
}

TEST(LoopDevices, AreListedSizedAndMountedAsTheKernelSees) {
    LoopLab lab;
    if (const auto why = lab.Missing("losetup mkfs.ext4 mount umount"); !why.empty()) {
        GTEST_SKIP() << why;
    }
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
        EXPECT_TRUE(disk->mediaType.has_value()) << name;
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
    // Its number goes with it; that the others keep theirs is sysfs_tree_test's.
    EXPECT_EQ(Find(*second, big), nullptr) << "a detached loop device is still listed";
}

}  // namespace
}  // namespace velmaris::platform

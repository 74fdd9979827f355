#include "platform/linux/mount_table.h"

#include <gtest/gtest.h>

namespace velmaris::platform::linux_mounts {
namespace {

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

    EXPECT_EQ(MountPointHolding(entries, "/homework/a"), "/homework");
    EXPECT_EQ(MountPointHolding(entries, "/home/user/file"), "/home");
    EXPECT_EQ(MountPointHolding(entries, "/home"), "/home");
    EXPECT_EQ(MountPointHolding(entries, "/homes"), "/");
    EXPECT_EQ(MountPointHolding(entries, "/mnt/my disk\\x\t/f"), "/mnt/my disk\\x\t");
    EXPECT_EQ(MountPointHolding(entries, "relative/path"), std::nullopt);
    EXPECT_EQ(MountPointHolding({entries[1]}, "/etc/hosts"), std::nullopt);
}

}  // namespace
}  // namespace velmaris::platform::linux_mounts

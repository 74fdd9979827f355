#include "discovery/drive_list.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "discovery/system_drives.h"
#include "fake_services.h"

namespace velmaris::discovery {
namespace {

const platform::NumberMarks kEnglish{'.', ","};

struct Listing {
    grid::GridModel grid;
    fakes::FakeCatalog catalog;
    DriveVolumes letters;
    std::vector<std::string> systemPhysical;
    ListedDrives listed;

    Listing() { grid.SetColCount(5); }
    std::vector<std::string> Row(int row) {
        std::vector<std::string> cells;
        for (int col = 1; col <= 5; ++col) {
            cells.push_back(grid.CellText(row, col));
        }
        return cells;
    }
    void List(const std::vector<std::string>& systemDrives = {"C:"}) {
        systemPhysical = FindSystemDrives(systemDrives, catalog, letters);
        listed = ListPhysicalDrives(grid, catalog, systemPhysical, kEnglish);
    }
};

TEST(DriveList, ModelsAreCleanedAndDrivesWithoutModelMediumOrSizeLeftOut) {
    Listing l;
    l.catalog.AddDisk(0, "Generic USB SCSI Disk Device", "500107862016", {"C:"});
    l.catalog.AddDisk(1, "ST3500418AS", "8589934592").length = 8590000000;
    l.catalog.AddDisk(2, "Virtual cOnFiG Drive", "8589934592");
    l.catalog.AddDisk(3, "Bad\u202eDisk\u200b\x07\xff", "1024");
    l.catalog.AddDisk(4, "", "1024").model.reset();  // no model text: no row
    l.catalog.AddDisk(5, "Card reader", "1024").mediaType.reset();
    l.catalog.AddDisk(6, "Empty", "0");
    l.catalog.AddDisk(7, "No size", std::nullopt);
    l.catalog.AddDisk(8, "Text size", "abc");
    l.catalog.AddDisk(9, "Huge", "99999999999999999999");
    l.List();
    // Formatting and spoofing characters never reach the grid; a size too large to format
    // leaves its cell and the ones after it empty.
    using Row = std::vector<std::string>;
    ASSERT_EQ(l.grid.RowCount(), 4);
    EXPECT_EQ(l.Row(1),
              (Row{"0", "GENERIC USB ", "465.8 Gb", "SCSI\\DISK&VEN_FAKE\\0", "500107862016"}));
    EXPECT_EQ(l.Row(2),
              (Row{"1", "ST3500418AS", "8.0 Gb", "SCSI\\DISK&VEN_FAKE\\1", "8589934592"}));
    EXPECT_EQ(l.Row(3), (Row{"3", "BADDISK?", "1,024.0 bytes", "SCSI\\DISK&VEN_FAKE\\3", "1024"}));
    EXPECT_EQ(l.Row(4), (Row{"9", "HUGE", "", "", ""}));
    EXPECT_EQ(std::get<std::int64_t>(l.grid.CellValue(1, kColId)), 0);
    // Kept beside the rows: the exact length where the disk was asked, else the size.
    ASSERT_EQ(l.listed.size(), 4u);
    EXPECT_EQ(l.listed[0].length, 500107862016u);
    EXPECT_EQ(l.listed[1].length, 8590000000u);
    EXPECT_EQ(l.listed[1].identity, "disk-1");
}

TEST(DriveList, SystemDrivesAreMarkedOnEveryColumnOnce) {
    Listing l;
    l.catalog.AddDisk(2, "Data", "1024", {"D:", "E:"});
    l.catalog.AddDisk(0, "Boot", "1024", {"C:"});
    l.catalog.AddDisk(1, "Other", "1024");
    l.List({"D:", "C:", "Unknown"});
    EXPECT_EQ(l.systemPhysical,
              (std::vector<std::string>{"\\\\.\\PHYSICALDRIVE2", "\\\\.\\PHYSICALDRIVE0"}));
    ASSERT_EQ(l.grid.RowCount(), 3);
    for (int col = 1; col <= 5; ++col) {
        EXPECT_EQ(l.grid.CellBackColor(1, col), kSystemDriveBackColor) << col;
        EXPECT_EQ(l.grid.CellForeColor(2, col), kSystemDriveForeColor) << col;
        EXPECT_FALSE(l.grid.HasOwnColors(3, col)) << col;
    }
    // Letters of every drive, though the catalog gave them out of order.
    EXPECT_EQ(l.letters, (DriveVolumes{{0, {"C:"}}, {1, {}}, {2, {"D:", "E:"}}}));
}

TEST(DriveList, SystemDriveMatchingIsExact) {
    Listing l;
    l.catalog.AddDisk(0, "Boot", "1024", {"C:"});
    l.catalog.AddDisk(1, "Data", "1024", {"D:"});
    // The same letter twice names the drive twice; another case matches nothing.
    l.List({"C:", "C:"});
    EXPECT_EQ(l.systemPhysical.size(), 2u);
    EXPECT_EQ(l.grid.RowCount(), 2);

    Listing none;
    none.catalog.AddDisk(0, "Boot", "1024", {"C:"});
    none.List({"c:", "\\\\"});
    EXPECT_TRUE(none.systemPhysical.empty());
    EXPECT_TRUE(SystemDriveNotFound({"c:", "\\\\"}, none.systemPhysical));
    EXPECT_FALSE(SystemDriveNotFound({}, none.systemPhysical)) << "the system is on no disk";
    EXPECT_FALSE(SystemDriveNotFound({"C:"}, l.systemPhysical));

    // Entries that name no drive mark nothing.
    ListPhysicalDrives(none.grid, none.catalog, {"", "\\\\.\\PHYSICALDRIVE"}, kEnglish);
    ASSERT_EQ(none.grid.RowCount(), 1);
    EXPECT_FALSE(none.grid.HasOwnColors(1, 1));

    // An unreachable catalog gives nothing.
    none.catalog.reachable = false;
    none.letters.clear();
    none.List();
    EXPECT_TRUE(none.systemPhysical.empty());
    EXPECT_TRUE(none.letters.empty());
    EXPECT_EQ(none.grid.RowCount(), 0);
}

TEST(SystemDrives, VolumesOfTheProgramAndTheSystemOrOfTheBootMediumWhenTheSystemIsOnNoDisk) {
    using Residence = platform::SystemPaths::Residence;
    using Kind = Residence::Kind;
    const Residence live{Kind::NoDisk, {}};
    const Residence medium{Kind::Volumes, {"/run/live/medium"}};
    const Residence root{Kind::Volumes, {"/"}};
    using Residences = std::map<std::string, Residence>;
    const Residences installed{{"/", root}, {"/usr/bin", root}};
    const Residences liveBoot{{"/", live}, {"/usr/bin", live}, {"/cdrom", medium}};
    const Residences inMemory{{"/", live}, {"/usr/bin", live}};
    const Residences unknownRoot{{"/", {}}, {"/usr/bin", {}}, {"/cdrom", medium}};
    const struct {
        const char* name;
        std::string program;
        std::optional<std::string> system;
        Residences residences;
        std::vector<std::string> bootMedia;
        std::vector<std::string> expected;
    } cases[] = {
        {"one volume", "C:\\Tools", "C:\\WINDOWS", {}, {}, {"C:"}},
        {"program first", "D:\\Tools", "C:\\WINDOWS", {}, {}, {"D:", "C:"}},
        {"share, no Windows directory", "\\\\server\\share", std::nullopt, {}, {}, {"Unknown"}},
        {"WinPE, program on a stick", "D:\\Tools", "X:\\Windows", {}, {}, {"D:"}},
        {"WinPE, all in memory", "X:\\Tools", "X:\\Windows", {}, {}, {}},
        {"installed, media ignored", "/usr/bin", "/", installed, {"/cdrom"}, {"/"}},
        {"live system", "/usr/bin", "/", liveBoot, {"/cdrom"}, {"/run/live/medium"}},
        {"live system in memory", "/usr/bin", "/", inMemory, {}, {}},
        {"root unknown", "/usr/bin", "/", unknownRoot, {"/cdrom"}, {"Unknown", "/run/live/medium"}},
    };
    for (const auto& c : cases) {
        fakes::FakePaths paths;
        paths.ramDisks = {"X:"};
        paths.programFolder = c.program;
        paths.systemFolder = c.system;
        paths.residences = c.residences;
        paths.bootMedia = c.bootMedia;
        EXPECT_EQ(WorkOutSystemDrives(paths), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace velmaris::discovery

// The disk catalog over a made-up sysfs tree and mount table whose names, attributes and
// lines come from the input, then the source-drives list built from it: hardware text is
// untrusted, and whatever it holds the catalog keeps its numbering and the grid stays clean.
#include <stdlib.h>  // mkdtemp

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "discovery/drive_list.h"
#include "display_text.h"
#include "fuzz_check.h"
#include "platform/linux/mount_table.h"
#include "platform/linux/sysfs_disk_catalog.h"
#include "grid/grid_model.h"

namespace {

namespace fs = std::filesystem;
using namespace velmaris;

// One scratch folder for the process, emptied before every input. libFuzzer leaves without
// running exit handlers: scripts/fuzz.sh points TMPDIR at a folder it removes afterwards.
const fs::path& Scratch() {
    static const fs::path root = [] {
        std::string pattern = (fs::temp_directory_path() / "velmaris-fuzz-XXXXXX").string();
        FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
        return fs::path(pattern);
    }();
    return root;
}

void Put(const fs::path& file, const std::string& text) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    std::ofstream(file, std::ios::binary) << text;
}

// Kernel-like names, with the families the catalog treats apart; now and then "." or "..".
std::string NameFrom(FuzzedDataProvider& in) {
    static const char* const kFamilies[] = {"sd",  "vd",   "xvd", "nvme0n", "mmcblk", "loop",
                                            "ram", "zram", "dm-", "md",     "sr",     "."};
    std::string name = in.PickValueInArray(kFamilies);
    for (char c : in.ConsumeRandomLengthString(6)) {
        const auto k = static_cast<unsigned char>(c) % 37;
        name += k < 26   ? static_cast<char>('a' + k)
                : k < 36 ? static_cast<char>('0' + k - 26)
                         : '.';
    }
    return name;
}

// A few small device numbers, so that disks, holders and mount lines meet.
std::string SmallDevNumber(FuzzedDataProvider& in) {
    return std::to_string(in.ConsumeIntegralInRange(0, 3)) + ":" +
           std::to_string(in.ConsumeIntegralInRange(0, 3));
}

// A dev attribute: mostly a small number, now and then junk.
std::string DevNumberFrom(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? in.ConsumeRandomLengthString(12) : SmallDevNumber(in) + "\n";
}

void MakeDisk(FuzzedDataProvider& in, const fs::path& sys, const std::string& name) {
    const fs::path dir = sys / "block" / name;
    Put(dir / "dev", DevNumberFrom(in));
    Put(dir / "size", in.ConsumeRandomLengthString(24));
    Put(dir / "removable", in.ConsumeBool() ? "1\n" : "0\n");
    if (in.ConsumeBool()) {
        Put(dir / "device" / "vendor", in.ConsumeRandomLengthString(16));
        Put(dir / "device" / "model", in.ConsumeRandomLengthString(40));
    }
    if (in.ConsumeBool()) {
        Put(dir / "device" / "name", in.ConsumeRandomLengthString(16));
    }
    if (in.ConsumeBool()) {
        Put(dir / "loop" / "backing_file", in.ConsumeRandomLengthString(16));
    }
    if (in.ConsumeBool()) {
        Put(dir / "wwid", in.ConsumeRandomLengthString(24));
    }
    std::error_code ec;
    fs::create_directories(sys / "class" / "block", ec);
    fs::create_directory_symlink(dir, sys / "class" / "block" / name, ec);
    const int partitions = in.ConsumeIntegralInRange(0, 2);
    for (int p = 1; p <= partitions; ++p) {
        const std::string part = name + std::to_string(p);
        Put(dir / part / "partition", std::to_string(p));
        Put(dir / part / "dev", DevNumberFrom(in));
        if (in.ConsumeBool()) {
            // Stacked on the partition: the holder's own device number is what gets mounted.
            const std::string holder = "dm-" + std::to_string(p);
            Put(dir / part / "holders" / holder / ".keep", "");
            Put(sys / "block" / holder / "dev", DevNumberFrom(in));
            Put(sys / "block" / holder / "dm" / "name", "x");
            fs::create_directory_symlink(sys / "block" / holder, sys / "class" / "block" / holder,
                                         ec);
        }
        fs::create_directory_symlink(dir / part, sys / "class" / "block" / part, ec);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const fs::path& root = Scratch();
    std::error_code ec;
    fs::remove_all(root / "sys", ec);
    const fs::path sys = root / "sys";
    fs::create_directories(sys / "block", ec);
    const int disks = in.ConsumeIntegralInRange(0, 6);
    for (int d = 0; d < disks; ++d) {
        MakeDisk(in, sys, NameFrom(in));
    }
    std::string mountInfo;
    for (int lines = in.ConsumeIntegralInRange(0, 4); lines > 0; --lines) {
        mountInfo += "30 1 " + SmallDevNumber(in) + " / /" + in.ConsumeRandomLengthString(16) +
                     " rw - ext4 /dev/x rw\n";
    }
    mountInfo += in.ConsumeRemainingBytesAsString();
    Put(root / "mountinfo", mountInfo);

    // No device nodes: the sizes come from sysfs, and nothing of the machine is opened.
    platform::SysfsDiskCatalog catalog(sys, root / "mountinfo", root / "no-dev");
    const auto records = catalog.Disks();
    FUZZ_CHECK(records.has_value());
    std::set<std::uint32_t> numbers;
    for (const platform::DiskRecord& disk : *records) {
        FUZZ_CHECK(numbers.insert(disk.index).second);
        FUZZ_CHECK(disk.deviceId == R"(\\.\PHYSICALDRIVE)" + std::to_string(disk.index));
        FUZZ_CHECK(disk.model && !disk.model->empty());
        FUZZ_CHECK(disk.model->find_first_of("\t\n\v\f\r") == std::string::npos);
        FUZZ_CHECK(!disk.size || (!disk.size->empty() &&
                                  disk.size->find_first_not_of("0123456789") == std::string::npos));
        FUZZ_CHECK(!disk.size || disk.mediaType);  // no medium, no size
    }
    // Numbers stay with their disks from one listing to the next.
    const auto again = catalog.Disks();
    FUZZ_CHECK(again.has_value() && again->size() == records->size());
    for (std::size_t i = 0; i < records->size(); ++i) {
        FUZZ_CHECK((*again)[i].index == (*records)[i].index);
        FUZZ_CHECK((*again)[i].model == (*records)[i].model);
    }

    // Every volume found is a mount point of the table.
    std::set<std::string> mountPoints;
    for (const auto& entry : platform::linux_mounts::ParseMountInfo(mountInfo)) {
        mountPoints.insert(entry.mountPoint);
    }
    std::vector<std::string> systemDrives;
    for (const platform::DiskRecord& disk : *records) {
        for (const std::string& partition : catalog.PartitionsOf(disk.deviceId)) {
            for (const std::string& volume : catalog.VolumesOf(partition)) {
                FUZZ_CHECK(mountPoints.contains(volume));
                systemDrives.push_back(disk.deviceId);
            }
        }
    }
    if (systemDrives.empty()) {
        systemDrives.push_back(R"(\\.\PHYSICALDRIVE0)");
    }

    // Whatever the hardware says, what reaches the grid is safe to show.
    grid::GridModel grid;
    grid.SetColCount(discovery::kColSizeBytes);
    discovery::ListPhysicalDrives(grid, catalog, systemDrives, {'.', ","});
    FUZZ_CHECK(static_cast<std::size_t>(grid.RowCount()) <= records->size());
    for (int row = 1; row <= grid.RowCount(); ++row) {
        for (int col : {discovery::kColModel, discovery::kColPnp}) {
            FUZZ_CHECK(fuzz::IsCleanDisplayText(grid.CellText(row, col)));
        }
    }
    return 0;
}

// What the kernel says a disk or a file is: loop devices' backing files, a disk's identity,
// and the whole disks a file system lies on.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace velmaris::platform::linux_block {

using DevNumber = std::pair<std::uint32_t, std::uint32_t>;  // major, minor

// A file as its file system knows it: the device number of the file system and the inode.
struct FileId {
    DevNumber device;
    std::uint64_t inode = 0;
    bool operator==(const FileId&) const = default;
};

// The file behind a loop device, as the loop driver reports it for the open descriptor;
// nullopt when the descriptor is no loop device or it has no file.
std::optional<FileId> LoopBackingOf(int fd);

// The node of a block device opened read-only, only when it is that very device; -1 with
// errno set otherwise.
int OpenBlockNode(const std::filesystem::path& node, DevNumber device);

// The file a path names (links followed); nullopt when there is none.
std::optional<FileId> FileIdOf(const std::filesystem::path& path);

// The identity of the whole disk whose sysfs folder is given, read through the open
// descriptor of its node: its disk sequence number (new for every medium attached), its WWID
// or serial where it has one, and a loop device's backing file.
std::string DiskIdentity(const std::filesystem::path& sysfsDisk, int fd);

// The whole disks (kernel names) that a file system or a block device lies on.
struct DiskSet {
    std::set<std::string> disks;
    bool blockBacked = false;  // some block device was found under it
    std::optional<std::string> error;
};

// Walks down from the file system that holds path (its nearest existing folder) through
// partitions, device-mapper, md and loop devices and the file systems of their backing files.
class DiskWalker {
  public:
    DiskWalker(std::filesystem::path sysfs, std::filesystem::path mountInfo,
               std::filesystem::path dev);

    DiskSet UnderPath(const std::string& path);

  private:
    // What is left to look at: a path, a file system by its device number (and a resolved path
    // on it), or a block device.
    struct Step {
        enum class Kind { Path, FileSystem, Block } kind;
        std::filesystem::path path;
        DevNumber device;
        int depth = 0;  // stacked devices and files above it
    };

    // Each looks at one step and adds the steps under it.
    void Path(const std::filesystem::path& path, DiskSet& out, int depth);
    void FileSystem(const std::filesystem::path& path, DevNumber device, DiskSet& out, int depth);
    void Block(DevNumber device, DiskSet& out, int depth);

    std::filesystem::path sysfs_;
    std::filesystem::path mountInfo_;
    std::filesystem::path dev_;
    std::set<DevNumber> seen_;
    std::vector<Step> pending_;
};

}  // namespace velmaris::platform::linux_block

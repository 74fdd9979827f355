#include "platform/linux/block_devices.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <string_view>
#include <system_error>

#include "platform/linux/mount_table.h"

namespace velmaris::platform::linux_block {
namespace {

namespace fs = std::filesystem;

// Deep enough for any real stack of partitions, mappings and loop devices; a loop of them
// (a file on a file system on itself) is cut by the devices already seen.
constexpr int kMaxDepth = 32;

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A sysfs attribute without its surrounding blanks; nullopt when missing or blank.
std::optional<std::string> ReadAttr(const fs::path& file) {
    std::string text = ReadAll(file);
    const auto first = text.find_first_not_of(" \t\n");
    if (first == std::string::npos) {
        return std::nullopt;
    }
    return text.substr(first, text.find_last_not_of(" \t\n") - first + 1);
}

DevNumber DevOf(dev_t device) {
    return {major(device), minor(device)};
}

std::string Text(DevNumber device) {
    return std::to_string(device.first) + ":" + std::to_string(device.second);
}

std::string SystemText(int error) {
    return std::generic_category().message(error);
}

}  // namespace

int OpenBlockNode(const fs::path& node, DevNumber device) {
    const int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd >= 0 &&
        (::fstat(fd, &info) != 0 || !S_ISBLK(info.st_mode) || DevOf(info.st_rdev) != device)) {
        ::close(fd);
        errno = ENODEV;
        return -1;
    }
    return fd;
}

namespace {

// File systems that keep their files in memory or on another machine: no local disk.
bool HoldsNoLocalDisk(const std::string& type) {
    static constexpr std::array<std::string_view, 13> kTypes = {
        "tmpfs", "ramfs", "nfs",      "nfs4",       "cifs",        "smb3",           "smbfs",
        "9p",    "ceph",  "virtiofs", "fuse.sshfs", "fuse.rclone", "fuse.gvfsd-fuse"};
    return std::find(kTypes.begin(), kTypes.end(), type) != kTypes.end();
}

}  // namespace

std::optional<FileId> LoopBackingOf(int fd) {
    struct loop_info64 info {};
    if (::ioctl(fd, LOOP_GET_STATUS64, &info) != 0) {
        return std::nullopt;
    }
    // The driver reports the device in the kernel's 32-bit encoding.
    const auto device = static_cast<std::uint32_t>(info.lo_device);
    const DevNumber number{(device & 0xFFF00u) >> 8,
                           (device & 0xFFu) | ((device >> 12) & 0xFFF00u)};
    return FileId{number, info.lo_inode};
}

std::optional<FileId> FileIdOf(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return FileId{DevOf(info.st_dev), info.st_ino};
}

std::string DiskIdentity(const fs::path& sysfsDisk, int fd) {
    std::string identity = "diskseq:" + ReadAttr(sysfsDisk / "diskseq").value_or("?");
    for (const char* attr : {"wwid", "device/wwid", "device/serial"}) {
        if (const auto id = ReadAttr(sysfsDisk / attr)) {
            identity += ";id:" + *id;
            break;
        }
    }
    if (const auto backing = LoopBackingOf(fd)) {
        identity += ";file:" + Text(backing->device) + ":" + std::to_string(backing->inode);
    }
    return identity;
}

DiskWalker::DiskWalker(fs::path sysfs, fs::path mountInfo, fs::path dev)
    : sysfs_(std::move(sysfs)), mountInfo_(std::move(mountInfo)), dev_(std::move(dev)) {}

DiskSet DiskWalker::UnderPath(const std::string& path) {
    seen_.clear();
    pending_.clear();
    DiskSet out;
    pending_.push_back({Step::Kind::Path, path, {}, 0});
    while (!pending_.empty() && !out.error) {
        const Step step = std::move(pending_.back());
        pending_.pop_back();
        if (step.depth > kMaxDepth) {
            out.error = "the devices under it are stacked too deep";
        } else if (step.kind == Step::Kind::Path) {
            Path(step.path, out, step.depth);
        } else if (step.kind == Step::Kind::FileSystem) {
            FileSystem(step.path, step.device, out, step.depth);
        } else {
            Block(step.device, out, step.depth);
        }
    }
    return out;
}

void DiskWalker::Path(const fs::path& path, DiskSet& out, int depth) {
    std::error_code ec;
    fs::path existing = fs::absolute(path, ec);
    struct stat info {};
    while (!ec && ::stat(existing.c_str(), &info) != 0) {
        if (errno != ENOENT || existing.parent_path() == existing) {
            out.error = "cannot examine " + existing.string() + ": " + SystemText(errno);
            return;
        }
        existing = existing.parent_path();
    }
    if (ec) {
        out.error = "cannot examine " + path.string() + ": " + ec.message();
        return;
    }
    const fs::path resolved = fs::canonical(existing, ec);
    pending_.push_back(
        {Step::Kind::FileSystem, ec ? existing : resolved, DevOf(info.st_dev), depth});
}

void DiskWalker::FileSystem(const fs::path& path, DevNumber device, DiskSet& out, int depth) {
    if (device.first != 0) {
        pending_.push_back({Step::Kind::Block, {}, device, depth});
        return;
    }
    // An anonymous device number: the mount table says what the file system stands on.
    const auto entries = linux_mounts::ParseMountInfo(ReadAll(mountInfo_));
    const linux_mounts::MountEntry* entry = nullptr;
    for (const auto& candidate : entries) {
        if (DevNumber{candidate.major, candidate.minor} == device) {
            entry = &candidate;
            break;
        }
    }
    if (entry == nullptr) {
        // btrfs gives each subvolume a device number of its own, which the mount table does
        // not list: the file system mounted last where the path lies is the one to look at.
        const auto point = linux_mounts::MountPointHolding(entries, path.string());
        for (const auto& candidate : entries) {
            entry = point && candidate.mountPoint == *point ? &candidate : entry;
        }
    }
    if (entry == nullptr ||
        (DevNumber{entry->major, entry->minor} != device && entry->fsType != "btrfs")) {
        out.error = "the file system of device " + Text(device) + " is not in the mount table";
        return;
    }
    if (HoldsNoLocalDisk(entry->fsType)) {
        return;
    }
    if (entry->fsType == "overlay") {
        // Writes land in the upper folder only; without one the overlay is read-only.
        const auto upper = linux_mounts::MountOption(entry->superOptions, "upperdir");
        if (upper && (upper->empty() || upper->front() != '/')) {
            // Mounted from a folder of the mounting program's own: relative to nothing known.
            out.error = "the overlay's upper folder " + *upper + " is not a full path";
        } else if (upper) {
            pending_.push_back({Step::Kind::Path, *upper, {}, depth + 1});
        }
        return;
    }
    struct stat source {};
    if (entry->source.empty() || entry->source.front() != '/' ||
        ::stat(entry->source.c_str(), &source) != 0) {
        out.error = "the " + entry->fsType + " file system from " + entry->source +
                    " lies on no disk that can be worked out";
        return;
    }
    if (!S_ISBLK(source.st_mode)) {
        // A FUSE file system over a file or folder.
        pending_.push_back({Step::Kind::Path, entry->source, {}, depth + 1});
        return;
    }
    if (entry->fsType == "btrfs") {
        // btrfs spans every device of its file system id; the mount names only one of them.
        std::error_code ec;
        for (fs::directory_iterator fsid(sysfs_ / "fs" / "btrfs", ec);
             !ec && fsid != fs::directory_iterator(); fsid.increment(ec)) {
            std::set<DevNumber> members;
            std::error_code inner;
            for (fs::directory_iterator member(fsid->path() / "devices", inner);
                 !inner && member != fs::directory_iterator(); member.increment(inner)) {
                if (const auto text = ReadAttr(member->path() / "dev")) {
                    if (const auto number = linux_mounts::ParseDevNumber(*text)) {
                        members.insert(*number);
                    }
                }
            }
            if (members.contains(DevOf(source.st_rdev))) {
                for (const DevNumber& member : members) {
                    pending_.push_back({Step::Kind::Block, {}, member, depth + 1});
                }
                return;
            }
        }
    }
    pending_.push_back({Step::Kind::Block, {}, DevOf(source.st_rdev), depth + 1});
}

void DiskWalker::Block(DevNumber device, DiskSet& out, int depth) {
    out.blockBacked = true;
    if (!seen_.insert(device).second) {
        return;
    }
    std::error_code ec;
    const fs::path node = fs::canonical(sysfs_ / "dev" / "block" / Text(device), ec);
    if (ec) {
        out.error = "block device " + Text(device) + " is not in sysfs: " + ec.message();
        return;
    }
    const bool partition = fs::exists(node / "partition", ec);
    const fs::path disk = partition ? node.parent_path() : node;
    const std::string name = disk.filename().string();
    out.disks.insert(name);

    // Device-mapper, md and LVM list what they are built on as slaves.
    for (const fs::path& holder : {node, disk}) {
        std::error_code inner;
        for (fs::directory_iterator slave(holder / "slaves", inner);
             !inner && slave != fs::directory_iterator(); slave.increment(inner)) {
            const auto text = ReadAttr(slave->path() / "dev");
            const auto number = text ? linux_mounts::ParseDevNumber(*text) : std::nullopt;
            if (!number) {
                out.error = "cannot read the device under " + name;
                return;
            }
            pending_.push_back({Step::Kind::Block, {}, *number, depth + 1});
        }
    }

    if (!fs::exists(disk / "loop", ec)) {
        return;
    }
    const auto diskNumber = linux_mounts::ParseDevNumber(ReadAttr(disk / "dev").value_or(""));
    const int fd = diskNumber ? OpenBlockNode(dev_ / name, *diskNumber) : -1;
    if (fd < 0) {
        out.error = "cannot open " + (dev_ / name).string() +
                    " to find the file behind it: " + SystemText(errno);
        return;
    }
    const auto backing = LoopBackingOf(fd);
    ::close(fd);
    if (backing) {
        pending_.push_back({Step::Kind::FileSystem, {}, backing->device, depth + 1});
    }
}

}  // namespace velmaris::platform::linux_block

#include "platform/linux/linux_system_paths.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include "platform/linux/mount_table.h"

namespace velmaris::platform {

namespace fs = std::filesystem;
using Residence = SystemPaths::Residence;
using Kind = Residence::Kind;

namespace {

// Stacks deeper than this are taken for loops (a loop device over a file on itself).
constexpr int kMaxDepth = 8;

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

bool IsNumbered(std::string_view name, std::string_view prefix) {
    return name.size() > prefix.size() && name.substr(0, prefix.size()) == prefix &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// Several places at once: unknown if one is, else every volume of them, else no disk.
Residence Combined(const std::vector<Residence>& parts) {
    Residence all{Kind::NoDisk, {}};
    for (const Residence& part : parts) {
        if (part.kind == Kind::Unknown) {
            return {};
        }
        for (const std::string& volume : part.volumes) {
            all.kind = Kind::Volumes;
            if (std::find(all.volumes.begin(), all.volumes.end(), volume) == all.volumes.end()) {
                all.volumes.push_back(volume);
            }
        }
    }
    return all;
}

class Resolver {
  public:
    Resolver(std::string_view mountInfo, fs::path sysfs)
        : mounts_(linux_mounts::ParseMountInfo(mountInfo)), sysfs_(std::move(sysfs)) {}

    // NOLINTNEXTLINE(misc-no-recursion): a stack of mounts and devices, cut at kMaxDepth
    Residence Of(const std::string& path, int depth) {
        const auto point = linux_mounts::MountPointHolding(mounts_, path);
        if (!point || depth > kMaxDepth) {
            return {};
        }
        // Of several mounts at one point, the last one mounted is the one seen.
        const auto mount =
            std::find_if(mounts_.rbegin(), mounts_.rend(),
                         [&](const linux_mounts::MountEntry& m) { return m.mountPoint == *point; });
        return OfMount(*mount, depth);
    }

  private:
    // NOLINTNEXTLINE(misc-no-recursion): a stack of mounts and devices, cut at kMaxDepth
    Residence OfMount(const linux_mounts::MountEntry& mount, int depth) {
        static const std::vector<std::string> kInMemory = {"tmpfs", "ramfs", "rootfs"};
        static const std::vector<std::string> kShares = {"nfs",  "nfs4", "cifs",
                                                         "smb3", "ceph", "fuse.sshfs"};
        const std::string& type = mount.fsType;
        if (std::find(kInMemory.begin(), kInMemory.end(), type) != kInMemory.end() ||
            std::find(kShares.begin(), kShares.end(), type) != kShares.end()) {
            return {Kind::NoDisk, {}};
        }
        if (type == "overlay") {
            return OfOverlay(mount.superOptions, depth);
        }
        Residence onVolume{Kind::Volumes, {mount.mountPoint}};
        // An anonymous device number: the catalog finds btrfs's devices from the source.
        if (type == "btrfs") {
            return onVolume;
        }
        if (mount.major == 0) {
            return {};
        }
        const auto name = NameOf(mount.major, mount.minor);
        if (!name) {
            return onVolume;
        }
        return AllInMemory(*name, depth) ? Residence{Kind::NoDisk, {}} : onVolume;
    }

    // Writes go to the upper layer, so that is where the system lives; without one, the
    // overlay is all its lower layers.
    // NOLINTNEXTLINE(misc-no-recursion): a stack of mounts and devices, cut at kMaxDepth
    Residence OfOverlay(const std::string& options, int depth) {
        if (const auto upper = linux_mounts::MountOption(options, "upperdir")) {
            return Of(*upper, depth + 1);
        }
        const auto lower = linux_mounts::MountOption(options, "lowerdir");
        if (!lower) {
            return {};
        }
        std::vector<Residence> parts;
        std::size_t at = 0;
        while (at <= lower->size()) {
            const std::size_t colon = std::min(lower->find(':', at), lower->size());
            parts.push_back(Of(lower->substr(at, colon - at), depth + 1));
            at = colon + 1;
        }
        return Combined(parts);
    }

    std::optional<std::string> NameOf(std::uint32_t major, std::uint32_t minor) const {
        const std::string wanted = std::to_string(major) + ":" + std::to_string(minor);
        std::error_code ec;
        for (fs::directory_iterator it(sysfs_ / "class" / "block", ec);
             !ec && it != fs::directory_iterator(); it.increment(ec)) {
            if (Trimmed(ReadAll(it->path() / "dev")) == wanted) {
                return it->path().filename().string();
            }
        }
        return std::nullopt;
    }

    // Whether every device at the bottom of name's stack (through partitions' disks and
    // slaves) keeps its data in memory.
    // NOLINTNEXTLINE(misc-no-recursion): a stack of mounts and devices, cut at kMaxDepth
    bool AllInMemory(const std::string& name, int depth) {
        if (depth > kMaxDepth) {
            return false;
        }
        const fs::path base = sysfs_ / "class" / "block" / name;
        std::error_code ec;
        if (fs::exists(base / "partition", ec)) {
            const fs::path disk = fs::canonical(base, ec).parent_path().filename();
            return !ec && AllInMemory(disk.string(), depth + 1);
        }
        bool stacked = false;
        for (fs::directory_iterator it(base / "slaves", ec); !ec && it != fs::directory_iterator();
             it.increment(ec)) {
            stacked = true;
            if (!AllInMemory(it->path().filename().string(), depth + 1)) {
                return false;
            }
        }
        if (stacked) {
            return true;
        }
        if (IsNumbered(name, "ram") || IsNumbered(name, "zram")) {
            return true;
        }
        if (IsNumbered(name, "loop")) {
            std::string file = Trimmed(ReadAll(base / "loop" / "backing_file"));
            constexpr std::string_view kDeleted = " (deleted)";
            if (file.size() > kDeleted.size() && file.ends_with(kDeleted)) {
                file.resize(file.size() - kDeleted.size());
            }
            return !file.empty() && Of(file, depth + 1).kind == Kind::NoDisk;
        }
        return false;
    }

    std::vector<linux_mounts::MountEntry> mounts_;
    fs::path sysfs_;
};

// A target folder may not exist yet: its nearest existing parent decides.
std::optional<std::string> Resolved(const std::string& path) {
    if (path.empty()) {
        return std::nullopt;
    }
    std::error_code ec;
    fs::path p = fs::absolute(path, ec);
    if (ec) {
        return std::nullopt;
    }
    fs::path resolved = fs::canonical(p, ec);
    while (ec) {
        const fs::path parent = p.parent_path();
        if (parent == p) {
            return std::nullopt;
        }
        p = parent;
        resolved = fs::canonical(p, ec);
    }
    return resolved.string();
}

}  // namespace

Residence ResidenceIn(std::string_view mountInfo, const fs::path& sysfsRoot,
                      const std::string& path) {
    try {
        return Resolver(mountInfo, sysfsRoot).Of(path, 0);
    } catch (...) {
        return {};
    }
}

std::vector<std::string> BootMediumFoldersIn(std::string_view mountInfo) {
    // Where live systems' initramfs scripts mount the medium they start from.
    static const std::vector<std::string> kMedia = {"/run/live/medium", "/lib/live/mount/medium",
                                                    "/run/initramfs/live", "/cdrom",
                                                    "/run/archiso/bootmnt"};
    std::vector<std::string> found;
    try {
        const auto entries = linux_mounts::ParseMountInfo(mountInfo);
        for (const std::string& folder : kMedia) {
            if (std::any_of(entries.begin(), entries.end(),
                            [&](const auto& e) { return e.mountPoint == folder; })) {
                found.push_back(folder);
            }
        }
    } catch (...) {
        return {};
    }
    return found;
}

LinuxSystemPaths::LinuxSystemPaths(fs::path mountInfo, fs::path sysfsRoot)
    : mountInfo_(std::move(mountInfo)), sysfs_(std::move(sysfsRoot)) {}

std::string LinuxSystemPaths::ProgramFolder() {
    try {
        std::error_code ec;
        const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
        return ec ? std::string() : exe.parent_path().string();
    } catch (...) {
        return {};
    }
}

std::optional<std::string> LinuxSystemPaths::SystemFolder() {
    return "/";
}

std::optional<std::string> LinuxSystemPaths::VolumeOf(const std::string& path) {
    try {
        const auto resolved = Resolved(path);
        if (!resolved) {
            return std::nullopt;
        }
        return linux_mounts::MountPointHolding(linux_mounts::ParseMountInfo(ReadAll(mountInfo_)),
                                               *resolved);
    } catch (...) {
        return std::nullopt;
    }
}

Residence LinuxSystemPaths::ResidenceOf(const std::string& path) {
    try {
        const auto resolved = Resolved(path);
        if (!resolved) {
            return {};
        }
        const std::string text = ReadAll(mountInfo_);
        if (text.empty()) {
            return {};
        }
        return ResidenceIn(text, sysfs_, *resolved);
    } catch (...) {
        return {};
    }
}

std::vector<std::string> LinuxSystemPaths::BootMediumFolders() {
    return BootMediumFoldersIn(ReadAll(mountInfo_));
}

}  // namespace velmaris::platform

#include "platform/linux/linux_system_paths.h"

#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include "platform/linux/mount_table.h"

namespace velmaris::platform {

namespace fs = std::filesystem;

LinuxSystemPaths::LinuxSystemPaths(fs::path mountInfo) : mountInfo_(std::move(mountInfo)) {}

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
        if (path.empty()) {
            return std::nullopt;
        }
        std::error_code ec;
        fs::path p = fs::absolute(path, ec);
        if (ec) {
            return std::nullopt;
        }
        // A target folder may not exist yet: its nearest existing parent decides.
        fs::path resolved = fs::canonical(p, ec);
        while (ec) {
            const fs::path parent = p.parent_path();
            if (parent == p) {
                return std::nullopt;
            }
            p = parent;
            resolved = fs::canonical(p, ec);
        }
        std::ifstream in(mountInfo_, std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
        return linux_mounts::MountPointHolding(linux_mounts::ParseMountInfo(text),
                                               resolved.string());
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace velmaris::platform

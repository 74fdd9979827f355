// Loop devices and mounts made by a test as root, undone however the test ends.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "scratch.h"

namespace velmaris::test {

class LoopLab {
  public:
    ~LoopLab() {
        for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it) {
            tmp.Run("umount " + Quoted(*it));
        }
        for (const auto& name : loops_) {
            tmp.Run("losetup -d /dev/" + name);
        }
    }

    // Why the test cannot run here, or "" when it can.
    std::string Missing(const std::string& tools) {
        std::ifstream status("/proc/self/status");
        std::string word, real, effective;
        while (status >> word && word != "Uid:") {
        }
        if (!(status >> real >> effective) || effective != "0") {
            return "needs root to attach loop devices and mount";
        }
        const auto found = tmp.Run("for t in " + tools + "; do command -v $t || exit 1; done");
        return found ? "" : "needs these tools on PATH: " + tools;
    }

    // A new loop device over a file of this many bytes; its kernel name ("loop3").
    std::string Attach(const std::string& file, std::uintmax_t bytes,
                       const std::string& options = "") {
        const std::filesystem::path path = tmp.Put(file, "");
        std::filesystem::resize_file(path, bytes);
        return AttachFile(path, options);
    }

    // A new loop device over an existing file; its kernel name, or "" when losetup failed.
    std::string AttachFile(const std::filesystem::path& path, const std::string& options = "") {
        const auto node = tmp.Run("losetup -f --show " + options + " " + Quoted(path));
        if (!node || node->rfind("/dev/", 0) != 0) {
            return "";
        }
        loops_.push_back(node->substr(5));
        return loops_.back();
    }

    bool Detach(const std::string& name) {
        const auto it = std::find(loops_.begin(), loops_.end(), name);
        if (it == loops_.end() || !tmp.Run("losetup -d /dev/" + name)) {
            return false;
        }
        loops_.erase(it);
        return true;
    }

    // ext4 straight on the device, mounted on a fresh folder; the folder's resolved path.
    std::string MountExt4(const std::string& name, const std::string& folder) {
        if (!tmp.Run("mkfs.ext4 -q -F /dev/" + name)) {
            return "";
        }
        return Mount("/dev/" + name, "", folder);
    }

    // Any mount on a fresh folder ("tmpfs", "-t tmpfs -o size=1m"); the folder's resolved path,
    // or "" when mount failed.
    std::string Mount(const std::string& source, const std::string& options,
                      const std::string& folder) {
        const std::filesystem::path point = tmp.Path() / folder;
        std::filesystem::create_directories(point);
        if (!tmp.Run("mount " + options + " " + source + " " + Quoted(point))) {
            return "";
        }
        mounts_.push_back(point);
        return std::filesystem::canonical(point).string();
    }

    ScratchDir tmp;

  private:
    std::vector<std::string> loops_;
    std::vector<std::filesystem::path> mounts_;
};

}  // namespace velmaris::test

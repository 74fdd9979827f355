// Loop devices and mounts made by a test as root, undone however the test ends.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "scratch.h"

namespace velmaris::test {

// ext4 whose file changes only when something is written into it: no journal to check
// point later, no tables initialised in the background.
inline constexpr char kQuietExt4[] =
    "mkfs.ext4 -q -F -O ^has_journal -E lazy_itable_init=0,lazy_journal_init=0";

class LoopLab {
  public:
    // Undone newest first: a loop device over a file on a mount goes before the mount.
    ~LoopLab() {
        for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
            tmp.Run(*it);
        }
    }

    // Why the test cannot run here, or "" when it can.
    std::string Missing(const std::string& tools) {
        if (!tmp.Run("test \"$(id -u)\" = 0")) {
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
        undo_.push_back("losetup -d " + *node);
        return node->substr(5);
    }

    // Detaches now, and not again at the end, when another test may have the number.
    bool Detach(const std::string& name) {
        const auto it = std::find(undo_.begin(), undo_.end(), "losetup -d /dev/" + name);
        if (it == undo_.end() || !tmp.Run(*it)) {
            return false;
        }
        undo_.erase(it);
        return true;
    }

    // A mount on a fresh folder by a command that takes the folder last ("mount -t tmpfs tmpfs");
    // the folder's resolved path, or "" when the command failed.
    std::string Mount(const std::string& command, const std::string& folder) {
        const std::filesystem::path point = tmp.Path() / folder;
        std::filesystem::create_directories(point);
        if (!tmp.Run(command + " " + Quoted(point))) {
            return "";
        }
        undo_.push_back("umount " + Quoted(point));
        return std::filesystem::canonical(point).string();
    }

    // ext4 straight on the device, mounted on a fresh folder.
    std::string MountExt4(const std::string& name, const std::string& folder) {
        return tmp.Run(std::string(kQuietExt4) + " /dev/" + name)
                   ? Mount("mount -o noatime /dev/" + name, folder)
                   : "";
    }

    // FAT through fusefat on a new loop device, on a fresh folder.
    std::string MountFat(const std::string& folder) {
        const std::string device = Attach(folder + ".img", 16 << 20);
        return tmp.Run("mkfs.vfat /dev/" + device) ? Mount("fusefat -o rw+ /dev/" + device, folder)
                                                   : "";
    }

    ScratchDir tmp;

  private:
    std::vector<std::string> undo_;  // commands, oldest first
};

// A test that attaches and mounts, skipped unless it runs as root with these tools.
class LoopTest : public ::testing::Test {
  protected:
    void SetUp() override { Need("losetup mkfs.ext4 mount umount"); }
    // Skips the test unless these tools are there too; the caller returns when IsSkipped().
    void Need(const std::string& tools) {
        if (const auto why = lab.Missing(tools); !why.empty()) {
            GTEST_SKIP() << why;
        }
    }
    LoopLab lab;
};

}  // namespace velmaris::test

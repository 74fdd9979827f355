// In-memory machine services for core and front-end tests.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fake_storage.h"
#include "platform/services.h"

namespace velmaris::fakes {

// A disk catalog built from records, with partitions and volumes given per device id.
class FakeCatalog : public platform::DiskCatalog {
  public:
    bool reachable = true;
    std::vector<platform::DiskRecord> disks;
    std::map<std::string, std::vector<std::string>> partitions;    // disk device id -> partitions
    std::map<std::string, std::vector<std::string>> volumes;       // partition id -> volumes
    std::optional<platform::DisksUnder> disksHolding;              // answers every path when set
    std::map<std::string, std::vector<std::string>> backedDrives;  // file path -> drive names

    // Adds a disk with drive number n and one partition holding the given volumes.
    platform::DiskRecord& AddDisk(std::uint32_t n, const std::string& model,
                                  std::optional<std::string> size,
                                  const std::vector<std::string>& volumesOfDisk = {});

    std::optional<std::vector<platform::DiskRecord>> Disks() override {
        return reachable ? std::optional(disks) : std::nullopt;
    }
    std::vector<std::string> PartitionsOf(const std::string& id) override {
        return Listed(partitions, id);
    }
    std::vector<std::string> VolumesOf(const std::string& id) override {
        return Listed(volumes, id);
    }
    // As on Windows: none for a network path, else the disks holding the path's drive letter.
    platform::DisksUnder DisksHolding(const std::string& path) override;
    std::vector<std::string> DrivesBackedBy(const std::string& path) override {
        return Listed(backedDrives, path);
    }

  private:
    static std::vector<std::string> Listed(
        const std::map<std::string, std::vector<std::string>>& lists, const std::string& key) {
        const auto it = lists.find(key);
        return it == lists.end() ? std::vector<std::string>{} : it->second;
    }
};

// Paths of a Windows-like machine by default: program and system on C:.
class FakePaths : public platform::SystemPaths {
  public:
    std::string programFolder = "C:\\Tools\\Velmaris";
    std::optional<std::string> systemFolder = "C:\\WINDOWS";

    std::string ProgramFolder() override { return programFolder; }
    std::optional<std::string> SystemFolder() override { return systemFolder; }
    // As on Windows: the first two characters of the path.
    std::optional<std::string> VolumeOf(const std::string& path) override {
        return path.substr(0, 2);
    }

    std::set<std::string> ramDisks;               // letters that are RAM disks, as WinPE's "X:"
    std::map<std::string, Residence> residences;  // answers for these paths as given
    std::vector<std::string> bootMedia;
    // As on Windows, unless answered above: a network path lies on no disk, a drive-letter
    // path on its letter unless that is a RAM disk; anything else is unknown.
    Residence ResidenceOf(const std::string& path) override {
        if (const auto it = residences.find(path); it != residences.end()) {
            return it->second;
        }
        if (path.rfind("\\", 0) == 0) {
            return {Residence::Kind::NoDisk, {}};
        }
        if (path.size() < 2 || path[1] != ':') {
            return {};
        }
        const std::string letter = path.substr(0, 2);
        if (ramDisks.count(letter) > 0) {
            return {Residence::Kind::NoDisk, {}};
        }
        return {Residence::Kind::Volumes, {letter}};
    }
    std::vector<std::string> BootMediumFolders() override { return bootMedia; }
};

// English marks, as platform::NumberMarks starts.
class FakeNumbers : public platform::NumberFormat {
  public:
    platform::NumberMarks UserMarks() override { return {}; }
};

// Folders in memory, with Windows path rules by default.
class FakeFiles : public platform::Files {
  public:
    char separator = '\\';
    bool keepsDoubledSeparator = true;
    std::set<std::string> folders;
    std::vector<std::string> created;
    std::optional<std::string> createFailure;  // the reason every creation fails with

    char Separator() override { return separator; }
    bool KeepsDoubledSeparator() override { return keepsDoubledSeparator; }
    bool FolderExists(const std::string& path) override { return folders.count(path) > 0; }
    // As on Windows: a drive letter and its root ("C:\", not "C:x"), or a network path.
    bool IsRootedPath(const std::string& path) override {
        return (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
               path.rfind("\\\\", 0) == 0 || (separator == '/' && !path.empty() && path[0] == '/');
    }
    std::optional<std::string> CreateFolder(const std::string& path) override {
        if (createFailure) {
            return createFailure;
        }
        created.push_back(path);
        folders.insert(path);
        return std::nullopt;
    }
};

// One fake machine: members first, then the bundle the core takes.
struct FakeMachine {
    FakeCatalog catalog;
    FakePaths paths;
    FakeNumbers numbers;
    FakeFiles files;
    FakeStorage storage;
    FakeClock clock;
    FakePower power;
    FakeKeepAwake awake;
    platform::Services services{catalog, paths, numbers, files, storage, clock, power, awake};
};

}  // namespace velmaris::fakes

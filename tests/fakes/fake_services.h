// In-memory machine services for core and front-end tests.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/services.h"

namespace velmaris::fakes {

// A disk catalog built from records, with partitions and volumes given per device id.
class FakeCatalog : public platform::DiskCatalog {
  public:
    bool reachable = true;
    std::vector<platform::DiskRecord> disks;
    std::map<std::string, std::vector<std::string>> partitions;  // disk device id -> partitions
    std::map<std::string, std::vector<std::string>> volumes;     // partition id -> volumes
    int diskQueries = 0;

    // Adds a disk with drive number n and one partition holding the given volumes.
    platform::DiskRecord& AddDisk(std::uint32_t n, const std::string& model,
                                  std::optional<std::string> size,
                                  const std::vector<std::string>& volumesOfDisk = {});

    std::optional<std::vector<platform::DiskRecord>> Disks() override;
    std::vector<std::string> PartitionsOf(const std::string& diskDeviceId) override;
    std::vector<std::string> VolumesOf(const std::string& partitionDeviceId) override;
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
};

class FakeNumbers : public platform::NumberFormat {
  public:
    platform::NumberMarks marks;
    platform::NumberMarks UserMarks() override { return marks; }
};

// One fake machine: members first, then the bundle the core takes.
struct FakeMachine {
    FakeCatalog catalog;
    FakePaths paths;
    FakeNumbers numbers;
    platform::Services services{catalog, paths, numbers};
};

}  // namespace velmaris::fakes

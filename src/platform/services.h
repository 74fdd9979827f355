// What the core asks of the machine. Each build supplies these; tests supply fakes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmaris::platform {

// One physical disk as the disk catalog describes it. On Windows the fields are the
// Win32_DiskDrive properties of the same names; other builds fill them alike.
struct DiskRecord {
    std::uint32_t index = 0;               // drive number N
    std::string deviceId;                  // "\\.\PHYSICALDRIVE" followed by N
    std::optional<std::string> model;      // absent when the disk reports none
    std::optional<std::string> mediaType;  // absent (null) when there is no medium
    std::optional<std::string> size;       // capacity in bytes as decimal text, or absent
    std::string pnpDeviceId;
};

// The machine's physical disks and the volumes on them.
class DiskCatalog {
  public:
    virtual ~DiskCatalog() = default;
    // Every disk once, in the catalog's own order; nullopt when the catalog cannot be reached.
    virtual std::optional<std::vector<DiskRecord>> Disks() = 0;
    // Device ids of the partitions of the disk with this device id.
    virtual std::vector<std::string> PartitionsOf(const std::string& diskDeviceId) = 0;
    // Volumes on a partition: drive letters ("C:") on Windows, mount points on Linux.
    virtual std::vector<std::string> VolumesOf(const std::string& partitionDeviceId) = 0;
};

// Where the program and the operating system live.
class SystemPaths {
  public:
    virtual ~SystemPaths() = default;
    // The folder that holds the program's executable.
    virtual std::string ProgramFolder() = 0;
    // The operating system's own folder (the Windows directory, or "/"); nullopt when unknown.
    virtual std::optional<std::string> SystemFolder() = 0;
    // The volume that holds a path, in the form the catalog's volumes take; nullopt if unknown.
    virtual std::optional<std::string> VolumeOf(const std::string& path) = 0;
};

// The user's marks for formatting numbers.
struct NumberMarks {
    char decimal = '.';
    std::string group = ",";  // may be empty or several bytes (UTF-8)
};

class NumberFormat {
  public:
    virtual ~NumberFormat() = default;
    virtual NumberMarks UserMarks() = 0;
};

// Everything the core may ask of the machine, passed in as one bundle.
struct Services {
    DiskCatalog& catalog;
    SystemPaths& paths;
    NumberFormat& numbers;
};

}  // namespace velmaris::platform

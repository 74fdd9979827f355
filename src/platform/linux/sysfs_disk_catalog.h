// The disk catalog of a Linux machine, read from sysfs and the mount table.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/services.h"

namespace velmaris::platform {

// Whole disks from <sysfs>/block. Drive numbers follow the natural order of kernel names
// (loop2 < loop10, sdz < sdaa) at the first listing and stay with their names for the object's
// life; names seen later get the next free numbers. Partition ids are kernel names ("sdb1").
class SysfsDiskCatalog : public DiskCatalog {
  public:
    explicit SysfsDiskCatalog(std::filesystem::path sysfsRoot = "/sys",
                              std::filesystem::path mountInfo = "/proc/self/mountinfo",
                              std::filesystem::path devRoot = "/dev");

    std::optional<std::vector<DiskRecord>> Disks() override;
    std::vector<std::string> PartitionsOf(const std::string& diskDeviceId) override;
    std::vector<std::string> VolumesOf(const std::string& partitionDeviceId) override;
    // Through sysfs from the file system's device number; loop devices through the file
    // the loop driver reports behind them.
    DisksUnder DisksHolding(const std::string& path) override;
    // Every attached loop device whose file is the file at path (same device and inode).
    std::vector<std::string> DrivesBackedBy(const std::string& path) override;

    // The device node of drive number n ("/dev/sdb"), once a listing has named it.
    std::optional<std::string> DevicePathOf(std::uint32_t n) const;

  private:
    DiskRecord RecordOf(const std::string& name, std::uint32_t index) const;
    std::optional<std::string> NameOf(const std::string& diskDeviceId) const;
    std::optional<std::uint64_t> SizeInBytes(const std::string& name) const;

    std::filesystem::path sysfs_;
    std::filesystem::path mountInfo_;
    std::filesystem::path dev_;
    std::map<std::string, std::uint32_t> numbers_;  // kernel name -> drive number
    std::map<std::uint32_t, std::string> names_;    // drive number -> kernel name
};

}  // namespace velmaris::platform

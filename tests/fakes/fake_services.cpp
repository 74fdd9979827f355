#include "fake_services.h"

namespace velmaris::fakes {

platform::DiskRecord& FakeCatalog::AddDisk(std::uint32_t n, const std::string& model,
                                           std::optional<std::string> size,
                                           const std::vector<std::string>& volumesOfDisk) {
    platform::DiskRecord disk;
    disk.index = n;
    disk.deviceId = "\\\\.\\PHYSICALDRIVE" + std::to_string(n);
    disk.model = model;
    disk.mediaType = "Fixed hard disk media";
    disk.size = std::move(size);
    disk.pnpDeviceId = "SCSI\\DISK&VEN_FAKE\\" + std::to_string(n);
    if (!volumesOfDisk.empty()) {
        const std::string partition = "Disk #" + std::to_string(n) + ", Partition #0";
        partitions[disk.deviceId] = {partition};
        volumes[partition] = volumesOfDisk;
    }
    disks.push_back(disk);
    return disks.back();
}

std::optional<std::vector<platform::DiskRecord>> FakeCatalog::Disks() {
    if (!reachable) {
        return std::nullopt;
    }
    return disks;
}

std::vector<std::string> FakeCatalog::PartitionsOf(const std::string& diskDeviceId) {
    const auto it = partitions.find(diskDeviceId);
    return it == partitions.end() ? std::vector<std::string>{} : it->second;
}

std::vector<std::string> FakeCatalog::VolumesOf(const std::string& partitionDeviceId) {
    const auto it = volumes.find(partitionDeviceId);
    return it == volumes.end() ? std::vector<std::string>{} : it->second;
}

}  // namespace velmaris::fakes

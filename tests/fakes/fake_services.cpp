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
    disk.identity = "disk-" + std::to_string(n);
    if (!volumesOfDisk.empty()) {
        const std::string partition = "Disk #" + std::to_string(n) + ", Partition #0";
        partitions[disk.deviceId] = {partition};
        volumes[partition] = volumesOfDisk;
    }
    disks.push_back(disk);
    return disks.back();
}

platform::DisksUnder FakeCatalog::DisksHolding(const std::string& path) {
    if (disksHolding) {
        return *disksHolding;
    }
    if (path.rfind("\\\\", 0) == 0) {
        return {platform::DisksUnder::Kind::NoDisk, {}, {}};
    }
    platform::DisksUnder under{platform::DisksUnder::Kind::Disks, {}, {}};
    for (const platform::DiskRecord& disk : disks) {
        for (const std::string& partition : PartitionsOf(disk.deviceId)) {
            for (const std::string& volume : VolumesOf(partition)) {
                if (AsciiUpper(volume) == AsciiUpper(path.substr(0, 2))) {
                    under.drives.push_back(disk.index);
                }
            }
        }
    }
    return under;
}

}  // namespace velmaris::fakes

#include "discovery/system_drives.h"

#include <algorithm>

#include "discovery/number_text.h"

namespace velmaris::discovery {

namespace {

std::string WithoutPrefix(std::string deviceId) {
    const std::string prefix = kPhysicalDrivePrefix;
    for (size_t at = deviceId.find(prefix); at != std::string::npos;
         at = deviceId.find(prefix, at)) {
        deviceId.erase(at, prefix.size());
    }
    return deviceId;
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

std::vector<std::string> WorkOutSystemDrives(platform::SystemPaths& paths) {
    using Residence = platform::SystemPaths::Residence;
    std::vector<std::string> volumes;
    const auto add = [&volumes](const Residence& residence) {
        std::vector<std::string> found = residence.volumes;
        if (residence.kind == Residence::Kind::Unknown) {
            found = {kUnknownVolume};
        } else if (residence.kind == Residence::Kind::NoDisk) {
            found.clear();
        }
        for (const std::string& volume : found) {
            if (!Contains(volumes, volume)) {
                volumes.push_back(volume);
            }
        }
    };
    add(paths.ResidenceOf(paths.ProgramFolder()));
    const std::optional<std::string> systemFolder = paths.SystemFolder();
    const Residence system = systemFolder ? paths.ResidenceOf(*systemFolder) : Residence{};
    add(system);
    if (system.kind != Residence::Kind::Volumes) {
        for (const std::string& folder : paths.BootMediumFolders()) {
            add(paths.ResidenceOf(folder));
        }
    }
    return volumes;
}

bool SystemDriveNotFound(const std::vector<std::string>& systemDrives,
                         const std::vector<std::string>& systemPhysicalDrives) {
    return !systemDrives.empty() && systemPhysicalDrives.empty();
}

std::optional<std::uint32_t> DriveNumberOf(const std::string& deviceId) {
    const std::optional<std::uint64_t> number = LeadingWholeNumber(WithoutPrefix(deviceId));
    if (!number || *number > UINT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*number);
}

std::vector<std::string> FindSystemDrives(const std::vector<std::string>& systemDrives,
                                          platform::DiskCatalog& catalog,
                                          DriveVolumes& driveLetters) {
    std::vector<std::string> result;
    const auto disks = catalog.Disks();
    if (!disks) {
        return result;
    }
    for (const platform::DiskRecord& disk : *disks) {
        const std::optional<std::uint32_t> n = DriveNumberOf(disk.deviceId);
        if (!n) {
            continue;
        }
        std::vector<std::string>& letters = driveLetters[*n];
        for (const std::string& partition : catalog.PartitionsOf(disk.deviceId)) {
            for (const std::string& volume : catalog.VolumesOf(partition)) {
                if (!Contains(letters, volume)) {
                    letters.push_back(volume);
                }
                for (const std::string& systemDrive : systemDrives) {
                    if (systemDrive == volume) {
                        result.push_back(disk.deviceId);
                    }
                }
            }
        }
    }
    return result;
}

}  // namespace velmaris::discovery

// Which physical drives hold the system's volumes, and the volumes of every drive.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/services.h"

namespace velmaris::discovery {

// Volumes of each physical drive by drive number, in the catalog's order, each once.
using DriveVolumes = std::map<std::uint32_t, std::vector<std::string>>;

inline constexpr char kPhysicalDrivePrefix[] = R"(\\.\PHYSICALDRIVE)";
inline constexpr char kUnknownVolume[] = "Unknown";

inline constexpr char kNoSystemDriveStatus[] =
    "No drives listed: the system drive could not be found";

// The volumes of the program's folder, then the system folder's, each once. A folder on no
// disk adds nothing, one that could not be worked out adds kUnknownVolume. When the system
// folder is not known to lie on a disk, the boot medium's volumes are added: a live system
// runs from it. Empty when the system is known to live on no disk.
std::vector<std::string> WorkOutSystemDrives(platform::SystemPaths& paths);

// Whether the system lives on some disk, yet no drive holding it was found: then no row could
// be told apart as unsafe, and none may be listed.
bool SystemDriveNotFound(const std::vector<std::string>& systemDrives,
                         const std::vector<std::string>& systemPhysicalDrives);

// The drive number a device id names: what follows the physical-drive prefix.
std::optional<std::uint32_t> DriveNumberOf(const std::string& deviceId);

// Device ids of the drives holding a system volume, once for every such volume they hold.
// Fills driveLetters with the volumes of every drive the catalog reports.
std::vector<std::string> FindSystemDrives(const std::vector<std::string>& systemDrives,
                                          platform::DiskCatalog& catalog,
                                          DriveVolumes& driveLetters);

}  // namespace velmaris::discovery

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

// The volume of the program's folder, then the system folder's when it differs.
std::vector<std::string> WorkOutSystemDrives(platform::SystemPaths& paths);

// The drive number a device id names: what follows the physical-drive prefix.
std::optional<std::uint32_t> DriveNumberOf(const std::string& deviceId);

// Device ids of the drives holding a system volume, once for every such volume they hold.
// Fills driveLetters with the volumes of every drive the catalog reports.
std::vector<std::string> FindSystemDrives(const std::vector<std::string>& systemDrives,
                                          platform::DiskCatalog& catalog,
                                          DriveVolumes& driveLetters);

}  // namespace velmaris::discovery

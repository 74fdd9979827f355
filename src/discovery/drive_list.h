// The source-drives list: one row per usable physical drive.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "grid/grid_model.h"
#include "platform/services.h"

namespace velmaris::discovery {

// Columns of a drive row, shared by the source and the selected lists.
enum DriveColumn : int { kColId = 1, kColModel = 2, kColSize = 3, kColPnp = 4, kColSizeBytes = 5 };

// The system-drive mark: dark red behind white text, in the grid's colour form.
inline constexpr std::uint32_t kSystemDriveBackColor = 192;
inline constexpr std::uint32_t kSystemDriveForeColor = 0xFFFFFF;

// Lower-cased, "scsi disk device" removed, upper-cased; nothing trimmed.
std::string CleanModel(const std::string& model);

// Drops what could spoof or break the display: control characters, zero-width and
// bidirectional formatting characters; malformed UTF-8 becomes '?'.
std::string SanitizeForDisplay(const std::string& text);

// Appends the row of one disk to grid, or nothing when the disk is not to be listed.
void AddDriveRow(grid::GridModel& grid, const platform::DiskRecord& disk,
                 const platform::NumberMarks& marks);

// Whether one of the device ids names drive number n.
bool IsSystemDrive(const std::vector<std::string>& systemPhysicalDrives, std::int64_t n);

// Colours every cell of the row, hidden columns included, with the system-drive mark.
void MarkSystemDrive(grid::GridModel& grid, int row);

// What a drive was when it was listed.
struct ListedDrive {
    std::string identity;      // DiskRecord::identity
    std::uint64_t length = 0;  // exact bytes: DiskRecord::length, else its size
};
using ListedDrives = std::map<std::uint32_t, ListedDrive>;

// Fills grid with the catalog's usable disks, marking those named in systemPhysicalDrives
// (none when the system lives on no disk). Returns what every listed drive was.
ListedDrives ListPhysicalDrives(grid::GridModel& grid, platform::DiskCatalog& catalog,
                                const std::vector<std::string>& systemPhysicalDrives,
                                const platform::NumberMarks& marks);

}  // namespace velmaris::discovery

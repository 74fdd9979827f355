// The disk catalog of a Windows machine, from WMI.
#pragma once

#include <oaidl.h>
#include <wbemidl.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/services.h"
#include "platform/windows/com_ptr.h"

namespace velmaris::platform {

// The WQL texts, word for word as the catalog sends them.
std::wstring DiskDrivesQuery();
// Every "\" of the disk's DeviceID is doubled inside the object path.
std::wstring PartitionsQuery(const std::string& diskDeviceId);
// The partition's DeviceID goes in unchanged.
std::wstring LogicalDisksQuery(const std::string& partitionDeviceId);

// WMI property values as the automation layer hands them over. Null and empty values, and
// types that cannot stand for the value, give nullopt.
std::optional<std::string> TextOf(const VARIANT& value);
// Decimal text of a whole number: uint64 arrives as a string, smaller types as numbers.
std::optional<std::string> NumberTextOf(const VARIANT& value);
// uint32 arrives as VT_I4 (its bits), or as any other whole-number type or decimal text.
std::optional<std::uint32_t> UInt32Of(const VARIANT& value);

// Reads a property by name into value as IWbemClassObject::Get does; VT_EMPTY when it fails.
using PropertyReader = std::function<void(const wchar_t* name, VARIANT& value)>;
// A Win32_DiskDrive object's record: DeviceID, Index, Model, MediaType, Size, PNPDeviceID.
// nullopt without a drive number.
std::optional<DiskRecord> DiskRecordOf(const PropertyReader& property);

// The exact length of "\\.\PhysicalDriveN" as the disk reports it (IOCTL_DISK_GET_LENGTH_INFO,
// else the geometry's disk size); nullopt when the disk does not say.
std::optional<std::uint64_t> DiskLength(std::uint32_t n);

// What IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS returned for a volume: the VOLUME_DISK_EXTENTS
// bytes, or the system's error code.
struct VolumeExtents {
    std::vector<std::byte> bytes;
    unsigned long error = 0;
};
// Asks the volume named "\\?\Volume{...}" (no trailing backslash) for its disk extents.
VolumeExtents VolumeDiskExtents(const std::wstring& volume);

// Queries ROOT\CIMV2 with the impersonation level impersonate. COM must be initialised on the
// calling thread (ComApartment); the object is used on that thread only. Every call returns
// what it could read: a disk, partition or volume whose properties cannot be read is left out.
class WmiDiskCatalog : public DiskCatalog {
  public:
    // The query for a volume's disk extents; tests stand in for it where Wine has no answer.
    using ExtentsQuery = std::function<VolumeExtents(const std::wstring& volume)>;
    // The exact length of drive number n; tests stand in for it where Wine has no answer.
    using LengthQuery = std::function<std::optional<std::uint64_t>(std::uint32_t n)>;

    explicit WmiDiskCatalog(ExtentsQuery extentsOf = VolumeDiskExtents,
                            LengthQuery lengthOf = DiskLength);

    // Each disk's identity is read through "\\.\PhysicalDriveN" as Win32Storage reads it, and
    // its exact length beside the Size that counts whole cylinders only.
    std::optional<std::vector<DiskRecord>> Disks() override;
    std::vector<std::string> PartitionsOf(const std::string& diskDeviceId) override;
    std::vector<std::string> VolumesOf(const std::string& partitionDeviceId) override;
    // The volume the path's nearest existing file or folder lies on (through SUBST, mount
    // folders and junctions), then the disks under its extents. A network share has none.
    DisksUnder DisksHolding(const std::string& path) override;
    // Disks whose storage dependency information (an attached VHD or VHDX and its parents)
    // names the file at path: "model (\\.\PHYSICALDRIVEn)".
    std::vector<std::string> DrivesBackedBy(const std::string& path) override;

  private:
    // The objects a query returns; nullopt when WMI or the query failed.
    std::optional<std::vector<ComPtr<IWbemClassObject>>> Query(const std::wstring& wql);
    std::vector<std::string> DeviceIdsOf(const std::wstring& wql);

    ExtentsQuery extentsOf_;
    LengthQuery lengthOf_;
    ComPtr<IWbemServices> services_;  // connected on first use
};

}  // namespace velmaris::platform

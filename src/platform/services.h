// What the core asks of the machine. Each build supplies these; tests supply fakes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
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
    // The exact length in bytes, where the disk itself was asked: Windows' size counts whole
    // cylinders only. Absent when the disk could not be asked; size is exact then on Linux.
    std::optional<std::uint64_t> length;
    std::string pnpDeviceId;
    // What tells this medium from any other that may later answer to the same number
    // (Linux: disk sequence number, WWID or serial, a loop device's backing file; Windows:
    // Plug and Play id and serial number). Empty when nothing could be read.
    std::string identity;
};

// The disks under a file system, as the system says at the moment of asking.
struct DisksUnder {
    enum class Kind {
        Disks,    // drives holds every numbered disk the file system lies on
        NoDisk,   // no block device under it: a network share, a file system in memory
        Unknown,  // block-backed, but its disks could not be worked out; reason says why
    };
    Kind kind = Kind::Unknown;
    std::vector<std::uint32_t> drives;  // drive numbers, as the catalog numbers them
    std::string reason;
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
    // The disks under the file system a path lands on (its nearest existing folder when it
    // is not there yet), worked out now from the system's own identities: through
    // partitions, stacked devices, and the files behind loop devices or virtual disks.
    virtual DisksUnder DisksHolding(const std::string& path) = 0;
    // The attached drives, listed or not, whose backing file is the file at path, compared
    // by file identity; names to show the user. Empty when the path names no such file.
    virtual std::vector<std::string> DrivesBackedBy(const std::string& path) = 0;
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

    // What a path's file system lies on.
    struct Residence {
        enum class Kind {
            Volumes,  // the volumes listed, in the form the catalog's volumes take
            NoDisk,   // no disk: memory (a RAM disk, tmpfs, a live system's overlay), a share
            Unknown,  // could not be worked out
        };
        Kind kind = Kind::Unknown;
        std::vector<std::string> volumes;
    };
    virtual Residence ResidenceOf(const std::string& path) = 0;
    // Where the medium the system started from is mounted, for a system that runs from
    // memory (a live system's medium); empty when there is none.
    virtual std::vector<std::string> BootMediumFolders() = 0;
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

// Folders and files as the user names them: paths are UTF-8 on every build.
class Files {
  public:
    virtual ~Files() = default;
    // The character that separates a path's folders.
    virtual char Separator() = 0;
    // Whether a separator the folder ends with is still followed by one of our own
    // (the Windows build keeps the doubled separator, which its file system reads as one).
    virtual bool KeepsDoubledSeparator() = 0;
    virtual bool FolderExists(const std::string& path) = 0;
    // Whether a folder path is complete enough to write into: rooted, not relative.
    virtual bool IsRootedPath(const std::string& path) = 0;
    // Creates one folder level (its parent must exist): nullopt when done, else the
    // system's reason.
    virtual std::optional<std::string> CreateFolder(const std::string& path) = 0;
};

// What went wrong with a drive or a file, in portable terms; the system's own words go with it.
enum class IoError { None, NotFound, AccessDenied, NoSpace, DeviceGone, Other };

struct IoResult {
    std::size_t bytes = 0;  // bytes read or written
    IoError error = IoError::None;
    std::string message;  // the system's text when error is not None
};

// A physical drive opened read-only. A read delivers the whole request or nothing and moves
// the position only by what it delivered: a request that would run past the end delivers
// nothing (with no error) and does not touch the device; a read that fails before the end
// delivers nothing with an error. Used by one thread at a time.
class RawDrive {
  public:
    virtual ~RawDrive() = default;
    virtual std::uint64_t Length() const = 0;      // bytes, exact
    virtual std::uint32_t SectorSize() const = 0;  // logical sector size in bytes
    virtual IoResult Read(std::byte* buffer, std::size_t size) = 0;
    // Moves the position forward past bytes that cannot be read; false past the end.
    virtual bool Skip(std::size_t size) = 0;
    // The identity of the medium actually opened, in the catalog's DiskRecord::identity form.
    virtual std::string Identity() const = 0;
};

// An image file being written from its start. A write stores the whole buffer or reports an
// error. Used by one thread at a time.
class ImageFile {
  public:
    virtual ~ImageFile() = default;
    virtual IoResult Write(const std::byte* buffer, std::size_t size) = 0;
    // Flushes the file to the disk and closes it; the error when either fails.
    virtual IoResult Finish() = 0;
    // Empty when only its owner may read the file; else why it has the permissions its file
    // system gave it (a share or FAT that refuses or ignores owner-only permissions).
    virtual std::string AccessNote() const = 0;
};

template <typename T>
struct Opened {
    std::unique_ptr<T> handle;  // null when it could not be opened
    IoResult error;
};

enum class PathKind { Missing, RegularFile, Other };

// What one file is to its file system, whatever the path's spelling: two paths with the same
// key reach the same file (through links, mounts, another case where the file system ignores
// case, short names). Without a key, error says why it could not be worked out.
struct FileKey {
    std::optional<std::string> key;
    std::string error;
};

// The largest file a file system can hold, where it sets a limit of its own.
struct FileSizeLimit {
    std::uint64_t largest = 0;  // bytes
    std::string fileSystem;     // its name, as the system gives it ("FAT32", "fuse.fusefat")
};

// Raw drives, image files and the space for them.
class Storage {
  public:
    virtual ~Storage() = default;
    // Opens drive number n, as the disk catalog numbered it, for reading.
    virtual Opened<RawDrive> OpenDrive(std::uint32_t n) = 0;
    // Opens drive n again to verify its image: past the system's cache, so that what is read is
    // what the medium holds now and not what an earlier read left in memory.
    virtual Opened<RawDrive> OpenDriveUncached(std::uint32_t n) = 0;
    // Opens an image file to read it back from its first byte, past the system's cache (where
    // its file system reads only through the cache, after dropping the file's cached pages).
    // Length is the file's size, Identity empty; any request within the length reads whole.
    virtual Opened<RawDrive> OpenImageUncached(const std::string& path) = 0;
    // Creates or truncates an image file, readable by its owner only. Where the file system
    // refuses or ignores that, the file keeps the permissions it was given: see AccessNote.
    virtual Opened<ImageFile> CreateImage(const std::string& path) = 0;
    // What a path names; anything that resolves to a device counts as Other.
    virtual PathKind KindOf(const std::string& path) = 0;
    // The key of the file at path, or of the file a path not yet there would create.
    virtual FileKey KeyOf(const std::string& path) = 0;
    // Free bytes of the volume holding path; nullopt when unknown.
    virtual std::optional<std::uint64_t> FreeBytes(const std::string& path) = 0;
    // The file size limit of the file system a path (or its nearest existing folder) lies on;
    // nullopt when it sets none below what any drive could hold, or cannot be told.
    virtual std::optional<FileSizeLimit> LargestFile(const std::string& path) = 0;
};

// A millisecond counter that wraps around at 2^32, and the local time of day.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::uint32_t Milliseconds() = 0;
    // The local date and time as "YYYY-MM-DD hh:mm:ss".
    virtual std::string LocalTime() = 0;
};

// Schedules and cancels a shutdown of the computer through the system's shutdown program,
// waiting for the program's exit status and calling whileWaiting at least every 20 ms meanwhile
// (the window stays answered). nullopt when the program reported success; otherwise what went
// wrong, in the system's words where it has any.
class Power {
  public:
    virtual ~Power() = default;
    virtual std::optional<std::string> StartShutdown(const std::function<void()>& whileWaiting) = 0;
    virtual std::optional<std::string> AbortShutdown(const std::function<void()>& whileWaiting) = 0;
};

// Keeps the computer from sleeping while held, where the system offers a way; otherwise
// nothing happens and nothing is reported. Hold and Release come in pairs on the window's thread.
class KeepAwake {
  public:
    virtual ~KeepAwake() = default;
    virtual void Hold() = 0;
    virtual void Release() = 0;
};

// Everything the core may ask of the machine, passed in as one bundle.
struct Services {
    DiskCatalog& catalog;
    SystemPaths& paths;
    NumberFormat& numbers;
    Files& files;
    Storage& storage;
    Clock& clock;
    Power& power;
    KeepAwake& awake;
};

}  // namespace velmaris::platform

// Raw drives (regular files standing in for disks), image files, path kinds and keys, free space.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/windows/win32_files.h"
#include "platform/windows/win32_raw_drive.h"
#include "platform/windows/win32_storage.h"
#include "scratch.h"

namespace velmaris::platform {
namespace {

using test::FsPath;
using test::Pattern;
using test::ScratchDir;
using test::Utf8Of;

constexpr std::size_t kBlock = 131072;

// size bytes into a buffer that starts `skew` bytes past an aligned address.
std::string Read(RawDrive& drive, std::size_t size, IoResult& result, std::size_t skew = 0) {
    std::vector<std::byte> buffer(size + 4096 + skew);
    auto* aligned = reinterpret_cast<std::byte*>(
        (reinterpret_cast<std::uintptr_t>(buffer.data()) + 4095) & ~std::uintptr_t{4095});
    result = drive.Read(aligned + skew, size);
    return std::string(reinterpret_cast<const char*>(aligned + skew), result.bytes);
}

// The whole drive as the verification reads it: min(kBlock, what remains) into aligned buffers.
std::string ReadAll(RawDrive& drive, IoResult& result) {
    std::string got;
    while (got.size() < drive.Length()) {
        const std::string piece =
            Read(drive, std::min<std::uint64_t>(kBlock, drive.Length() - got.size()), result);
        if (piece.empty()) {
            break;
        }
        got += piece;
    }
    return got;
}

const std::byte* Bytes(const std::string& text) {
    return reinterpret_cast<const std::byte*>(text.data());
}

Win32Storage StorageOver(std::vector<std::string> paths) {
    return Win32Storage([paths](std::uint32_t n) { return n < paths.size() ? paths[n] : ""; });
}

TEST(RawDrive, ARegularFileKeepsTheReadContractIsKnownByItsFileIdAndMayShrink) {
    ScratchDir tmp;
    const std::string bytes = Pattern(kBlock * 20 + 512 * 3 + 100, 1);  // ends inside a sector
    const std::string file = tmp.Put(Utf8Of(u8"диск.img"), bytes);
    const std::string link = tmp.Path() + "\\link.img";
    std::filesystem::create_hard_link(FsPath(file), FsPath(link));
    auto storage = StorageOver(
        {file, link, tmp.Put("twin.img", bytes), tmp.Path() + "\\none.img", tmp.Path(), ""});

    const auto opened = storage.OpenDrive(0);
    ASSERT_TRUE(opened.handle) << opened.error.message;
    RawDrive& drive = *opened.handle;
    EXPECT_EQ(drive.Length(), bytes.size());
    EXPECT_EQ(drive.SectorSize(), 512u);
    // Blocks until one no longer fits, then sectors, then the odd tail through the sector buffer.
    std::string got;
    IoResult result;
    for (const std::size_t size : {kBlock, std::size_t{512}, std::size_t{100}}) {
        for (std::string piece; !(piece = Read(drive, size, result)).empty();) {
            ASSERT_EQ(result.bytes, size);
            got += piece;
        }
        EXPECT_EQ(result.error, IoError::None) << "past the end: " << result.message;
    }
    EXPECT_TRUE(got == bytes) << "read back differs, " << got.size() << " bytes";
    // Unbuffered, the same file is read in its volume's sectors, to its last byte.
    const auto uncached = storage.OpenDriveUncached(0);
    ASSERT_TRUE(uncached.handle) << uncached.error.message;
    EXPECT_EQ(uncached.handle->Identity(), drive.Identity());
    EXPECT_TRUE(ReadAll(*uncached.handle, result) == bytes) << result.message;

    // Pieces that start and end inside sectors, into buffers at odd addresses, across more
    // than one fill of the sector buffer.
    const auto again = storage.OpenDrive(0);
    ASSERT_TRUE(again.handle);
    std::size_t at = 0;
    const std::pair<std::size_t, std::size_t> pieces[] = {
        {100, 0}, {4096, 3}, {(std::size_t{1} << 21) + 300, 0}, {512, 1}};
    for (const auto& [size, skew] : pieces) {
        EXPECT_TRUE(Read(*again.handle, size, result, skew) == bytes.substr(at, size))
            << "piece of " << size << " at " << at << ": " << result.message;
        at += size;
    }

    // The same file through a hard link is the same drive; a copy of its bytes is not.
    const auto link1 = storage.OpenDrive(1);
    const auto twin = storage.OpenDrive(2);
    ASSERT_TRUE(link1.handle && twin.handle);
    EXPECT_TRUE(drive.Identity().starts_with("file:")) << drive.Identity();
    EXPECT_EQ(link1.handle->Identity(), drive.Identity());
    EXPECT_NE(twin.handle->Identity(), drive.Identity());

    // A missing file, a folder and no path are refused with a reason.
    for (const auto& [n, error] :
         {std::pair{3u, IoError::NotFound}, {4u, IoError::AccessDenied}, {5u, IoError::NotFound}}) {
        const auto refused = storage.OpenDrive(n);
        EXPECT_TRUE(!refused.handle && refused.error.error == error) << n;
        EXPECT_FALSE(refused.error.message.empty()) << n;
    }

    // The file shrinks under the reader: the block that runs into the new end fails whole.
    const auto shrinking = storage.OpenDrive(0);
    ASSERT_TRUE(shrinking.handle);
    Read(*shrinking.handle, kBlock, result);
    std::filesystem::resize_file(FsPath(file), kBlock * 2 + 4096);
    EXPECT_EQ(Read(*shrinking.handle, kBlock, result).size(), kBlock);
    EXPECT_TRUE(Read(*shrinking.handle, kBlock, result).empty());
    EXPECT_EQ(result.error, IoError::DeviceGone) << result.message;
    EXPECT_TRUE(Read(*shrinking.handle, 4096, result) == bytes.substr(kBlock * 2, 4096))
        << "the failed read moved the position";
}

// A disk as Windows presents "\\.\PhysicalDriveN", or a file opened with
// FILE_FLAG_NO_BUFFERING: a read must start and end on sector boundaries into a buffer aligned
// to the sector, else ERROR_INVALID_PARAMETER. Sectors past a disk's present end are not
// found; a file delivers up to its end, and a read from its end fails with ERROR_HANDLE_EOF.
struct FakeDisk {
    std::string bytes;
    std::uint32_t sector = 512;
    std::uint64_t length = 0;  // as the disk reports it now
    bool file = false;
    std::map<std::uint64_t, unsigned long> faults;  // sector -> the error of a read over it
    int refused = 0;
};

class FakeDiskDevice : public DiskDevice {
  public:
    explicit FakeDiskDevice(FakeDisk& disk) : disk_(disk) {}
    unsigned long ReadAt(std::uint64_t offset, std::byte* buffer, std::uint32_t size,
                         std::uint32_t& got) override {
        got = 0;
        if (offset % disk_.sector != 0 || size % disk_.sector != 0 ||
            reinterpret_cast<std::uintptr_t>(buffer) % disk_.sector != 0) {
            ++disk_.refused;
            return ERROR_INVALID_PARAMETER;
        }
        const auto fault = disk_.faults.lower_bound(offset / disk_.sector);
        if (fault != disk_.faults.end() && fault->first * disk_.sector < offset + size) {
            return fault->second;
        }
        if (disk_.file && offset + size > disk_.length) {
            if (offset >= disk_.length) {
                return ERROR_HANDLE_EOF;
            }
            size = static_cast<std::uint32_t>(disk_.length - offset);
        }
        if (offset + size > disk_.length) {
            return ERROR_SECTOR_NOT_FOUND;
        }
        std::memcpy(buffer, disk_.bytes.data() + offset, size);
        got = size;
        return ERROR_SUCCESS;
    }
    std::optional<std::uint64_t> QueryLength() override { return disk_.length; }

  private:
    FakeDisk& disk_;
};

std::unique_ptr<RawDrive> DriveOn(FakeDisk& disk) {
    return MakeWin32RawDrive(std::make_unique<FakeDiskDevice>(disk), disk.bytes.size(), disk.sector,
                             "");
}

TEST(RawDrive, ReadsADiskOrAnUnbufferedFileOnlyAsWindowsAllowsToItsLastByte) {
    for (const auto& [sector, file] :
         {std::pair{512u, false}, {4096u, false}, {512u, true}, {4096u, true}}) {
        // An image's length is a multiple of 512 only.
        const std::string bytes = Pattern(kBlock * 3 + (file ? 512 : sector) * 5, sector);
        FakeDisk disk{bytes, sector, bytes.size(), file, {}, 0};
        const auto drive = DriveOn(disk);
        // The copy's blocks, then its 512-byte sectors, into buffers at odd addresses too; a
        // file as the verification reads it: blocks, then what remains.
        std::string got;
        IoResult result;
        std::size_t skew = 0;
        for (const std::size_t size : {kBlock, file ? disk.bytes.size() % kBlock : 512}) {
            for (std::string piece; !(piece = Read(*drive, size, result, skew)).empty();) {
                got += piece;
                skew = skew == 0 ? 3 : 0;
            }
            EXPECT_EQ(result.error, IoError::None) << sector << ": " << result.message;
        }
        EXPECT_TRUE(got == disk.bytes) << sector << ": " << got.size() << " bytes";
        EXPECT_EQ(disk.refused, 0) << sector << ": a read Windows refuses was sent";
    }
}

TEST(RawDrive, MediaErrorsAreReadAgainAndOnlyAGoneDeviceOrAShorterDiskEndsIt) {
    const auto expect = [](IoError category, bool shrinks,
                           std::initializer_list<unsigned long> errors) {
        for (const unsigned long error : errors) {
            // shrinks: the disk reports a shorter length after it was opened.
            FakeDisk disk{Pattern(kBlock * 2, 7), 512, kBlock * 2, false, {{300, error}}, 0};
            disk.length = shrinks ? kBlock + 512 * 10 : disk.length;
            const auto drive = DriveOn(disk);
            IoResult result;
            EXPECT_EQ(Read(*drive, kBlock, result).size(), kBlock) << error;
            EXPECT_TRUE(Read(*drive, kBlock, result).empty()) << error;
            EXPECT_EQ(result.error, category) << error << ": " << result.message;
            EXPECT_FALSE(result.message.empty()) << error;
            // Nothing was delivered, so the sectors before the fault are read next.
            EXPECT_TRUE(Read(*drive, 512, result) == disk.bytes.substr(kBlock, 512)) << error;
        }
    };
    expect(IoError::Other, false,
           {ERROR_CRC, ERROR_SECTOR_NOT_FOUND, ERROR_SEEK, ERROR_READ_FAULT, ERROR_GEN_FAILURE,
            ERROR_IO_DEVICE, 483 /* ERROR_DEVICE_HARDWARE_ERROR */, ERROR_DISK_OPERATION_FAILED});
    expect(IoError::DeviceGone, true, {ERROR_SECTOR_NOT_FOUND, ERROR_INVALID_PARAMETER});
    expect(IoError::DeviceGone, false,
           {ERROR_DEVICE_NOT_CONNECTED, 433 /* ERROR_NO_SUCH_DEVICE */, ERROR_DEV_NOT_EXIST,
            ERROR_DEVICE_REMOVED, ERROR_NOT_READY, ERROR_NO_MEDIA_IN_DRIVE, ERROR_MEDIA_CHANGED});
}

TEST(ImageFile, IsWrittenWholeUnderALongNonLatinPathAndReplacesAnOlderFile) {
    ScratchDir tmp;
    Win32Files files;
    Win32Storage storage;
    std::string folder = tmp.Path();
    for (const std::string& name : {Utf8Of(u8"Образы 映像 🖴"), std::string(90, 'a'),
                                    std::string(90, 'b'), std::string(90, 'c')}) {
        folder += "\\" + name;
        ASSERT_EQ(files.CreateFolder(folder), std::nullopt) << folder.size();
    }
    ASSERT_TRUE(files.FolderExists(folder));
    const std::string bytes = Pattern((std::size_t{3} << 20) + 512, 3);
    const std::string fresh = folder + "\\" + Utf8Of(u8"образ-001.bin");
    ASSERT_GT(fresh.size(), 300u);
    ASSERT_EQ(storage.KindOf(fresh), PathKind::Missing);
    ASSERT_TRUE(storage.KeyOf(fresh).key && storage.FreeBytes(fresh));
    // An older, longer file is replaced by a shorter image.
    const std::string older = folder + "\\" + Utf8Of(u8"образ-002.bin");
    // The test's own file system calls take the long path in its \\?\ form.
    const auto longForm = [](const std::string& path) {
        return std::filesystem::path(L"\\\\?\\" + FsPath(path).lexically_normal().wstring());
    };
    std::ofstream(longForm(older), std::ios::binary) << bytes << bytes;
    ASSERT_EQ(std::filesystem::file_size(longForm(older)), bytes.size() * 2);

    for (const std::string& image : {fresh, older}) {
        const std::size_t written = image == fresh ? bytes.size() : bytes.size() / 2;
        auto opened = storage.CreateImage(image);
        ASSERT_TRUE(opened.handle) << opened.error.message;
        for (std::size_t at = 0; at < written; at += 1 << 20) {
            const std::size_t size = std::min<std::size_t>(1 << 20, written - at);
            const IoResult r = opened.handle->Write(Bytes(bytes) + at, size);
            ASSERT_TRUE(r.error == IoError::None && r.bytes == size) << r.message;
        }
        const IoResult finished = opened.handle->Finish();
        EXPECT_EQ(finished.error, IoError::None) << finished.message;
        EXPECT_EQ(storage.KindOf(image), PathKind::RegularFile);
        const auto back = storage.OpenImageUncached(image);
        ASSERT_TRUE(back.handle) << back.error.message;
        IoResult result;
        EXPECT_TRUE(ReadAll(*back.handle, result) == bytes.substr(0, written))
            << "differs: " << image << ": " << result.message;
        EXPECT_EQ(back.handle->Identity(), "");
        EXPECT_NE(opened.handle->Write(Bytes(bytes), 1).error, IoError::None)
            << "written after Finish";
    }
    // Listed under the very names they were given.
    std::set<std::wstring> listed;
    WIN32_FIND_DATAW found{};
    const HANDLE list = FindFirstFileW((longForm(folder) / L"*").c_str(), &found);
    for (BOOL more = list != INVALID_HANDLE_VALUE; more; more = FindNextFileW(list, &found)) {
        listed.insert(found.cFileName);
    }
    FindClose(list);
    EXPECT_EQ(listed, (std::set<std::wstring>{L".", L"..", FsPath(fresh).filename().wstring(),
                                              FsPath(older).filename().wstring()}));

    const std::string tooLong = tmp.Path() + "\\" + std::string(300, 'n') + ".bin";
    EXPECT_EQ(storage.KindOf(tooLong), PathKind::Missing);
    const FileKey key = storage.KeyOf(tooLong);
    EXPECT_TRUE(!key.key && key.error.starts_with("The path is too long")) << key.error;
    EXPECT_FALSE(storage.CreateImage(tooLong).handle);
    EXPECT_EQ(storage.OpenImageUncached(tooLong).error.error, IoError::NotFound);
}

// The error SetSecurityInfo gives decides whether the image is kept without its owner-only list.
TEST(ImageFile, IsKeptWithANoteWhereTheShareRefusesAccessLists) {
    ScratchDir tmp;
    for (const unsigned long error : std::initializer_list<unsigned long>{
             ERROR_SUCCESS, ERROR_ACCESS_DENIED, ERROR_NOT_SUPPORTED, ERROR_INVALID_PARAMETER,
             ERROR_NOT_ENOUGH_MEMORY}) {
        const bool kept = error != ERROR_NOT_ENOUGH_MEMORY;
        int calls = 0;
        Win32Storage storage(PhysicalDrivePath, [&](void*, void*) {
            ++calls;
            return error;
        });
        const std::string path = tmp.Path() + "\\" + std::to_string(error) + ".bin";
        auto image = storage.CreateImage(path);
        ASSERT_EQ(calls, 1) << "Wine's volume reports no access lists: nothing was set";
        ASSERT_EQ(image.handle != nullptr, kept) << error << ": " << image.error.message;
        if (!kept) {
            EXPECT_NE(image.error.message.find("could not be made private"), std::string::npos);
            continue;
        }
        const std::string note = image.handle->AccessNote();
        EXPECT_EQ(note.starts_with("the owner-only access list could not be applied ("),
                  error != ERROR_SUCCESS)
            << note;
        EXPECT_EQ(image.handle->Write(Bytes("abc"), 3).bytes, 3u);
        EXPECT_EQ(image.handle->Finish().error, IoError::None);
        EXPECT_EQ(ScratchDir::Read(path), "abc");
    }
}

TEST(Storage, DevicesAndFoldersAreNeverImageFiles) {
    ScratchDir tmp;
    Win32Storage storage;
    const std::string file = tmp.Put("plain.bin", "x");
    EXPECT_EQ(storage.KindOf(file), PathKind::RegularFile);
    EXPECT_EQ(storage.KindOf("\\\\?\\" + file), PathKind::RegularFile) << "long-path form";
    EXPECT_EQ(storage.KindOf(tmp.Path() + "\\no folder\\missing.bin"), PathKind::Missing);
    for (const std::string& device :
         {tmp.Path(), tmp.Path() + "\\", std::string("NUL"), tmp.Path() + "\\nul.txt",
          tmp.Path() + "\\Com1", tmp.Path() + "\\lpt9.bin", tmp.Path() + "\\CON ",
          tmp.Path() + "\\x\\..\\aux", std::string("\\\\.\\PhysicalDrive0"),
          std::string("//./PhysicalDrive0"), std::string("\\\\.\\C:"),
          std::string("\\\\?\\GLOBALROOT\\Device\\Harddisk0\\Partition0"),
          std::string("\\\\?\\PhysicalDrive0"), std::string("\\??\\C:\\x.bin"), std::string("C:"),
          "\\\\.\\" + tmp.Path() + "\\new.img", std::string("C:\\"), std::string(""),
          std::string("a\xC3")}) {
        EXPECT_EQ(storage.KindOf(device), PathKind::Other) << device;
        EXPECT_FALSE(storage.CreateImage(device).handle) << device;
        EXPECT_FALSE(storage.OpenImageUncached(device).handle) << device;
    }
    EXPECT_EQ(std::filesystem::file_size(FsPath(file)), 1u) << "a refused path was written";
}

TEST(Storage, KeysAreEqualExactlyForPathsThatReachTheSameFile) {
    ScratchDir tmp;
    Win32Storage storage;
    const std::string folder = tmp.Path();
    const std::string file = tmp.Put("Image-File-001.bin", "x");
    const std::string link = folder + "\\linked.bin";
    std::filesystem::create_hard_link(FsPath(file), FsPath(link));
    std::string doubled = file;
    doubled.insert(doubled.rfind('\\'), "\\");
    const std::string missing = folder + "\\new\\" + Utf8Of(u8"Образ-é.bin");
    const std::string shortFile = test::ShortPathOf(file);
    ASSERT_NE(shortFile, file) << "no 8.3 name to compare";

    // An existing file by its file id, a path not there yet by its folder's final path and
    // its own names upper-cased letter for letter.
    const std::tuple<std::string, std::string, bool> cases[] = {
        {file, folder + "\\IMAGE-FILE-001.BIN", true},
        {file, doubled, true},
        {file, "\\\\?\\" + file, true},
        {file, shortFile, true},
        {file, link, true},
        {file, tmp.Put("other.bin", "x"), false},
        {missing, folder + "\\NEW\\" + Utf8Of(u8"ОБРАЗ-É.BIN"), true},
        {missing, test::ShortPathOf(folder) + "\\new\\" + Utf8Of(u8"образ-é.bin"), true},
        {missing, folder + "\\\\new\\" + Utf8Of(u8"Образ-é.bin"), true},
        {missing, folder + "\\new\\" + Utf8Of(u8"Образ-e.bin"), false},
        {missing, folder + "\\new2\\" + Utf8Of(u8"Образ-é.bin"), false},
        {folder + Utf8Of(u8"\\straße.bin"), folder + "\\STRASSE.BIN", false},
    };
    for (const auto& [pathA, pathB, same] : cases) {
        const FileKey a = storage.KeyOf(pathA), b = storage.KeyOf(pathB);
        ASSERT_TRUE(a.key && b.key) << pathA << " | " << pathB << ": " << a.error << b.error;
        EXPECT_EQ(*a.key == *b.key, same) << pathA << " -> " << *a.key << "\n"
                                          << pathB << " -> " << *b.key;
    }
    // Nothing can be created below a file, and an empty path or a device names no file.
    for (const std::string& path : {file + "\\x.bin", std::string(), std::string("\\\\.\\C:")}) {
        const FileKey key = storage.KeyOf(path);
        EXPECT_TRUE(!key.key && !key.error.empty()) << path;
    }
}

TEST(Storage, FreeSpaceOfWinesDrivesAndOfPathsNotThereYet) {
    ScratchDir tmp;
    Win32Storage storage;
    const auto free = storage.FreeBytes(tmp.Path());
    ASSERT_TRUE(free && *free > 0);
    // Nearest existing folder: the same volume, give or take what others wrote meanwhile.
    const auto deeper = storage.FreeBytes(tmp.Path() + "\\not\\there\\001.bin");
    ASSERT_TRUE(deeper);
    EXPECT_LT(*deeper > *free ? *deeper - *free : *free - *deeper, std::uint64_t{1} << 30);
    for (const std::string& path : {tmp.Put("file.bin", "x"), std::string("C:\\"),
                                    std::string("C:"), std::string("C:\\no\\such")}) {
        EXPECT_TRUE(storage.FreeBytes(path)) << path;
    }
    // A drive letter nothing is mapped to, and no path.
    for (char letter = 'Q'; letter <= 'Y'; ++letter) {
        const std::string root = std::string(1, letter) + ":\\";
        if (!Win32Files().FolderExists(root)) {
            EXPECT_FALSE(storage.FreeBytes(root + "Images")) << root;
            break;
        }
    }
    EXPECT_FALSE(storage.FreeBytes(""));
}

TEST(Storage, OnlyFatLimitsTheSizeOfAFile) {
    ScratchDir tmp;
    EXPECT_FALSE(Win32Storage().LargestFile(tmp.Path() + "\\new\\001.bin")) << "Wine's drive";
    const std::pair<const wchar_t*, bool> systems[] = {
        {L"FAT", true}, {L"FAT32", true}, {L"exFAT", false}, {L"NTFS", false}, {L"ReFS", false}};
    for (const auto& [name, limited] : systems) {
        const auto limit = FileSizeLimitOf(name);
        EXPECT_EQ(limit ? limit->largest : 0, limited ? 4294967295u : 0u);
    }
}

}  // namespace
}  // namespace velmaris::platform

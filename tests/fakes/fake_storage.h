// In-memory drives and image files that fail on demand, a settable clock, a power switch and a
// keep-awake hold.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/services.h"

namespace velmaris::fakes {

inline std::string AsciiUpper(std::string text) {
    for (char& c : text) {
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    }
    return text;
}

struct FakeDrive {
    std::vector<std::byte> data;
    std::uint32_t sectorSize = 512;
    bool openFails = false;
    std::optional<std::uint64_t> failReadAt;   // a read covering this offset fails
    int failuresBeforeClearing = -1;           // how often it fails; -1: always
    std::set<std::uint64_t> badSectors;        // sectors that never read
    std::optional<std::uint64_t> goneAt;       // from here on the drive is gone
    std::optional<std::uint64_t> shortReadAt;  // a read covering it stops there, short
    std::function<void()> onRead;              // runs before every read, on the reading thread
    std::string identity;                      // what the opened medium says it is
};

struct FakeImage {
    std::vector<std::byte> data;
    bool finished = false;
};

class FakeStorage : public platform::Storage {
  public:
    std::map<std::uint32_t, FakeDrive> drives;
    std::map<std::string, FakeImage> files;  // existing files and the images written
    std::set<std::string> notRegular;        // paths naming a device or a folder
    std::set<std::string> cannotCreate;
    // Created, but on a share that refuses owner-only permissions: the image notes it.
    std::set<std::string> notPrivate;
    std::optional<platform::FileSizeLimit> fileSizeLimit;  // of every path's file system
    // Links and mounts: path -> the path it really names. Other paths compare as Windows
    // compares names: case folded, a doubled separator read as one.
    std::map<std::string, std::string> sameFileAs;
    std::set<std::string> keyFails;                // paths whose identity cannot be worked out
    std::optional<std::uint64_t> capacity;         // bytes all images together may hold
    std::map<std::string, std::uint64_t> roomFor;  // bytes one image may hold
    std::optional<std::string> finishFailure;
    std::function<void(const std::string& path)> onFinish;  // before every Finish, on its thread
    std::optional<std::uint64_t> freeBytes = UINT64_MAX;
    // Runs when a drive is opened again to verify it: the test changes the medium there.
    std::function<void(FakeDrive& drive)> onReopen;
    // Image bytes that read back flipped: a target that silently corrupts what it stores.
    std::map<std::string, std::set<std::uint64_t>> flippedOnReadBack;
    std::vector<std::string> opened;  // drives and images, in the order opened or created
    std::atomic<std::uint64_t> used{0};

    // A drive of the given size whose bytes depend on its number and offset.
    FakeDrive& AddDrive(std::uint32_t n, std::uint64_t size, std::uint32_t sectorSize = 512);

    platform::Opened<platform::RawDrive> OpenDrive(std::uint32_t n) override;
    platform::Opened<platform::RawDrive> OpenDriveUncached(std::uint32_t n) override;
    platform::Opened<platform::RawDrive> OpenImageUncached(const std::string& path) override;
    platform::Opened<platform::ImageFile> CreateImage(const std::string& path) override;
    platform::PathKind KindOf(const std::string& path) override;
    platform::FileKey KeyOf(const std::string& path) override;
    std::optional<std::uint64_t> FreeBytes(const std::string&) override { return freeBytes; }
    std::optional<platform::FileSizeLimit> LargestFile(const std::string&) override {
        return fileSizeLimit;
    }

  private:
    std::map<std::string, FakeDrive> readBack_;  // what each image reads back as
};

class FakeClock : public platform::Clock {
  public:
    std::uint32_t now = 0;
    std::string LocalTime() override { return "2026-12-06 10:00:00"; }
    std::uint32_t Milliseconds() override { return now; }
};

// A shutdown program that takes a moment to answer (the caller's wait runs once) and then
// reports success, or the failure given.
class FakePower : public platform::Power {
  public:
    std::vector<std::string> calls;
    std::optional<std::string> startFailure, abortFailure;
    std::optional<std::string> StartShutdown(const std::function<void()>& whileWaiting) override {
        calls.push_back("shutdown");
        whileWaiting();
        return startFailure;
    }
    std::optional<std::string> AbortShutdown(const std::function<void()>& whileWaiting) override {
        calls.push_back("abort");
        whileWaiting();
        return abortFailure;
    }
};

class FakeKeepAwake : public platform::KeepAwake {
  public:
    std::vector<std::string> calls;
    bool held = false;
    void Hold() override {
        calls.push_back("hold");
        held = true;
    }
    void Release() override {
        calls.push_back("release");
        held = false;
    }
};

}  // namespace velmaris::fakes

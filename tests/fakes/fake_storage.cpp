#include "fake_storage.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <utility>

namespace velmaris::fakes {

namespace {

class FakeRawDrive : public platform::RawDrive {
  public:
    // The medium's identity is read once, at opening, as the real drives read it.
    explicit FakeRawDrive(const FakeDrive& drive)
        : drive_(drive), identity_(drive.identity), failures_(drive.failuresBeforeClearing) {}
    std::uint64_t Length() const override { return drive_.data.size(); }
    std::uint32_t SectorSize() const override { return drive_.sectorSize; }
    std::string Identity() const override { return identity_; }

    bool Skip(std::size_t size) override {
        if (position_ + size > drive_.data.size()) {
            return false;
        }
        position_ += size;
        return true;
    }

    platform::IoResult Read(std::byte* buffer, std::size_t size) override {
        if (drive_.onRead) {
            drive_.onRead();
        }
        if (position_ + size > drive_.data.size()) {
            return {};
        }
        const std::uint64_t end = position_ + size;
        if (drive_.goneAt && end > *drive_.goneAt) {
            return {0, platform::IoError::DeviceGone, "No such device"};
        }
        if (drive_.failReadAt && *drive_.failReadAt >= position_ && *drive_.failReadAt < end &&
            failures_ != 0) {
            --failures_;
            return {0, platform::IoError::Other, "Input/output error"};
        }
        const auto bad = drive_.badSectors.lower_bound(position_ / drive_.sectorSize);
        if (bad != drive_.badSectors.end() && *bad * drive_.sectorSize < end) {
            return {0, platform::IoError::Other, "Input/output error"};
        }
        std::size_t delivered = size;
        if (drive_.shortReadAt && *drive_.shortReadAt > position_ && *drive_.shortReadAt < end) {
            delivered = static_cast<std::size_t>(*drive_.shortReadAt - position_);
        }
        std::memcpy(buffer, drive_.data.data() + position_, delivered);
        position_ += delivered;
        return {delivered, platform::IoError::None, {}};
    }

  private:
    const FakeDrive& drive_;
    std::string identity_;
    int failures_;
    std::uint64_t position_ = 0;
};

class FakeImageFile : public platform::ImageFile {
  public:
    FakeImageFile(FakeImage& image, FakeStorage& storage, std::string path)
        : image_(image), storage_(storage), path_(std::move(path)) {}

    platform::IoResult Write(const std::byte* buffer, std::size_t size) override {
        const auto room = storage_.roomFor.find(path_);
        if (room != storage_.roomFor.end() && image_.data.size() + size > room->second) {
            return {0, platform::IoError::NoSpace, "No space left on device"};
        }
        if (storage_.capacity && storage_.used.fetch_add(size) + size > *storage_.capacity) {
            storage_.used -= size;
            return {0, platform::IoError::NoSpace, "No space left on device"};
        }
        image_.data.insert(image_.data.end(), buffer, buffer + size);
        return {size, platform::IoError::None, {}};
    }

    platform::IoResult Finish() override {
        if (storage_.onFinish) {
            storage_.onFinish(path_);
        }
        if (storage_.finishFailure) {
            return {0, platform::IoError::Other, *storage_.finishFailure};
        }
        image_.finished = true;
        return {};
    }

    std::string AccessNote() const override {
        return storage_.notPrivate.contains(path_)
                   ? "the owner-only access list could not be applied"
                   : "";
    }

  private:
    FakeImage& image_;
    FakeStorage& storage_;
    std::string path_;
};

}  // namespace

FakeDrive& FakeStorage::AddDrive(std::uint32_t n, std::uint64_t size, std::uint32_t sectorSize) {
    FakeDrive& drive = drives[n];
    drive.sectorSize = sectorSize;
    drive.data.resize(size);
    drive.identity = "disk-" + std::to_string(n);
    // Pseudo-random bytes, so that no two sectors of any drive are alike.
    std::mt19937_64 random(n + 1);
    for (std::byte& b : drive.data) {
        b = static_cast<std::byte>(random());
    }
    return drive;
}

platform::Opened<platform::RawDrive> FakeStorage::OpenDrive(std::uint32_t n) {
    opened.push_back("drive " + std::to_string(n));
    const auto it = drives.find(n);
    if (it == drives.end() || it->second.openFails) {
        return {nullptr, {0, platform::IoError::NotFound, "No such device"}};
    }
    return {std::make_unique<FakeRawDrive>(it->second), {}};
}

platform::Opened<platform::RawDrive> FakeStorage::OpenDriveUncached(std::uint32_t n) {
    const auto it = drives.find(n);
    if (it != drives.end() && onReopen) {
        onReopen(it->second);
    }
    platform::Opened<platform::RawDrive> drive = OpenDrive(n);
    opened.back() = "verify drive " + std::to_string(n);
    return drive;
}

platform::Opened<platform::RawDrive> FakeStorage::OpenImageUncached(const std::string& path) {
    opened.push_back("read back " + path);
    const auto it = files.find(path);
    if (it == files.end()) {
        return {nullptr, {0, platform::IoError::NotFound, "No such file or directory"}};
    }
    // What the target hands back: the bytes stored, with the flips it adds on the way.
    FakeDrive& stored = readBack_[path];
    stored = FakeDrive{};
    stored.data = it->second.data;
    for (const std::uint64_t at : flippedOnReadBack[path]) {
        if (at < stored.data.size()) {
            stored.data[at] ^= std::byte{1};
        }
    }
    return {std::make_unique<FakeRawDrive>(stored), {}};
}

platform::Opened<platform::ImageFile> FakeStorage::CreateImage(const std::string& path) {
    opened.push_back("image " + path);
    if (cannotCreate.count(path) > 0 || notRegular.count(path) > 0) {
        return {nullptr, {0, platform::IoError::AccessDenied, "Permission denied"}};
    }
    FakeImage& image = files[path];
    image = FakeImage{};
    return {std::make_unique<FakeImageFile>(image, *this, path), {}};
}

platform::PathKind FakeStorage::KindOf(const std::string& path) {
    if (notRegular.count(path) > 0) {
        return platform::PathKind::Other;
    }
    return files.count(path) > 0 ? platform::PathKind::RegularFile : platform::PathKind::Missing;
}

platform::FileKey FakeStorage::KeyOf(const std::string& path) {
    if (keyFails.count(path) > 0) {
        return {std::nullopt, "Access is denied."};
    }
    const auto alias = sameFileAs.find(path);
    std::string key;
    for (const char c : AsciiUpper(alias == sameFileAs.end() ? path : alias->second)) {
        if (!(c == '\\' && !key.empty() && key.back() == '\\' && key.size() > 1)) {
            key.push_back(c);
        }
    }
    return {key, {}};
}

}  // namespace velmaris::fakes

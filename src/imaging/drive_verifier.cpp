#include "imaging/drive_verifier.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "imaging/run_context.h"

namespace velmaris::imaging {

namespace {

// Bytes of each read past the cache: one request at a time waits out the device's latency each
// time; in 128 KiB requests a file came back from a virtio disk at half its speed in 1 MiB
// (0.94 against 1.9 GB/s). The progress still counts kBlockSize blocks.
constexpr std::size_t kReadSize = 8 * kBlockSize;

}  // namespace

DriveVerifier::DriveVerifier(std::unique_ptr<platform::RawDrive> drive,
                             std::unique_ptr<platform::RawDrive> image, std::uint64_t length,
                             const UnreadableSectors& copied, std::uint32_t sectorSize,
                             VerifyBoard& board)
    : drive_(std::move(drive)),
      image_(std::move(image)),
      length_(length),
      copied_(copied),
      sectorSize_(std::max<std::uint32_t>(sectorSize, 1)),
      board_(board),
      driveLane_(StartHashLane(driveHash_, kReadSize)),
      imageLane_(StartHashLane(imageHash_, kReadSize)),
      driveStream_(*drive_, length, kReadSize, true),
      imageStream_(*image_, length, kReadSize, false),
      thread_([this] { Run(); }) {}

DriveVerifier::~DriveVerifier() {
    Stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

SlotVerification DriveVerifier::Join() {
    thread_.join();
    return std::move(result_);
}

void DriveVerifier::Stop() {
    stop_ = true;
    driveStream_.Stop();
    imageStream_.Stop();
}

void DriveVerifier::Run() {
    std::uint64_t offset = 0;
    while (offset < length_ && !stop_) {
        BlockStream::Block drive = driveStream_.Take();
        BlockStream::Block image = imageStream_.Take();
        if (stop_) {
            break;  // a block cut short by the stop says nothing about the drive
        }
        if (drive.failure.error != platform::IoError::None) {
            result_.failure = "the drive could not be read again: " + drive.failure.message;
            break;
        }
        if (image.failure.error != platform::IoError::None) {
            result_.failure = "the image could not be read back: " + image.failure.message;
            break;
        }
        // In the copy's sectors: a drive opened past the cache may read in larger units.
        const std::uint64_t unit = std::max<std::uint32_t>(drive_->SectorSize(), 1);
        for (const auto& [first, last] : drive.unreadable) {
            for (std::uint64_t sector = first * unit / sectorSize_;
                 sector <= ((last + 1) * unit - 1) / sectorSize_; ++sector) {
                result_.unreadable.Note(sector);
            }
        }
        Compare(drive, image, offset);
        offset += drive.size;
        driveStream_.Give(Hash(driveLane_, driveHash_, drive));
        imageStream_.Give(Hash(imageLane_, imageHash_, image));
        compared_.store(offset, std::memory_order_relaxed);
    }
    driveLane_.reset();  // every block handed over reaches its hash first
    imageLane_.reset();
    const bool whole = offset == length_ && result_.failure.empty();
    if (whole) {
        result_.driveSha256 = platform::Sha256::Hex(driveHash_.Finish());
        result_.imageSha256 = platform::Sha256::Hex(imageHash_.Finish());
    }
    {
        std::lock_guard lock(board_.mutex);
        // A stop leaves the drive unverified; a failure is a result.
        finished_ = whole || !result_.failure.empty();
        result_.finished = finished_;
    }
    board_.finished.notify_all();
}

// Bytes that differ, sector by sector in the copy's sectors, skipping every sector unreadable in
// either read: zeros stand there.
void DriveVerifier::Compare(const BlockStream::Block& drive, const BlockStream::Block& image,
                            std::uint64_t offset) {
    if (std::memcmp(drive.buffer.get(), image.buffer.get(), drive.size) == 0) {
        return;
    }
    for (std::size_t at = 0; at < drive.size; at += sectorSize_) {
        const std::size_t size = std::min<std::size_t>(sectorSize_, drive.size - at);
        const std::uint64_t number = (offset + at) / sectorSize_;
        if (std::memcmp(drive.buffer.get() + at, image.buffer.get() + at, size) == 0 ||
            copied_.Contains(number) || result_.unreadable.Contains(number)) {
            continue;
        }
        for (std::size_t b = at; b < at + size; ++b) {
            if (drive.buffer[b] != image.buffer[b]) {
                ++result_.differingBytes;
                if (result_.firstDifferences.size() < kListedDifferences) {
                    result_.firstDifferences.push_back(offset + b);
                }
            }
        }
    }
}

AlignedBuffer DriveVerifier::Hash(std::unique_ptr<HashLane>& lane, platform::Sha256& hash,
                                  BlockStream::Block& block) {
    if (lane) {
        return lane->Exchange(std::move(block.buffer), block.size);
    }
    hash.Update(block.buffer.get(), block.size);
    return std::move(block.buffer);
}

}  // namespace velmaris::imaging

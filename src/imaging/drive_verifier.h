// One drive's verification: the drive read again and its image read back, each in a stream of
// its own, compared block by block and each hashed, on threads of their own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "imaging/block_stream.h"
#include "imaging/hash_lane.h"
#include "imaging/run_state.h"

namespace velmaris::imaging {

// Where verifiers tell the window's thread that one of them has finished.
class VerifyBoard {
  public:
    std::mutex mutex;
    std::condition_variable finished;
};

class DriveVerifier {
  public:
    // Compares the first length bytes of drive and image; copied are the sectors (of
    // sectorSize bytes, as the copy counted them) the copy could not read, zeros in the image.
    DriveVerifier(std::unique_ptr<platform::RawDrive> drive,
                  std::unique_ptr<platform::RawDrive> image, std::uint64_t length,
                  const UnreadableSectors& copied, std::uint32_t sectorSize, VerifyBoard& board);
    ~DriveVerifier();
    DriveVerifier(const DriveVerifier&) = delete;
    DriveVerifier& operator=(const DriveVerifier&) = delete;

    // Bytes compared so far.
    std::uint64_t Compared() const { return compared_.load(std::memory_order_relaxed); }
    // With the board locked: whether both were read to their ends or one failed for good.
    bool Finished() const { return finished_; }
    // Ends the verification after the block being compared; it does not finish then.
    void Stop();
    // Waits for the verifier's threads to end: what was found, hashes only when both were read
    // whole. Once only.
    SlotVerification Join();

  private:
    void Run();
    void Compare(const BlockStream::Block& drive, const BlockStream::Block& image,
                 std::uint64_t offset);
    AlignedBuffer Hash(std::unique_ptr<HashLane>& lane, platform::Sha256& hash,
                       BlockStream::Block& block);

    std::unique_ptr<platform::RawDrive> drive_, image_;
    std::uint64_t length_;
    const UnreadableSectors& copied_;
    std::uint32_t sectorSize_;
    VerifyBoard& board_;
    platform::Sha256 driveHash_, imageHash_;
    std::unique_ptr<HashLane> driveLane_, imageLane_;
    BlockStream driveStream_, imageStream_;
    SlotVerification result_;
    std::atomic<std::uint64_t> compared_{0};
    std::atomic<bool> stop_{false};
    bool finished_ = false;
    std::thread thread_;
};

}  // namespace velmaris::imaging

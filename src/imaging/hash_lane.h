// A drive's image hashed on a thread of its own: the hash costs more than the copy, so the copy
// hands each written block over and goes on while the hash catches up.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "imaging/aligned_buffer.h"
#include "platform/sha256.h"

namespace velmaris::imaging {

class HashLane {
  public:
    // Hashes into hash, with spare buffers of bufferSize bytes to go round.
    HashLane(platform::Sha256& hash, std::size_t spares, std::size_t bufferSize);
    ~HashLane();
    HashLane(const HashLane&) = delete;
    HashLane& operator=(const HashLane&) = delete;

    // Hands the first size bytes of a written block over, in image order, and returns a buffer
    // for the next one, waiting while every spare is still being hashed.
    AlignedBuffer Exchange(AlignedBuffer written, std::size_t size);
    // Waits until every block handed over is in the hash.
    void Drain();

  private:
    void Run();

    platform::Sha256& hash_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::pair<AlignedBuffer, std::size_t>> pending_;
    std::vector<AlignedBuffer> spares_;
    bool hashing_ = false;
    bool quit_ = false;
    std::thread thread_;
};

// A hash lane with spares enough to even out the reads' bursts, or none when no thread can be
// started: the caller then hashes on its own thread, the same hash, slower.
std::unique_ptr<HashLane> StartHashLane(platform::Sha256& hash, std::size_t bufferSize);

}  // namespace velmaris::imaging

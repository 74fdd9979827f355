#include "imaging/hash_lane.h"

#include <system_error>

namespace velmaris::imaging {

std::unique_ptr<HashLane> StartHashLane(platform::Sha256& hash, std::size_t bufferSize) {
    constexpr std::size_t kSpares = 4;
    try {
        return std::make_unique<HashLane>(hash, kSpares, bufferSize);
    } catch (const std::system_error&) {
        return nullptr;
    }
}

HashLane::HashLane(platform::Sha256& hash, std::size_t spares, std::size_t bufferSize)
    : hash_(hash) {
    for (std::size_t k = 0; k < spares; ++k) {
        spares_.push_back(AllocateAligned(bufferSize));
    }
    thread_ = std::thread([this] { Run(); });
}

HashLane::~HashLane() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

AlignedBuffer HashLane::Exchange(AlignedBuffer written, std::size_t size) {
    std::unique_lock lock(mutex_);
    pending_.emplace_back(std::move(written), size);
    changed_.notify_all();
    changed_.wait(lock, [this] { return !spares_.empty(); });
    AlignedBuffer next = std::move(spares_.back());
    spares_.pop_back();
    return next;
}

void HashLane::Drain() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return pending_.empty() && !hashing_; });
}

void HashLane::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        // Quits only with nothing left: every block handed over reaches the hash.
        changed_.wait(lock, [this] { return quit_ || !pending_.empty(); });
        if (pending_.empty()) {
            return;
        }
        auto [buffer, size] = std::move(pending_.front());
        pending_.pop_front();
        hashing_ = true;
        lock.unlock();
        hash_.Update(buffer.get(), size);
        lock.lock();
        hashing_ = false;
        spares_.push_back(std::move(buffer));
        changed_.notify_all();
    }
}

}  // namespace velmaris::imaging

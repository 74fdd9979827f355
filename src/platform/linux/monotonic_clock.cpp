#include "platform/linux/monotonic_clock.h"

#include <chrono>

namespace velmaris::platform {

std::uint32_t MonotonicClock::Milliseconds() {
    // On Linux the standard library reads steady_clock from CLOCK_MONOTONIC.
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.count()));
}

}  // namespace velmaris::platform

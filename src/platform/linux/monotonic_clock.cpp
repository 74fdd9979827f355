#include "platform/linux/monotonic_clock.h"

#include <time.h>

#include <array>
#include <chrono>
#include <ctime>

namespace velmaris::platform {

std::uint32_t MonotonicClock::Milliseconds() {
    // On Linux the standard library reads steady_clock from CLOCK_MONOTONIC.
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.count()));
}

std::string MonotonicClock::LocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    std::array<char, 32> text{};
    if (localtime_r(&now, &local) == nullptr ||
        std::strftime(text.data(), text.size(), "%Y-%m-%d %H:%M:%S", &local) == 0) {
        return "unknown";
    }
    return text.data();
}

}  // namespace velmaris::platform

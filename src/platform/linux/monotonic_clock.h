// The millisecond counter on Linux.
#pragma once

#include <string>

#include "platform/services.h"

namespace velmaris::platform {

// CLOCK_MONOTONIC in milliseconds, kept to its low 32 bits: it wraps like the Windows counter.
class MonotonicClock : public Clock {
  public:
    std::uint32_t Milliseconds() override;
    std::string LocalTime() override;
};

}  // namespace velmaris::platform

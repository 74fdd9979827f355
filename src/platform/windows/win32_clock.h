// The millisecond counter on Windows.
#pragma once

#include <string>

#include "platform/services.h"

namespace velmaris::platform {

// timeGetTime: milliseconds since Windows started, wrapping at 2^32.
class Win32Clock : public Clock {
  public:
    std::uint32_t Milliseconds() override;
    std::string LocalTime() override;
};

}  // namespace velmaris::platform

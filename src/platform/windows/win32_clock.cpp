#include "platform/windows/win32_clock.h"

#include <windows.h>

#include <mmsystem.h>

namespace velmaris::platform {

std::uint32_t Win32Clock::Milliseconds() {
    return timeGetTime();
}

}  // namespace velmaris::platform

#include "platform/windows/win32_clock.h"

#include <windows.h>

#include <mmsystem.h>

#include <cstdio>

namespace velmaris::platform {

std::uint32_t Win32Clock::Milliseconds() {
    return timeGetTime();
}

std::string Win32Clock::LocalTime() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char text[32] = {};
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", unsigned{now.wYear},
                  unsigned{now.wMonth}, unsigned{now.wDay}, unsigned{now.wHour},
                  unsigned{now.wMinute}, unsigned{now.wSecond});
    return text;
}

}  // namespace velmaris::platform

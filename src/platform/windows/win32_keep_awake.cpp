#include "platform/windows/win32_keep_awake.h"

#include <windows.h>

namespace velmaris::platform {

void Win32KeepAwake::Hold() {
    // Stays in effect until the next call with ES_CONTINUOUS; a failure leaves things as before.
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
}

void Win32KeepAwake::Release() {
    SetThreadExecutionState(ES_CONTINUOUS);
}

}  // namespace velmaris::platform

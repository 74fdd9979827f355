// Keeping the computer awake on Windows.
#pragma once

#include "platform/services.h"

namespace velmaris::platform {

// Tells the system, for the calling thread, that it is in use until released, so that the
// sleep idle timer does not put it to sleep. Held and released on the window's thread.
class Win32KeepAwake : public KeepAwake {
  public:
    void Hold() override;
    void Release() override;
};

}  // namespace velmaris::platform

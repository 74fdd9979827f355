// Keeping the computer awake on Linux: a logind inhibitor lock.
#pragma once

#include "platform/services.h"

namespace velmaris::platform {

// Takes a "block" lock on sleep and idle from org.freedesktop.login1 over the system bus and
// holds it as long as the file descriptor logind handed out stays open. Without a system bus or
// logind, nothing is held and nothing is reported: the run goes on as before.
class LogindKeepAwake : public KeepAwake {
  public:
    LogindKeepAwake() = default;
    LogindKeepAwake(const LogindKeepAwake&) = delete;
    LogindKeepAwake& operator=(const LogindKeepAwake&) = delete;
    ~LogindKeepAwake() override;

    void Hold() override;
    void Release() override;

  private:
    int lock_ = -1;
};

}  // namespace velmaris::platform

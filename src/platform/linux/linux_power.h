// Shutting the computer down on Linux.
#pragma once

#include <string>
#include <vector>

#include "platform/services.h"

namespace velmaris::platform {

// Runs the shutdown program by its full path and does not wait for it. The program and its
// arguments can be replaced, so that a test runs something harmless.
class LinuxPower : public Power {
  public:
    explicit LinuxPower(std::string program = "/sbin/shutdown",
                        std::vector<std::string> startArguments = {"-P", "+1"},
                        std::vector<std::string> abortArguments = {"-c"});

    bool StartShutdown() override;
    bool AbortShutdown() override;

  private:
    bool Launch(const std::vector<std::string>& arguments) const;

    std::string program_;
    std::vector<std::string> startArguments_;
    std::vector<std::string> abortArguments_;
};

}  // namespace velmaris::platform

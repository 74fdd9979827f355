// Shutting the computer down on Linux.
#pragma once

#include <string>
#include <vector>

#include "platform/services.h"

namespace velmaris::platform {

// Runs the shutdown program by its full path and waits for its exit status. The program and
// its arguments can be replaced, so that a test runs something harmless.
class LinuxPower : public Power {
  public:
    explicit LinuxPower(std::string program = "/sbin/shutdown",
                        std::vector<std::string> startArguments = {"-P", "+1"},
                        std::vector<std::string> abortArguments = {"-c"});

    std::optional<std::string> StartShutdown(const std::function<void()>& whileWaiting) override;
    std::optional<std::string> AbortShutdown(const std::function<void()>& whileWaiting) override;

  private:
    std::optional<std::string> Run(const std::vector<std::string>& arguments,
                                   const std::function<void()>& whileWaiting) const;

    std::string program_;
    std::vector<std::string> startArguments_;
    std::vector<std::string> abortArguments_;
};

}  // namespace velmaris::platform

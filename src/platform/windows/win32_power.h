// Shutting the computer down on Windows.
#pragma once

#include <optional>
#include <string>

#include "platform/services.h"

namespace velmaris::platform {

// Runs shutdown.exe from the system directory, by its full path so that no other program of
// that name is found first, and does not wait for it. The program can be replaced, so that a
// test runs something harmless.
class Win32Power : public Power {
  public:
    // Without a program: the system directory's shutdown.exe.
    explicit Win32Power(std::optional<std::string> program = std::nullopt,
                        std::string startArguments = "-s", std::string abortArguments = "-a");

    bool StartShutdown() override;
    bool AbortShutdown() override;

  private:
    bool Launch(const std::string& arguments) const;

    std::optional<std::string> program_;
    std::string startArguments_;
    std::string abortArguments_;
};

}  // namespace velmaris::platform

// Shutting the computer down on Windows.
#pragma once

#include <optional>
#include <string>

#include "platform/services.h"

namespace velmaris::platform {

// Runs shutdown.exe from the system directory, by its full path so that no other program of
// that name is found first, and waits for its exit code. The program can be replaced, so that a
// test runs something harmless.
class Win32Power : public Power {
  public:
    // Without a program: the system directory's shutdown.exe.
    explicit Win32Power(std::optional<std::string> program = std::nullopt,
                        std::string startArguments = "-s", std::string abortArguments = "-a");

    std::optional<std::string> StartShutdown(const std::function<void()>& whileWaiting) override;
    std::optional<std::string> AbortShutdown(const std::function<void()>& whileWaiting) override;

  private:
    std::optional<std::string> Run(const std::string& arguments,
                                   const std::function<void()>& whileWaiting) const;

    std::optional<std::string> program_;
    std::string startArguments_;
    std::string abortArguments_;
};

}  // namespace velmaris::platform

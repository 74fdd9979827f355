#include "platform/linux/linux_power.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>
#include <utility>

namespace velmaris::platform {

namespace {

constexpr auto kPollEvery = std::chrono::milliseconds(10);

// What an exit status says, or nullopt for success.
std::optional<std::string> Outcome(const std::string& program, int status) {
    if (WIFEXITED(status)) {
        if (WEXITSTATUS(status) == 0) {
            return std::nullopt;
        }
        return program + " ended with exit status " + std::to_string(WEXITSTATUS(status)) + ".";
    }
    if (WIFSIGNALED(status)) {
        return program + " was ended by signal " + std::to_string(WTERMSIG(status)) + ".";
    }
    return program + " ended abnormally.";
}

}  // namespace

LinuxPower::LinuxPower(std::string program, std::vector<std::string> startArguments,
                       std::vector<std::string> abortArguments)
    : program_(std::move(program)),
      startArguments_(std::move(startArguments)),
      abortArguments_(std::move(abortArguments)) {}

std::optional<std::string> LinuxPower::StartShutdown(const std::function<void()>& whileWaiting) {
    return Run(startArguments_, whileWaiting);
}

std::optional<std::string> LinuxPower::AbortShutdown(const std::function<void()>& whileWaiting) {
    return Run(abortArguments_, whileWaiting);
}

std::optional<std::string> LinuxPower::Run(const std::vector<std::string>& arguments,
                                           const std::function<void()>& whileWaiting) const {
    std::vector<std::string> words{program_};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    // glibc reports a program that cannot be executed here, not in the child.
    if (const int error =
            ::posix_spawn(&pid, program_.c_str(), nullptr, nullptr, argv.data(), environ);
        error != 0) {
        return program_ + " could not be run: " + std::generic_category().message(error) + ".";
    }
    int status = 0;
    for (;;) {
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid) {
            return Outcome(program_, status);
        }
        if (ended < 0 && errno != EINTR) {
            return program_ +
                   " could not be waited for: " + std::generic_category().message(errno) + ".";
        }
        whileWaiting();
        std::this_thread::sleep_for(kPollEvery);
    }
}

}  // namespace velmaris::platform

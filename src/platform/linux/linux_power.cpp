#include "platform/linux/linux_power.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>
#include <utility>

namespace velmaris::platform {

LinuxPower::LinuxPower(std::string program, std::vector<std::string> startArguments,
                       std::vector<std::string> abortArguments)
    : program_(std::move(program)),
      startArguments_(std::move(startArguments)),
      abortArguments_(std::move(abortArguments)) {}

bool LinuxPower::StartShutdown() {
    return Launch(startArguments_);
}

bool LinuxPower::AbortShutdown() {
    return Launch(abortArguments_);
}

bool LinuxPower::Launch(const std::vector<std::string>& arguments) const {
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
    if (::posix_spawn(&pid, program_.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    try {
        // Reaps the child whenever it ends, so that no zombie is left behind.
        std::thread([pid] {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // The program runs all the same; only its exit status is left unreaped.
    }
    return true;
}

}  // namespace velmaris::platform

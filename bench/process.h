// Child processes of the benchmark: started in their own process group, optionally inside a
// cgroup, and reaped with their resource usage.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmaris::bench {

struct Interrupted : std::runtime_error {
    Interrupted() : std::runtime_error("interrupted") {}
};

// SIGINT and SIGTERM end the current child's process group and make Await throw Interrupted,
// so that the set-up is undone on the way out.
void InstallInterruptHandler();
void ThrowIfInterrupted();

struct SpawnOptions {
    std::string cgroup;  // a cgroup folder to join before the program starts; "" for none
    int stdoutFd = -1;   // -1 keeps the benchmark's own
    int stderrFd = -1;
    bool newGroup = true;  // false keeps the caller's group, so an interrupt reaches both
};

// Writes this process's id into the cgroup's member list.
void JoinCgroup(const std::string& cgroup);

// Starts a program in a new process group; the group gets the interrupt.
pid_t Spawn(const std::vector<std::string>& argv, const SpawnOptions& options = {});
// Forks a child in a new process group that runs body and exits with its result.
template <typename Body>
pid_t Fork(const SpawnOptions& options, Body body);

struct Finished {
    int status = 0;  // as waitpid reports it
    rusage usage{};  // of the child and the children it reaped
    bool Succeeded() const;
};
Finished Await(pid_t pid);

// Runs a program to its end; its standard output, or nullopt when it did not exit with 0.
std::optional<std::string> Output(const std::vector<std::string>& argv);

// Plumbing for Fork.
pid_t ForkChild(const SpawnOptions& options);
[[noreturn]] void ExitChild(int code);

template <typename Body>
pid_t Fork(const SpawnOptions& options, Body body) {
    const pid_t pid = ForkChild(options);
    if (pid == 0) {
        int code = 125;
        try {
            code = body();
        } catch (...) {
        }
        ExitChild(code);
    }
    return pid;
}

}  // namespace velmaris::bench

#include "process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>

namespace velmaris::bench {
namespace {

volatile std::sig_atomic_t interrupted = 0;
volatile pid_t currentGroup = 0;

void OnInterrupt(int) {
    interrupted = 1;
    if (currentGroup > 0) {
        ::kill(-currentGroup, SIGTERM);
    }
}

void DefaultSignals() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

[[noreturn]] void SystemError(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a wait returns at once
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

void ThrowIfInterrupted() {
    if (interrupted) {
        throw Interrupted();
    }
}

void JoinCgroup(const std::string& cgroup) {
    const std::string procs = cgroup + "/cgroup.procs";
    const int fd = ::open(procs.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        SystemError("open " + procs);
    }
    const std::string pid = std::to_string(::getpid());
    const ssize_t n = ::write(fd, pid.data(), pid.size());
    const int error = errno;
    ::close(fd);
    if (n != static_cast<ssize_t>(pid.size())) {
        errno = error;
        SystemError("join " + cgroup);
    }
}

pid_t ForkChild(const SpawnOptions& options) {
    ThrowIfInterrupted();
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        SystemError("fork");
    }
    if (pid == 0) {
        DefaultSignals();
        if (options.newGroup) {
            ::setpgid(0, 0);
        }
        try {
            if (!options.cgroup.empty()) {
                JoinCgroup(options.cgroup);
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "bench: %s\n", e.what());
            ::_exit(126);
        }
        if (options.stdoutFd >= 0 && ::dup2(options.stdoutFd, STDOUT_FILENO) < 0) {
            ::_exit(126);
        }
        if (options.stderrFd >= 0 && ::dup2(options.stderrFd, STDERR_FILENO) < 0) {
            ::_exit(126);
        }
        return 0;
    }
    if (options.newGroup) {
        ::setpgid(pid, pid);  // also here, so that an interrupt right away reaches the group
        currentGroup = pid;
    }
    return pid;
}

void ExitChild(int code) {
    std::fflush(nullptr);
    ::_exit(code);
}

pid_t Spawn(const std::vector<std::string>& argv, const SpawnOptions& options) {
    const pid_t pid = ForkChild(options);
    if (pid == 0) {
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        std::fprintf(stderr, "bench: cannot run %s: %s\n", args[0], std::strerror(errno));
        ::_exit(127);
    }
    return pid;
}

bool Finished::Succeeded() const {
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

Finished Await(pid_t pid) {
    Finished finished;
    while (::wait4(pid, &finished.status, 0, &finished.usage) < 0) {
        if (errno != EINTR) {
            SystemError("wait4");
        }
    }
    if (currentGroup == pid) {
        currentGroup = 0;
    }
    ThrowIfInterrupted();
    return finished;
}

std::optional<std::string> Output(const std::vector<std::string>& argv) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        SystemError("pipe");
    }
    const pid_t pid =
        Spawn(argv, {.cgroup = "", .stdoutFd = fds[1], .stderrFd = -1, .newGroup = true});
    ::close(fds[1]);
    std::string out;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n > 0) {
            out.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(fds[0]);
    if (!Await(pid).Succeeded()) {
        return std::nullopt;
    }
    return out;
}

}  // namespace velmaris::bench

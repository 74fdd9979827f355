#include "contenders.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "process.h"

namespace velmaris::bench {
namespace {

namespace fs = std::filesystem;

double CpuOf(const rusage& usage) {
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::uint64_t BytesOf(const std::vector<Loop>& loops) {
    std::uint64_t bytes = 0;
    for (const Loop& loop : loops) {
        bytes += loop.bytes;
    }
    return bytes;
}

struct Pipe {
    Pipe() {
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            throw std::system_error(errno, std::generic_category(), "pipe");
        }
    }
    ~Pipe() {
        CloseWrite();
        ::close(fds[0]);
    }
    void CloseWrite() {
        if (fds[1] >= 0) {
            ::close(fds[1]);
            fds[1] = -1;
        }
    }
    std::string ReadAll() {
        CloseWrite();
        std::string text;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
            if (n > 0) {
                text.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                return text;
            }
        }
    }
    int fds[2] = {-1, -1};
};

std::string ExitText(const Finished& finished) {
    if (WIFEXITED(finished.status)) {
        return "exit code " + std::to_string(WEXITSTATUS(finished.status));
    }
    return "signal " + std::to_string(WTERMSIG(finished.status));
}

std::string LastLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line, last;
    while (std::getline(in, line)) {
        if (!line.empty()) {
            last = line;
        }
    }
    return last;
}

// A child's report, a "key rest of the line" pair per line.
std::vector<std::pair<std::string, std::string>> ReportFields(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> fields;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string key;
        std::string rest;
        words >> key;
        std::getline(words >> std::ws, rest);
        fields.emplace_back(key, rest);
    }
    return fields;
}

}  // namespace

fs::path ImageOf(const Arena& arena, std::size_t k) {
    char name[32];
    std::snprintf(name, sizeof name, "%03zu.bin", k);
    return arena.images / name;
}

void ClearImages(const Arena& arena) {
    for (const auto& entry : fs::directory_iterator(arena.images)) {
        fs::remove(entry.path());
    }
}

void CheckImages(const Arena& arena, const std::vector<Loop>& loops, Measured& run) {
    for (std::size_t k = 0; k < loops.size() && run.ok; ++k) {
        if (const auto wrong = CompareImage(loops[k].node, ImageOf(arena, k + 1))) {
            run.ok = false;
            run.failure = *wrong;
        }
    }
}

Measured RunEngine(const Arena& arena, const std::vector<Loop>& loops, bool parallel, bool verify) {
    Measured run;
    run.bytes = BytesOf(loops);
    std::vector<std::string> argv{arena.self.string(), "engine", arena.images.string(),
                                  verify ? "verify" : (parallel ? "parallel" : "serial")};
    for (const Loop& loop : loops) {
        argv.push_back(loop.name);
    }
    Pipe report;
    const pid_t pid = Spawn(
        argv,
        {.cgroup = arena.cgroup, .stdoutFd = report.fds[1], .stderrFd = -1, .newGroup = true});
    const std::string text = report.ReadAll();
    const Finished finished = Await(pid);
    run.unwrittenKiB = UnwrittenKiB();
    run.cpuSeconds = CpuOf(finished.usage);
    run.peakKiB = finished.usage.ru_maxrss;

    const std::string expected = verify ? " Verified." : " Done.";
    std::string statusBar, error, notDone;
    for (const auto& [key, rest] : ReportFields(text)) {
        if (key == "seconds") {
            run.seconds = std::stod(rest);
        } else if (key == "pumps") {
            run.pumps = std::stol(rest);
        } else if (key == "gap_ms") {
            run.gapMs = std::stod(rest);
        } else if (key == "gap_at") {
            run.gapAt = std::stol(rest);
        } else if (key == "tail_ms") {
            run.tailMs = std::stod(rest);
        } else if (key == "long_gaps") {
            run.longGaps = std::stol(rest);
        } else if (key == "rss_before_kib") {
            run.startKiB = std::stol(rest);
        } else if (key == "status_bar") {
            statusBar = rest;
        } else if (key == "error") {
            error = rest;
        } else if (key == "verify_seconds") {
            run.verifySeconds = std::stod(rest);
        } else if (key == "verify_cpu_seconds") {
            run.verifyCpuSeconds = std::stod(rest);
        } else if (key == "status" && notDone.empty() &&
                   (rest.size() < expected.size() ||
                    rest.compare(rest.size() - expected.size(), expected.size(), expected) != 0)) {
            notDone = rest;
        }
    }
    if (!finished.Succeeded()) {
        run.failure = "the engine's process ended with " + ExitText(finished) +
                      (error.empty() ? "" : ": " + error);
    } else if (!notDone.empty()) {
        run.failure = "status " + notDone;
    } else if (statusBar != "Process Complete") {
        run.failure = "status bar \"" + statusBar + "\"";
    } else if (verify && !run.verifySeconds) {
        run.failure = "the status bar never read \"Verifying images\"";
    } else {
        run.ok = true;
        CheckImages(arena, loops, run);
    }
    return run;
}

Measured RunTool(const Arena& arena, const std::vector<Loop>& loops, Tool tool) {
    Measured run;
    run.bytes = BytesOf(loops);
    const std::string name = tool == Tool::Dd ? "dd" : "dc3dd";
    Pipe report;
    const pid_t pid =
        Fork({.cgroup = arena.cgroup, .stdoutFd = -1, .stderrFd = -1, .newGroup = true}, [&] {
            ::close(report.fds[0]);
            const auto start = std::chrono::steady_clock::now();
            std::vector<pid_t> pids;
            for (std::size_t k = 0; k < loops.size(); ++k) {
                const fs::path log = arena.logs / (name + std::to_string(k + 1) + ".log");
                const int logFd =
                    ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
                std::vector<std::string> argv{name, "if=" + loops[k].node,
                                              "of=" + ImageOf(arena, k + 1).string()};
                argv.emplace_back(tool == Tool::Dd ? "bs=128K" : "hash=sha256");
                pids.push_back(Spawn(
                    argv, {.cgroup = "", .stdoutFd = logFd, .stderrFd = logFd, .newGroup = false}));
                ::close(logFd);
            }
            long peak = 0;
            std::string failed;
            for (std::size_t k = 0; k < pids.size(); ++k) {
                const Finished finished = Await(pids[k]);
                peak += finished.usage.ru_maxrss;  // they all run at once
                if (!finished.Succeeded() && failed.empty()) {
                    failed = loops[k].name + ": " + name + " ended with " + ExitText(finished) +
                             ": " + LastLine(arena.logs / (name + std::to_string(k + 1) + ".log"));
                }
            }
            const std::chrono::duration<double> exited = std::chrono::steady_clock::now() - start;
            const long unwritten = UnwrittenKiB();
            // Neither tool flushes its image; the engine does, so they are timed until theirs
            // are on the disk too, each fsync on a thread of its own as the engine does it.
            std::vector<int> errors(loops.size());
            std::vector<std::thread> flushes;
            for (std::size_t k = 0; k < loops.size(); ++k) {
                flushes.emplace_back([&arena, &errors, k] {
                    const int fd = ::open(ImageOf(arena, k + 1).c_str(), O_RDONLY | O_CLOEXEC);
                    errors[k] = fd < 0 || ::fsync(fd) != 0 ? errno : 0;
                    if (fd >= 0) {
                        ::close(fd);
                    }
                });
            }
            for (std::size_t k = 0; k < flushes.size(); ++k) {
                flushes[k].join();
                if (errors[k] != 0 && failed.empty()) {
                    failed = "fsync of " + ImageOf(arena, k + 1).string() + ": " +
                             std::generic_category().message(errors[k]);
                }
            }
            const std::chrono::duration<double> onDisk = std::chrono::steady_clock::now() - start;
            ::dprintf(report.fds[1],
                      "seconds %.6f\nexit_seconds %.6f\nunwritten_kib %ld\npeak_kib %ld\n"
                      "failed %s\n",
                      onDisk.count(), exited.count(), unwritten, peak, failed.c_str());
            return 0;
        });
    const std::string text = report.ReadAll();
    const Finished finished = Await(pid);
    run.cpuSeconds = CpuOf(finished.usage);  // the tool's processes, which the runner reaped
    std::string failed;
    for (const auto& [key, rest] : ReportFields(text)) {
        if (key == "seconds") {
            run.seconds = std::stod(rest);
        } else if (key == "exit_seconds") {
            run.exitSeconds = std::stod(rest);
        } else if (key == "unwritten_kib") {
            run.unwrittenKiB = std::stol(rest);
        } else if (key == "peak_kib") {
            run.peakKiB = std::stol(rest);
        } else if (key == "failed") {
            failed = rest;
        }
    }
    if (!finished.Succeeded()) {
        run.failure = "the " + name + " runner ended with " + ExitText(finished);
    } else if (!failed.empty()) {
        run.failure = failed;
    } else {
        run.ok = true;
        CheckImages(arena, loops, run);
    }
    return run;
}

}  // namespace velmaris::bench

#include "contenders.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>
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

Measured RunEngine(const Arena& arena, const std::vector<Loop>& loops, bool parallel) {
    Measured run;
    run.bytes = BytesOf(loops);
    std::vector<std::string> argv{arena.self.string(), "engine", arena.images.string(),
                                  parallel ? "parallel" : "serial"};
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
        } else if (key == "status" && rest.find(" Done.") == std::string::npos && notDone.empty()) {
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
    } else {
        run.ok = true;
        CheckImages(arena, loops, run);
    }
    return run;
}

Measured RunDd(const Arena& arena, const std::vector<Loop>& loops) {
    Measured run;
    run.bytes = BytesOf(loops);
    Pipe report;
    const pid_t pid =
        Fork({.cgroup = arena.cgroup, .stdoutFd = -1, .stderrFd = -1, .newGroup = true}, [&] {
            ::close(report.fds[0]);
            const auto start = std::chrono::steady_clock::now();
            std::vector<pid_t> dds;
            for (std::size_t k = 0; k < loops.size(); ++k) {
                const fs::path log = arena.logs / ("dd" + std::to_string(k + 1) + ".log");
                const int logFd =
                    ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
                dds.push_back(
                    Spawn({"dd", "if=" + loops[k].node, "of=" + ImageOf(arena, k + 1).string(),
                           "bs=128K"},
                          {.cgroup = "", .stdoutFd = -1, .stderrFd = logFd, .newGroup = false}));
                ::close(logFd);
            }
            long peak = 0;
            std::string failed;
            for (std::size_t k = 0; k < dds.size(); ++k) {
                const Finished finished = Await(dds[k]);
                peak += finished.usage.ru_maxrss;  // they all run at once
                if (!finished.Succeeded() && failed.empty()) {
                    failed = loops[k].name + ": dd ended with " + ExitText(finished) + ": " +
                             LastLine(arena.logs / ("dd" + std::to_string(k + 1) + ".log"));
                }
            }
            const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
            const long unwritten = UnwrittenKiB();
            // Not part of dd's time: how much later its images are on the disk.
            const int folder = ::open(arena.images.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (folder >= 0) {
                ::syncfs(folder);
                ::close(folder);
            }
            const std::chrono::duration<double> flushed = std::chrono::steady_clock::now() - start;
            ::dprintf(report.fds[1],
                      "seconds %.6f\nflushed_seconds %.6f\nunwritten_kib %ld\npeak_kib %ld\n"
                      "failed %s\n",
                      seconds.count(), flushed.count(), unwritten, peak, failed.c_str());
            return 0;
        });
    const std::string text = report.ReadAll();
    const Finished finished = Await(pid);
    run.cpuSeconds = CpuOf(finished.usage);  // the dd processes, which the runner reaped
    std::string failed;
    for (const auto& [key, rest] : ReportFields(text)) {
        if (key == "seconds") {
            run.seconds = std::stod(rest);
        } else if (key == "flushed_seconds") {
            run.flushedSeconds = std::stod(rest);
        } else if (key == "unwritten_kib") {
            run.unwrittenKiB = std::stol(rest);
        } else if (key == "peak_kib") {
            run.peakKiB = std::stol(rest);
        } else if (key == "failed") {
            failed = rest;
        }
    }
    if (!finished.Succeeded()) {
        run.failure = "the dd runner ended with " + ExitText(finished);
    } else if (!failed.empty()) {
        run.failure = failed;
    } else {
        run.ok = true;
        CheckImages(arena, loops, run);
    }
    return run;
}

}  // namespace velmaris::bench

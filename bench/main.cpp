// bench/run: the engine against dd on throttled loop devices. See README.md in this folder.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "contenders.h"
#include "engine_child.h"
#include "lab.h"
#include "platform/sha256.h"
#include "process.h"
#include "report.h"

namespace velmaris::bench {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
constexpr std::uint64_t kBlock = 128 * 1024;

struct Options {
    std::vector<int> drives{1, 2, 4, 8};
    std::uint64_t sizeMiB = 256;
    double mbps = 40;  // 10^6 bytes a second per drive
    fs::path target = "/var/tmp/velmaris-bench";
    fs::path sources;  // "" for a tmpfs of the benchmark's own
    int repeat = 3;    // runs of each unthrottled contender, the least CPU time kept
};

constexpr char kUsage[] =
    "usage: bench/run [--drives 1,2,4,8] [--size MIB] [--mbps MB_PER_S] [--target DIR]\n"
    "                 [--sources DIR] [--repeat K]\n"
    "  --drives   the numbers of drives, one table row each (default 1,2,4,8)\n"
    "  --size     MiB of each drive, a multiple of 4 (default 256)\n"
    "  --mbps     read limit of each drive in 10^6 bytes a second (default 40)\n"
    "  --target   folder on the machine's disk for the images (default /var/tmp/velmaris-bench)\n"
    "  --sources  folder for the drives' backing files (default: a tmpfs of the benchmark's)\n"
    "  --repeat   runs of each unthrottled contender, least CPU time shown (default 3)\n"
    "Needs root, cgroup v1 blkio, losetup and dd.\n";

[[noreturn]] void Usage(const std::string& problem) {
    std::fprintf(stderr, "bench: %s\n%s", problem.c_str(), kUsage);
    std::exit(2);
}

Options Parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (const auto eq = arg.find('='); eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            Usage(arg + " needs a value");
        }
        try {
            if (arg == "--drives") {
                options.drives.clear();
                std::istringstream list(value);
                for (std::string n; std::getline(list, n, ',');) {
                    options.drives.push_back(std::stoi(n));
                    if (options.drives.back() < 1 || options.drives.back() > 64) {
                        Usage("drive counts go from 1 to 64");
                    }
                }
            } else if (arg == "--size") {
                options.sizeMiB = std::stoull(value);
                if (options.sizeMiB < 4 || options.sizeMiB % 4 != 0) {
                    Usage("--size must be a multiple of 4 MiB");
                }
            } else if (arg == "--mbps") {
                options.mbps = std::stod(value);
                if (options.mbps <= 0) {
                    Usage("--mbps must be positive");
                }
            } else if (arg == "--target") {
                options.target = value;
            } else if (arg == "--repeat") {
                options.repeat = std::stoi(value);
                if (options.repeat < 1) {
                    Usage("--repeat must be at least 1");
                }
            } else if (arg == "--sources") {
                options.sources = value;
            } else {
                Usage("unknown option " + arg);
            }
        } catch (const std::logic_error&) {
            Usage("bad value for " + arg + ": " + value);
        }
    }
    if (options.drives.empty()) {
        Usage("no drive counts");
    }
    return options;
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

void Progress(const std::string& what, const Measured& run) {
    if (run.ok) {
        std::string gap;
        if (run.gapMs) {
            gap = "  gap " + Fixed(*run.gapMs, 1) + " ms after pump " + std::to_string(run.gapAt) +
                  "/" + std::to_string(run.pumps) + ", " + std::to_string(run.longGaps) +
                  " >= 100 ms, closing " + Fixed(run.tailMs, 1) + " ms";
        }
        std::fprintf(stderr, "  %-32s %8.1f MB/s %7.2f s  cpu %6.2f s  rss %6.1f MiB%s\n",
                     what.c_str(), run.MBps(), run.seconds, run.cpuSeconds,
                     static_cast<double>(run.peakKiB) / 1024.0, gap.c_str());
    } else {
        std::fprintf(stderr, "  %-32s FAILED: %s\n", what.c_str(), run.failure.c_str());
    }
}

// CPU seconds per GiB of the engine's SHA-256 on this machine: 1 GiB of 128 KiB blocks.
double HashCpuPerGiB() {
    std::vector<std::byte> block(131072);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::byte>(i * 2654435761u >> 24);
    }
    platform::Sha256 sha;
    const std::clock_t start = std::clock();
    for (int k = 0; k < 8192; ++k) {
        sha.Update(block.data(), block.size());
    }
    const std::clock_t used = std::clock() - start;
    return static_cast<double>(used) / CLOCKS_PER_SEC;
}

// Empties the cache, or for an unthrottled run fills it with the drives' contents.
void Prepare(const Arena& arena, const std::vector<Loop>& loops, bool warm) {
    ClearImages(arena);
    DropCaches();
    if (warm) {
        for (const Loop& loop : loops) {
            ReadThrough(loop.node);
        }
    }
}

// Runs one contender times times, each on a fresh cache; the run of least CPU time.
template <typename Contender>
Measured Measure(const Arena& arena, const std::vector<Loop>& loops, bool warm, int times,
                 const std::string& label, Contender contender) {
    std::vector<Measured> runs;
    for (int k = 0; k < times; ++k) {
        Prepare(arena, loops, warm);
        runs.push_back(contender());
        Progress(label, runs.back());
    }
    return Least(std::move(runs));
}

Row RunRow(const Arena& arena, const std::vector<Loop>& all, int drives, bool warm, int times) {
    const std::vector<Loop> loops(all.begin(), all.begin() + drives);
    const std::string label = "N=" + std::to_string(drives) + (warm ? " cached " : " ");
    Row row;
    row.drives = drives;
    row.engine = Measure(arena, loops, warm, times, label + "(a) engine",
                         [&] { return RunEngine(arena, loops, true); });
    row.dd =
        Measure(arena, loops, warm, times, label + "(b) dd", [&] { return RunDd(arena, loops); });
    row.serial = Measure(arena, loops, warm, times, label + "(c) engine, serial",
                         [&] { return RunEngine(arena, loops, false); });
    ClearImages(arena);
    return row;
}

int Main(const Options& options) {
    if (::geteuid() != 0) {
        std::fprintf(stderr, "bench: needs root (loop devices, cgroups, drop_caches)\n");
        return 2;
    }
    InstallInterruptHandler();
    const int maxDrives = *std::max_element(options.drives.begin(), options.drives.end());
    const std::uint64_t driveBytes = options.sizeMiB * kMiB;
    const auto bps = static_cast<std::uint64_t>(options.mbps * 1e6);

    Lab lab;
    if (!fs::exists(options.target)) {
        lab.Folder(options.target);  // ours, so it goes at the end
    }
    if (OnTmpfs(options.target)) {
        std::fprintf(stderr, "bench: %s is on a tmpfs; give a folder on a disk with --target\n",
                     options.target.c_str());
        return 2;
    }
    const fs::path work = lab.Folder(options.target / ("run." + std::to_string(::getpid())));
    Arena arena;
    arena.self = fs::read_symlink("/proc/self/exe");
    arena.images = lab.Folder(work / "images");
    arena.logs = lab.Folder(work / "logs");
    const fs::path sources =
        options.sources.empty()
            ? lab.Tmpfs(work / "sources",
                        driveBytes * static_cast<std::uint64_t>(maxDrives) + 16 * kMiB)
            : lab.Folder(options.sources / ("velmaris-bench." + std::to_string(::getpid())));

    std::fprintf(stderr, "writing %d drives of %llu MiB of random bytes\n", maxDrives,
                 static_cast<unsigned long long>(options.sizeMiB));
    std::vector<Loop> loops;
    for (int k = 1; k <= maxDrives; ++k) {
        const fs::path file = sources / ("drive" + std::to_string(k) + ".img");
        WriteRandomFile(file, driveBytes, static_cast<std::uint64_t>(k) * 0x1234567);
        loops.push_back(lab.Attach(file));
        ThrowIfInterrupted();
    }
    const std::string group =
        lab.ThrottleGroup("velmaris-bench." + std::to_string(::getpid()), loops, bps);

    // The best of three: a disk shared with other work is only ever slowed by it.
    const std::uint64_t probeBytes = std::clamp<std::uint64_t>(
        driveBytes * static_cast<std::uint64_t>(maxDrives) / 2, 128 * kMiB, 512 * kMiB);
    std::fprintf(stderr, "measuring the target's write speed\n");
    double writeBps = 0;
    for (int k = 0; k < 3; ++k) {
        writeBps = std::max(writeBps, WriteSpeed(arena.images, probeBytes));
    }
    const Limits limits{static_cast<double>(bps), writeBps};

    std::string sourcesText = options.sources.empty() ? "a tmpfs" : options.sources.string();
    std::ostringstream head;
    head << "machine: " << MachineLine(options.target) << "\n"
         << "drives: loop devices over " << options.sizeMiB << " MiB files of random bytes on "
         << sourcesText << "; target write speed " << Fixed(limits.writeBps / 1e6, 1) << " MB/s ("
         << "best of 3 x " << probeBytes / kMiB << " MiB, one stream, fsync)\n";
    std::fputs(head.str().c_str(), stderr);

    std::vector<Row> throttled;
    arena.cgroup = group;
    std::fprintf(stderr, "throttled, %s MB/s a drive, page cache dropped before each run\n",
                 Fixed(options.mbps, 1).c_str());
    for (const int drives : options.drives) {
        throttled.push_back(RunRow(arena, loops, drives, false, 1));
    }

    std::vector<Row> cached;
    arena.cgroup.clear();
    std::fprintf(stderr, "unthrottled, drives read into the page cache before each run\n");
    for (const int drives : options.drives) {
        cached.push_back(RunRow(arena, loops, drives, true, options.repeat));
    }

    // The same engine run on drives a quarter the size: memory must not follow the size.
    MemoryProbe memory{options.sizeMiB / 4, options.sizeMiB, {}, {}};
    for (const Row& row : cached) {
        if (row.drives == maxDrives) {
            memory.full = row.engine;
        }
    }
    std::vector<Loop> small;
    for (int k = 1; k <= maxDrives; ++k) {
        small.push_back(
            lab.Attach(sources / ("drive" + std::to_string(k) + ".img"), driveBytes / 4));
    }
    Prepare(arena, small, true);
    memory.small = RunEngine(arena, small, true);
    Progress("N=" + std::to_string(maxDrives) + " cached (a), quarter size", memory.small);
    ClearImages(arena);

    std::ostringstream out;
    out << head.str() << "\n"
        << "Throttled: each drive read at most " << Fixed(options.mbps, 1)
        << " MB/s (cgroup v1 blkio), page cache dropped before each run. MB = 10^6 bytes.\n\n"
        << ThrottledTable(throttled, limits) << FlushedLine(throttled) << "\n"
        << "Unthrottled: sources in the page cache, the engine's own cost; of " << options.repeat
        << " runs each, the one of least CPU time.\n\n"
        << UnthrottledTable(cached) << HashLine(HashCpuPerGiB(), cached) << "\n"
        << TargetLines(throttled, cached, limits, memory)
        << WorstLine(WorstRatios(throttled, limits)) << "\n";
    std::fputs(out.str().c_str(), stdout);

    bool allOk = memory.small.ok;
    for (const auto* rows : {&throttled, &cached}) {
        for (const Row& row : *rows) {
            allOk = allOk && row.engine.ok && row.dd.ok && row.serial.ok;
        }
    }
    return allOk ? 0 : 1;
}

}  // namespace
}  // namespace velmaris::bench

int main(int argc, char** argv) {
    using namespace velmaris::bench;
    if (argc >= 4 && std::strcmp(argv[1], "engine") == 0) {
        return EngineChild(argv[2], std::strcmp(argv[3], "parallel") == 0,
                           std::vector<std::string>(argv + 4, argv + argc));
    }
    try {
        return Main(Parse(argc, argv));
    } catch (const Interrupted&) {
        std::fprintf(stderr, "bench: interrupted; set-up undone\n");
        return 130;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench: %s\n", e.what());
        return 1;
    }
}

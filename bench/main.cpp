// bench/run: the engine against dd and dc3dd on throttled and on cached loop devices. See
// README.md in this folder.
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

struct Options {
    std::vector<int> drives{1, 2, 4, 8};
    std::uint64_t sizeMiB = 256;
    double mbps = 40;  // 10^6 bytes a second per drive
    fs::path target = "/var/tmp/velmaris-bench";
    fs::path sources;             // "" for a tmpfs of the benchmark's own
    int repeat = 2;               // runs of each unthrottled contender, the least CPU time kept
    std::uint64_t cachedMiB = 0;  // all drives of an unthrottled row together; 0 for the default
};

// How long an unthrottled run should last at the machine's highest bound: at least 3 s, with
// room for the bound being a little low.
constexpr double kCachedSeconds = 3.5;
// Each unthrottled drive is a multiple of this, so that a quarter of it is whole blocks.
constexpr std::uint64_t kCachedGrain = 16 * kMiB;

constexpr char kUsage[] =
    "usage: bench/run [--drives 1,2,4,8] [--size MIB] [--mbps MB_PER_S] [--target DIR]\n"
    "                 [--sources DIR] [--repeat K] [--cached-size MIB]\n"
    "  --drives   the numbers of drives, one table row each (default 1,2,4,8)\n"
    "  --size     MiB of each drive, a multiple of 4 (default 256)\n"
    "  --mbps     read limit of each drive in 10^6 bytes a second (default 40)\n"
    "  --target   folder on the machine's disk for the images (default /var/tmp/velmaris-bench)\n"
    "  --sources  folder for the drives' backing files (default: a tmpfs of the benchmark's)\n"
    "  --repeat   runs of each unthrottled contender, least CPU time shown (default 2)\n"
    "  --cached-size  MiB of all the drives of an unthrottled row together, shared among them\n"
    "             (default: 3.5 s at the fastest the machine could copy and hash, as memory\n"
    "             allows)\n"
    "Needs root, cgroup v1 blkio, losetup, dd and dc3dd.\n";

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
            } else if (arg == "--cached-size") {
                options.cachedMiB = std::stoull(value);
                if (options.cachedMiB < 16) {
                    Usage("--cached-size must be at least 16 MiB");
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
        if (run.verifySeconds) {
            gap += "\n  " + std::string(32, ' ') + " verifying " + Fixed(run.VerifyMBps(), 1) +
                   " MB/s " + Fixed(*run.verifySeconds, 2) + " s  cpu " +
                   Fixed(run.verifyCpuSeconds, 2) + " s";
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

// Empties the cache, or for an unthrottled run writes it out and fills it with the drives'
// contents (the engine drops a drive's pages as it reads them).
void Prepare(const Arena& arena, const std::vector<Loop>& loops, bool warm) {
    ClearImages(arena);
    if (!warm) {
        DropCaches();
        return;
    }
    ::sync();
    for (const Loop& loop : loops) {
        ReadThrough(loop.node);
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

// A row of the four contenders, and with verify the engine once more with its verification.
Row RunRow(const Arena& arena, const std::vector<Loop>& all, int drives, bool warm, int times,
           bool verify) {
    const std::vector<Loop> loops(all.begin(), all.begin() + drives);
    const std::string label = "N=" + std::to_string(drives) + (warm ? " cached " : " ");
    Row row;
    row.drives = drives;
    row.engine = Measure(arena, loops, warm, times, label + "(a) engine",
                         [&] { return RunEngine(arena, loops, true); });
    row.dd = Measure(arena, loops, warm, times, label + "(b) dd",
                     [&] { return RunTool(arena, loops, Tool::Dd); });
    row.serial = Measure(arena, loops, warm, times, label + "(c) engine, serial",
                         [&] { return RunEngine(arena, loops, false); });
    row.dc3dd = Measure(arena, loops, warm, times, label + "(d) dc3dd",
                        [&] { return RunTool(arena, loops, Tool::Dc3dd); });
    if (verify) {
        row.verify = Measure(arena, loops, warm, times, label + "(a) engine, verifying",
                             [&] { return RunEngine(arena, loops, true, true); });
    }
    ClearImages(arena);
    return row;
}

// The size of all the drives of an unthrottled row together: kCachedSeconds at the highest the
// machine could copy and hash (its other bounds are known only after dd's runs), within what
// memory holds twice over (the drives' files and their devices' page cache) with 2 GiB to spare.
std::uint64_t CachedBytes(const Options& options, const Machine& machine) {
    const std::uint64_t room = AvailableKiB() * 1024;
    const std::uint64_t fits = room > 2048 * kMiB ? (room - 2048 * kMiB) / 2 : 0;
    if (options.cachedMiB != 0) {
        if (options.cachedMiB * kMiB > fits) {
            throw std::runtime_error("--cached-size " + std::to_string(options.cachedMiB) +
                                     " MiB needs twice that and 2 GiB more of free memory");
        }
        return options.cachedMiB * kMiB;
    }
    const double hashing = machine.cores * 1024.0 * 1024.0 * 1024.0 / machine.shaCpuPerGiB;
    const auto wanted =
        static_cast<std::uint64_t>(kCachedSeconds * std::min(machine.writeBps, hashing));
    if (wanted > fits) {
        std::fprintf(stderr, "bench: memory holds unthrottled rows of %llu MiB, not %llu\n",
                     static_cast<unsigned long long>(fits / kMiB),
                     static_cast<unsigned long long>(wanted / kMiB));
    }
    return std::max<std::uint64_t>(std::min(wanted, fits), kCachedGrain);
}

// Each drive of an unthrottled row of N: an equal share of the row's bytes, in whole grains.
std::uint64_t CachedDriveBytes(std::uint64_t rowBytes, int drives) {
    const std::uint64_t share = rowBytes / static_cast<std::uint64_t>(drives);
    return std::max<std::uint64_t>((share + kCachedGrain - 1) / kCachedGrain, 1) * kCachedGrain;
}

// The file the unthrottled rows' drives share: as large as the largest row.
std::uint64_t CachedFileBytes(std::uint64_t rowBytes, const std::vector<int>& counts) {
    std::uint64_t bytes = 0;
    for (const int drives : counts) {
        bytes = std::max(bytes,
                         CachedDriveBytes(rowBytes, drives) * static_cast<std::uint64_t>(drives));
    }
    return bytes;
}

// The unthrottled rows: drive k of a row of N is the k-th share of one file of random bytes,
// read through a loop device of its own, so that every row copies about the same bytes.
std::vector<Row> CachedRows(Lab& lab, const Arena& arena, const Options& options,
                            const fs::path& folder, std::uint64_t rowBytes, Machine& machine,
                            MemoryProbe& memory) {
    const int maxDrives = *std::max_element(options.drives.begin(), options.drives.end());
    const std::uint64_t fileBytes = CachedFileBytes(rowBytes, options.drives);
    const fs::path file = folder / "cached.img";
    std::fprintf(stderr, "writing %llu MiB of random bytes for the unthrottled rows\n",
                 static_cast<unsigned long long>(fileBytes / kMiB));
    WriteRandomFile(file, fileBytes, 0xCAC4ED);

    std::fprintf(stderr, "measuring one reader of a cached drive, buffered and O_DIRECT\n");
    // The best of three.
    const Loop probe = lab.Attach(file, std::min<std::uint64_t>(fileBytes, 1024 * kMiB));
    for (int k = 0; k < 3; ++k) {
        machine.readBps = std::max(machine.readBps, CachedReadSpeed(probe.node));
        machine.directReadBps = std::max(machine.directReadBps, DirectDeviceReadSpeed(probe.node));
    }
    lab.Detach(probe);

    // N drives of size bytes, the first limit bytes of each.
    const auto attach = [&lab, &file](int drives, std::uint64_t size, std::uint64_t limit) {
        std::vector<Loop> loops;
        loops.reserve(static_cast<std::size_t>(drives));
        for (int k = 0; k < drives; ++k) {
            loops.push_back(lab.Attach(file, limit, size * static_cast<std::uint64_t>(k)));
        }
        return loops;
    };
    std::vector<Row> rows;
    for (const int drives : options.drives) {
        const std::uint64_t size = CachedDriveBytes(rowBytes, drives);
        std::vector<Loop> loops = attach(drives, size, size);
        rows.push_back(RunRow(arena, loops, drives, true, options.repeat, true));
        if (drives == maxDrives) {
            // The same engine run on drives a quarter the size: memory must not follow the size.
            const std::vector<Loop> small = attach(drives, size, size / 4);
            memory = {size / 4 / kMiB, size / kMiB, {}, rows.back().engine};
            Prepare(arena, small, true);
            memory.small = RunEngine(arena, small, true);
            Progress("N=" + std::to_string(drives) + " cached (a), quarter size", memory.small);
            ClearImages(arena);
            loops.insert(loops.end(), small.begin(), small.end());
        }
        for (const Loop& loop : loops) {
            lab.Detach(loop);
        }
    }
    fs::remove(file);
    return rows;
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
    std::fprintf(stderr, "measuring the target's write and read speeds and SHA-256's\n");
    Machine machine;
    machine.cores = static_cast<int>(::sysconf(_SC_NPROCESSORS_ONLN));
    for (int k = 0; k < 3; ++k) {
        machine.writeBps = std::max(machine.writeBps, WriteSpeed(arena.images, probeBytes));
    }
    machine.targetReadBps = DirectReadSpeed(arena.images, probeBytes);
    machine.shaCpuPerGiB = HashCpuPerGiB();
    const Limits limits{static_cast<double>(bps), machine.writeBps};

    std::string sourcesText = options.sources.empty() ? "a tmpfs" : options.sources.string();
    std::ostringstream head;
    head << "machine: " << MachineLine(options.target) << "\n"
         << "drives: loop devices over files of random bytes on " << sourcesText
         << "; target write speed " << Fixed(machine.writeBps / 1e6, 1) << " MB/s ("
         << "best of 3 x " << probeBytes / kMiB << " MiB, one stream, fsync), read speed "
         << Fixed(machine.targetReadBps / 1e6, 1) << " MB/s (best of 3, one stream, O_DIRECT)\n";
    std::fputs(head.str().c_str(), stderr);

    std::vector<Row> throttled;
    arena.cgroup = group;
    std::fprintf(stderr, "throttled, %s MB/s a drive, page cache dropped before each run\n",
                 Fixed(options.mbps, 1).c_str());
    for (const int drives : options.drives) {
        throttled.push_back(RunRow(arena, loops, drives, false, 1, true));
    }

    arena.cgroup.clear();
    const std::uint64_t rowBytes = CachedBytes(options, machine);
    const fs::path cachedFolder =
        options.sources.empty()
            ? lab.Tmpfs(work / "cached", CachedFileBytes(rowBytes, options.drives) + 16 * kMiB)
            : sources;
    std::fprintf(stderr, "unthrottled, drives read into the page cache before each run\n");
    MemoryProbe memory;
    std::vector<Row> cached =
        CachedRows(lab, arena, options, cachedFolder, rowBytes, machine, memory);

    std::ostringstream out;
    out << head.str() << "\n"
        << "Throttled: " << options.sizeMiB << " MiB drives, each read at most "
        << Fixed(options.mbps, 1)
        << " MB/s (cgroup v1 blkio), page cache dropped before each run. MB = 10^6 bytes; "
           "MB/s until the images are on the disk.\n\n"
        << ThrottledTable(throttled, limits) << "\n"
        << "Verification: the engine (a) again with \"Verify images after imaging\" ticked, on "
           "the same throttled drives; MB/s is N x the drive's bytes over the time from the "
           "status bar's \"Verifying images\" to the click's return, CPU s/GiB the engine's "
           "process in that time; every row must read \"Verified.\".\n\n"
        << VerifyTable(throttled, limits.driveBps, "one drive's uncached read (the throttle)",
                       machine)
        << "\n"
        << "Unthrottled: drives sharing " << rowBytes / kMiB
        << " MiB in each row, in the page cache; of " << options.repeat
        << " runs each, the one of least CPU time.\n\n"
        << UnthrottledTable(cached, machine) << LimitLines(cached, machine)
        << HashLine(machine.shaCpuPerGiB, cached) << DurationLine(cached) << "\n"
        << "Verification, unthrottled: the engine (a) again with \"Verify images after "
           "imaging\" ticked, on the same cached drives, timed as above; the drives are read "
           "with O_DIRECT past their page cache, the loop devices copying from their files' "
           "pages (one such reader: "
        << Fixed(machine.directReadBps / 1e6, 1) << " MB/s, best of 3, 4 MiB requests).\n\n"
        << VerifyTable(cached, machine.directReadBps, "one O_DIRECT reader of a cached drive",
                       machine)
        << "\n"
        << TargetLines(throttled, cached, limits, machine, memory)
        << WorstLine(WorstRatios(throttled, limits, cached, machine)) << "\n";
    std::fputs(out.str().c_str(), stdout);

    bool allOk = memory.small.ok;
    for (const auto* rows : {&throttled, &cached}) {
        for (const Row& row : *rows) {
            allOk = allOk && row.engine.ok && row.dd.ok && row.serial.ok && row.dc3dd.ok &&
                    (!row.verify || row.verify->ok);
        }
    }
    return allOk ? 0 : 1;
}

}  // namespace
}  // namespace velmaris::bench

int main(int argc, char** argv) {
    using namespace velmaris::bench;
    if (argc >= 4 && std::strcmp(argv[1], "engine") == 0) {
        const std::string mode = argv[3];
        return EngineChild(argv[2], mode != "serial", mode == "verify",
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

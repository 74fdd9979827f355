// What a contender's run measured, and the tables made of it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmaris::bench {

struct Measured {
    bool ok = false;
    std::string failure;          // why the run does not count, when !ok
    std::uint64_t bytes = 0;      // copied by all drives together
    double seconds = 0;           // from the start of the copy to the last image closed
    double cpuSeconds = 0;        // user and system time of the contender's processes
    long peakKiB = 0;             // the contender's peak resident memory
    long startKiB = 0;            // the engine's resident memory just before the run, or 0
    long unwrittenKiB = 0;        // dirty and writeback pages of the machine when it ended
    std::optional<double> gapMs;  // the longest time the window went unpumped (engine only)
    long pumps = 0;
    long gapAt = 0;     // pumps before the longest gap
    long longGaps = 0;  // gaps of 100 ms or more
    double tailMs = 0;  // from the last pump to the end of the run: closing the images
    std::optional<double> flushedSeconds;  // dd only: until its images were on the disk

    double MBps() const;       // 10^6 bytes a second
    double CpuPerGiB() const;  // CPU seconds per 2^30 bytes
};

struct Row {
    int drives = 0;
    Measured engine;  // (a) the window's code path
    Measured dd;      // (b) one dd per drive, all started together
    Measured serial;  // (c) the engine in the serial order of one thread
};

struct Limits {
    double driveBps = 0;  // the throttle of each drive
    double writeBps = 0;  // the target's measured write speed
    // N drives at their throttle, or the target when it is slower.
    double For(int drives) const;
};

// The lowest engine ratios over the throttled rows: to the limit, and to dd. A failed engine
// run counts as 0; a row whose dd run failed has no ratio to dd.
struct Worst {
    std::optional<double> toLimit;
    std::optional<double> toDd;
};
Worst WorstRatios(const std::vector<Row>& rows, const Limits& limits);

// The engine on drives of two sizes, everything else the same.
struct MemoryProbe {
    std::uint64_t smallMiB = 0;
    std::uint64_t fullMiB = 0;
    Measured small;
    Measured full;
};

// Of several runs, the one of least CPU time (a busy machine only adds to it), or the first that
// failed.
Measured Least(std::vector<Measured> runs);

std::string ThrottledTable(const std::vector<Row>& rows, const Limits& limits);
// dd's speed once its images are on the disk, and the engine's ratio to that.
std::string FlushedLine(const std::vector<Row>& rows);
std::string UnthrottledTable(const std::vector<Row>& rows);
// The hash every image gets, in CPU seconds per GiB on one core, and the engine's CPU to dd's
// once that is taken off, per unthrottled row.
std::string HashLine(double hashCpuPerGiB, const std::vector<Row>& cached);
// One line per target of the engine (a), held or missed, with the worst case.
std::string TargetLines(const std::vector<Row>& throttled, const std::vector<Row>& cached,
                        const Limits& limits, const MemoryProbe& memory);
// "worst ratio to limit: X, to dd: Y", two decimals each.
std::string WorstLine(const Worst& worst);

}  // namespace velmaris::bench

// What a contender's run measured, and the tables made of it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmaris::bench {

struct Measured {
    bool ok = false;
    std::string failure;      // why the run does not count, when !ok
    std::uint64_t bytes = 0;  // copied by all drives together
    // Until every image is on the disk: the engine from the click to its return (it flushes its
    // images), a command-line tool until its images were flushed after it exited.
    double seconds = 0;
    std::optional<double> exitSeconds;  // a command-line tool: until its last process exited
    double cpuSeconds = 0;              // user and system time of the contender's processes
    long peakKiB = 0;                   // the contender's peak resident memory
    long startKiB = 0;                  // the engine's resident memory just before the run, or 0
    long unwrittenKiB = 0;              // dirty and writeback pages of the machine when it ended
    std::optional<double> gapMs;        // the longest time the window went unpumped (engine only)
    long pumps = 0;
    long gapAt = 0;     // pumps before the longest gap
    long longGaps = 0;  // gaps of 100 ms or more
    double tailMs = 0;  // from the last pump to the end of the run: closing the images
    // The engine with verification: from the status bar's "Verifying images" to the click's
    // return, and the CPU time of its process in that span.
    std::optional<double> verifySeconds;
    double verifyCpuSeconds = 0;

    double MBps() const;             // 10^6 bytes a second, until the images are on the disk
    double CpuPerGiB() const;        // CPU seconds per 2^30 bytes
    double VerifyMBps() const;       // drive bytes verified a second, 10^6 bytes
    double VerifyCpuPerGiB() const;  // CPU seconds of the verification per 2^30 drive bytes
};

struct Row {
    int drives = 0;
    Measured engine;                 // (a) the window's code path
    Measured dd;                     // (b) one dd per drive, all started together
    Measured serial;                 // (c) the engine in the serial order of one thread
    Measured dc3dd;                  // (d) one dc3dd hash=sha256 per drive, all started together
    std::optional<Measured> verify;  // (a) with "Verify images after imaging", when run
};

struct Limits {
    double driveBps = 0;  // the throttle of each drive
    double writeBps = 0;  // the target's measured write speed
    // N drives at their throttle, or the target when it is slower.
    double For(int drives) const;
};

// What bounds a copy of cached drives that hashes every image, in bytes a second.
struct Machine {
    int cores = 1;
    double writeBps = 0;       // the target, one stream with fsync
    double readBps = 0;        // one reader of one cached loop device
    double shaCpuPerGiB = 0;   // libcrypto's SHA-256 on one core
    double targetReadBps = 0;  // the target, one stream of O_DIRECT reads
    double directReadBps = 0;  // one O_DIRECT reader of one cached loop device
};

// The machine's limit for N cached drives: the lowest of the target's write speed, N readers,
// min(N, cores) hashing cores, and the cores shared by copying as dd does (ddCpuPerGiB, its
// CPU at N; 0 when unknown) and hashing. Which one binds is named.
struct Bound {
    double bps = 0;
    std::string binding;  // "write", "read", "SHA-256" or "processor"
};
Bound CachedLimit(const Machine& machine, int drives, double ddCpuPerGiB);

// The limit of the verification of N drives each read at most driveBps: the lowest of the
// drives, the target's O_DIRECT reads and the cores hashing both streams (each drive byte is
// hashed twice). The binding one is "drives", "target read" or "processor".
Bound VerifyLimit(const Machine& machine, double driveBps, int drives);

// The lowest engine ratios: to the limit in each table, and its speed to dd's and to dc3dd's
// over both. A failed engine run counts as 0; a row whose other contender failed has no ratio
// to it.
struct Worst {
    std::optional<double> throttled;
    std::optional<double> unthrottled;
    std::optional<double> toDd;
    std::optional<double> toDc3dd;
    std::optional<double> verification;  // the verification phase to its limit, both tables
};
Worst WorstRatios(const std::vector<Row>& throttled, const Limits& limits,
                  const std::vector<Row>& cached, const Machine& machine);

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
std::string UnthrottledTable(const std::vector<Row>& rows, const Machine& machine);
// Each unthrottled N's limit and the four bounds it is the lowest of.
std::string LimitLines(const std::vector<Row>& cached, const Machine& machine);
// The hash every image gets, in CPU seconds per GiB on one core, and the engine's CPU to dd's
// once that is taken off, per unthrottled row.
std::string HashLine(double hashCpuPerGiB, const std::vector<Row>& cached);
// The shortest unthrottled run, which must last at least 3 s to be trusted.
std::string DurationLine(const std::vector<Row>& cached);
// The verification phase of each N that ran one, against its limit for drives each read past
// the cache at driveBps (described by drive), with the bounds it is the lowest of; "" when none
// did.
std::string VerifyTable(const std::vector<Row>& rows, double driveBps, const std::string& drive,
                        const Machine& machine);
// One line per target of the engine (a), held or missed, with the worst case.
std::string TargetLines(const std::vector<Row>& throttled, const std::vector<Row>& cached,
                        const Limits& limits, const Machine& machine, const MemoryProbe& memory);
// "worst ratio to limit: X throttled, Y unthrottled; to dd: Z; to dc3dd: W; verification: V",
// two decimals each.
std::string WorstLine(const Worst& worst);

}  // namespace velmaris::bench

#include "report.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <sstream>
#include <tuple>

namespace velmaris::bench {
namespace {

constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;
// Runs of one size differ by a few hundred KiB (thread stacks, arenas): more than that is
// memory kept per pass or per byte.
constexpr long kMemoryConstantKiB = 512;
// A shorter unthrottled run is mostly its start and its end.
constexpr double kShortestTrusted = 3.0;

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Mib(long kib) {
    return Fixed(static_cast<double>(kib) / 1024.0, 1);
}

struct Named {
    const char* name;
    const Measured& run;
};

std::vector<Named> Contenders(const Row& row) {
    return {{"(a) engine", row.engine},
            {"(b) dd", row.dd},
            {"(c) engine, serial", row.serial},
            {"(d) dc3dd", row.dc3dd}};
}

// The engine's speed over another contender's, when both counted.
std::optional<double> EngineTo(const Row& row, const Measured& other) {
    if (!row.engine.ok || !other.ok || other.MBps() <= 0) {
        return std::nullopt;
    }
    return row.engine.MBps() / other.MBps();
}

// The engine's ratio to a tool in the last line and the targets: a failed engine run counts as
// 0, a failed tool's run gives no ratio.
std::optional<double> Against(const Row& row, const Measured& tool) {
    if (!tool.ok) {
        return std::nullopt;
    }
    return row.engine.ok ? EngineTo(row, tool) : 0.0;
}

double EngineToLimit(const Row& row, double limitBps) {
    return row.engine.ok && limitBps > 0 ? row.engine.MBps() / (limitBps / 1e6) : 0;
}

// A failed verifying run counts as 0.
double VerifyToLimit(const Measured& run, const Bound& limit) {
    return run.ok && limit.bps > 0 ? run.VerifyMBps() / (limit.bps / 1e6) : 0;
}

double ToolCpu(const Measured& run) {
    return run.ok ? run.CpuPerGiB() : 0;
}

// A markdown table: columns right-aligned but the contender's, as wide as their widest cell.
std::string Table(const std::vector<std::string>& header,
                  const std::vector<std::vector<std::string>>& lines) {
    std::vector<std::size_t> width(header.size());
    for (std::size_t c = 0; c < header.size(); ++c) {
        width[c] = header[c].size();
        for (const auto& line : lines) {
            width[c] = std::max(width[c], line[c].size());
        }
    }
    const auto left = [&header](std::size_t c) { return header[c] == "contender"; };
    const auto cells = [&](const std::vector<std::string>& line) {
        std::string text = "|";
        for (std::size_t c = 0; c < line.size(); ++c) {
            const std::string pad(width[c] - line[c].size(), ' ');
            text += " " + (left(c) ? line[c] + pad : pad + line[c]) + " |";
        }
        return text + "\n";
    };
    std::string text = cells(header) + "|";
    for (std::size_t c = 0; c < header.size(); ++c) {
        text += left(c) ? std::string(width[c] + 2, '-') : std::string(width[c] + 1, '-') + ":";
        text += "|";
    }
    text += "\n";
    for (const auto& line : lines) {
        text += cells(line);
    }
    return text;
}

// A failed run shows why under the table instead of numbers.
std::string Failures(const std::vector<Row>& rows) {
    std::string text;
    for (const Row& row : rows) {
        for (const Named& c : Contenders(row)) {
            if (!c.run.ok) {
                text += "N=" + std::to_string(row.drives) + " " + c.name +
                        " FAILED: " + c.run.failure + "\n";
            }
        }
    }
    return text;
}

// The cells every table has for a contender, from its speed to its longest gap; a failed run
// has dashes.
std::vector<std::string> Cells(const Row& row, const Named& c, double limitBps,
                               const std::optional<double>& cpuBound) {
    const double limit = limitBps / 1e6;
    if (!c.run.ok) {
        std::vector<std::string> cells{"failed", "-", "-", "-", "-", "-"};
        if (cpuBound) {
            cells.insert(cells.begin() + 4, "-");
        }
        return cells;
    }
    const auto toIt = EngineTo(row, c.run);
    std::vector<std::string> cells{
        Fixed(c.run.MBps(), 1),       limit > 0 ? Fixed(c.run.MBps() / limit, 2) : "-",
        toIt ? Fixed(*toIt, 2) : "-", Fixed(c.run.CpuPerGiB(), 3),
        Mib(c.run.peakKiB),           c.run.gapMs ? Fixed(*c.run.gapMs, 1) : "-"};
    if (cpuBound) {
        cells.insert(cells.begin() + 4,
                     *cpuBound > 0 ? Fixed(c.run.CpuPerGiB() / *cpuBound, 2) : std::string("-"));
    }
    return cells;
}

std::string ExitMBps(const Measured& run) {
    if (!run.ok || !run.exitSeconds || *run.exitSeconds <= 0) {
        return "-";
    }
    return Fixed(static_cast<double>(run.bytes) / *run.exitSeconds / 1e6, 1);
}

// The worst value over rows and where it was; nullopt when no row had one.
struct Extreme {
    std::optional<double> value;
    int drives = 0;
    const char* table = "";
    void Take(double v, int n, const char* where, bool higherIsWorse) {
        if (!value || (higherIsWorse ? v > *value : v < *value)) {
            value = v;
            drives = n;
            table = where;
        }
    }
    bool AtLeast(double floor) const { return value && *value >= floor; }
    bool AtMost(double ceiling) const { return value && *value <= ceiling; }
};

std::string Verdict(const std::string& target, const Extreme& worst, bool held, int decimals,
                    const std::string& unit) {
    if (!worst.value) {
        return "  " + target + ": no run to judge\n";
    }
    return "  " + target + ": " + (held ? "held" : "MISSED") + ", worst " +
           Fixed(*worst.value, decimals) + unit + " at N=" + std::to_string(worst.drives) +
           (*worst.table ? std::string(" ") + worst.table : "") + "\n";
}

std::string MemoryVerdict(const MemoryProbe& memory) {
    if (!memory.small.ok || !memory.full.ok) {
        return "  peak RSS does not grow with drive size or passes: no run to judge\n";
    }
    const long change = memory.full.peakKiB - memory.small.peakKiB;
    return "  peak RSS does not grow with drive size or passes (by <= " +
           std::to_string(kMemoryConstantKiB) +
           " KiB): " + (change <= kMemoryConstantKiB ? "held" : "MISSED") + ", " +
           std::to_string(memory.small.peakKiB) + " KiB with " + std::to_string(memory.smallMiB) +
           " MiB drives (" + std::to_string(memory.small.pumps) + " pumps), " +
           std::to_string(memory.full.peakKiB) + " KiB with " + std::to_string(memory.fullMiB) +
           " MiB drives (" + std::to_string(memory.full.pumps) + " pumps)\n";
}

}  // namespace

double Measured::MBps() const {
    return seconds > 0 ? static_cast<double>(bytes) / seconds / 1e6 : 0;
}

double Measured::CpuPerGiB() const {
    return bytes > 0 ? cpuSeconds / (static_cast<double>(bytes) / kGiB) : 0;
}

double Measured::VerifyMBps() const {
    return verifySeconds && *verifySeconds > 0 ? static_cast<double>(bytes) / *verifySeconds / 1e6
                                               : 0;
}

double Measured::VerifyCpuPerGiB() const {
    return bytes > 0 ? verifyCpuSeconds / (static_cast<double>(bytes) / kGiB) : 0;
}

double Limits::For(int drives) const {
    return std::min(drives * driveBps, writeBps);
}

Bound CachedLimit(const Machine& machine, int drives, double ddCpuPerGiB) {
    constexpr double kNone = std::numeric_limits<double>::infinity();
    const double sha = machine.shaCpuPerGiB;
    const std::pair<double, const char*> bounds[] = {
        {machine.writeBps > 0 ? machine.writeBps : kNone, "write"},
        {machine.readBps > 0 ? drives * machine.readBps : kNone, "read"},
        {sha > 0 ? std::min(drives, machine.cores) * kGiB / sha : kNone, "SHA-256"},
        {ddCpuPerGiB + sha > 0 ? machine.cores * kGiB / (ddCpuPerGiB + sha) : kNone, "processor"},
    };
    const auto* lowest =
        std::min_element(std::begin(bounds), std::end(bounds),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    return {lowest->first < kNone ? lowest->first : 0, lowest->second};
}

Bound VerifyLimit(const Machine& machine, double driveBps, int drives) {
    constexpr double kNone = std::numeric_limits<double>::infinity();
    const double sha = machine.shaCpuPerGiB;
    const std::pair<double, const char*> bounds[] = {
        {driveBps > 0 ? drives * driveBps : kNone, "drives"},
        {machine.targetReadBps > 0 ? machine.targetReadBps : kNone, "target read"},
        {sha > 0 ? machine.cores * kGiB / sha / 2 : kNone, "processor"},
    };
    const auto* lowest =
        std::min_element(std::begin(bounds), std::end(bounds),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    return {lowest->first < kNone ? lowest->first : 0, lowest->second};
}

Worst WorstRatios(const std::vector<Row>& throttled, const Limits& limits,
                  const std::vector<Row>& cached, const Machine& machine) {
    Worst worst;
    auto lower = [](std::optional<double>& low, const std::optional<double>& value) {
        if (value) {
            low = low ? std::min(*low, *value) : *value;
        }
    };
    for (const Row& row : throttled) {
        lower(worst.throttled, EngineToLimit(row, limits.For(row.drives)));
    }
    for (const Row& row : cached) {
        lower(worst.unthrottled,
              EngineToLimit(row, CachedLimit(machine, row.drives, ToolCpu(row.dd)).bps));
    }
    for (const auto* rows : {&throttled, &cached}) {
        for (const Row& row : *rows) {
            lower(worst.toDd, Against(row, row.dd));
            lower(worst.toDc3dd, Against(row, row.dc3dd));
        }
    }
    for (const auto& [rows, driveBps] :
         {std::pair{&throttled, limits.driveBps}, std::pair{&cached, machine.directReadBps}}) {
        for (const Row& row : *rows) {
            if (row.verify) {
                lower(worst.verification,
                      VerifyToLimit(*row.verify, VerifyLimit(machine, driveBps, row.drives)));
            }
        }
    }
    return worst;
}

Measured Least(std::vector<Measured> runs) {
    for (const Measured& run : runs) {
        if (!run.ok) {
            return run;
        }
    }
    return *std::min_element(runs.begin(), runs.end(), [](const Measured& a, const Measured& b) {
        return a.cpuSeconds < b.cpuSeconds;
    });
}

std::string ThrottledTable(const std::vector<Row>& rows, const Limits& limits) {
    std::vector<std::vector<std::string>> lines;
    for (const Row& row : rows) {
        const double limit = limits.For(row.drives);
        for (const Named& c : Contenders(row)) {
            std::vector<std::string> line{std::to_string(row.drives), Fixed(limit / 1e6, 1),
                                          c.name};
            for (std::string& cell : Cells(row, c, limit, std::nullopt)) {
                line.push_back(std::move(cell));
            }
            line.push_back(ExitMBps(c.run));
            line.push_back(c.run.ok ? Mib(c.run.unwrittenKiB) : "-");
            lines.push_back(std::move(line));
        }
    }
    return Table({"N", "limit MB/s", "contender", "MB/s", "to limit", "(a) to it", "CPU s/GiB",
                  "peak RSS MiB", "longest gap ms", "MB/s at exit", "unwritten at exit MiB"},
                 lines) +
           Failures(rows);
}

std::string UnthrottledTable(const std::vector<Row>& rows, const Machine& machine) {
    std::vector<std::vector<std::string>> lines;
    for (const Row& row : rows) {
        const double limit = CachedLimit(machine, row.drives, ToolCpu(row.dd)).bps;
        const double cpuBound = row.dd.ok ? row.dd.CpuPerGiB() + machine.shaCpuPerGiB : 0;
        for (const Named& c : Contenders(row)) {
            std::vector<std::string> line{std::to_string(row.drives), Fixed(limit / 1e6, 1),
                                          c.name};
            for (std::string& cell : Cells(row, c, limit, cpuBound)) {
                line.push_back(std::move(cell));
            }
            line.push_back(ExitMBps(c.run));
            lines.push_back(std::move(line));
        }
    }
    return Table({"N", "limit MB/s", "contender", "MB/s", "to limit", "(a) to it", "CPU s/GiB",
                  "CPU to dd+SHA", "peak RSS MiB", "longest gap ms", "MB/s at exit"},
                 lines) +
           Failures(rows);
}

std::string LimitLines(const std::vector<Row>& cached, const Machine& machine) {
    std::string text =
        "The machine's limit for N cached drives, the lowest of: the target's write speed with "
        "fsync, N x one reader of a cached drive, min(N, cores) x one core's SHA-256 "
        "(libcrypto), cores / (dd's CPU s/GiB at N + SHA-256's). MB/s:\n";
    const double sha = machine.shaCpuPerGiB;
    for (const Row& row : cached) {
        const double dd = ToolCpu(row.dd);
        const Bound limit = CachedLimit(machine, row.drives, dd);
        const int hashing = std::min(row.drives, machine.cores);
        text += "  N=" + std::to_string(row.drives) + ": " + Fixed(limit.bps / 1e6, 1) + " (" +
                limit.binding + "); write " + Fixed(machine.writeBps / 1e6, 1) + ", read " +
                std::to_string(row.drives) + " x " + Fixed(machine.readBps / 1e6, 1) +
                ", SHA-256 " + std::to_string(hashing) + " x " +
                Fixed(sha > 0 ? kGiB / sha / 1e6 : 0, 1) + ", processor " +
                std::to_string(machine.cores) + " / (" + Fixed(dd, 3) + " + " + Fixed(sha, 3) +
                ") = " + Fixed(dd + sha > 0 ? machine.cores * kGiB / (dd + sha) / 1e6 : 0, 1) +
                "\n";
    }
    return text;
}

std::string HashLine(double hashCpuPerGiB, const std::vector<Row>& cached) {
    std::string text =
        "SHA-256 of each image (the system's libcrypto): " + Fixed(hashCpuPerGiB, 3) +
        " CPU s/GiB on one core; the engine's CPU without it, to dd:";
    for (const Row& row : cached) {
        if (row.engine.ok && row.dd.ok && row.dd.CpuPerGiB() > 0) {
            text += " N=" + std::to_string(row.drives) + " " +
                    Fixed((row.engine.CpuPerGiB() - hashCpuPerGiB) / row.dd.CpuPerGiB(), 2);
        }
    }
    return text + "\n";
}

std::string DurationLine(const std::vector<Row>& cached) {
    const Measured* shortest = nullptr;
    std::string who;
    for (const Row& row : cached) {
        for (const Named& c : Contenders(row)) {
            if (c.run.ok && (!shortest || c.run.seconds < shortest->seconds)) {
                shortest = &c.run;
                who = "N=" + std::to_string(row.drives) + " " + c.name;
            }
        }
    }
    if (!shortest) {
        return "shortest unthrottled run: none\n";
    }
    return "shortest unthrottled run: " + Fixed(shortest->seconds, 2) + " s, " + who +
           (shortest->seconds >= kShortestTrusted
                ? " (at least 3 s)\n"
                : " (TOO SHORT to trust, under 3 s: give a larger --cached-size)\n");
}

std::string VerifyTable(const std::vector<Row>& rows, double driveBps, const std::string& drive,
                        const Machine& machine) {
    std::vector<std::vector<std::string>> lines;
    std::string bounds, failures;
    const double sha = machine.shaCpuPerGiB;
    for (const Row& row : rows) {
        if (!row.verify) {
            continue;
        }
        const Measured& run = *row.verify;
        const Bound limit = VerifyLimit(machine, driveBps, row.drives);
        const std::string n = std::to_string(row.drives);
        if (run.ok) {
            lines.push_back({n, Fixed(limit.bps / 1e6, 1), limit.binding,
                             Fixed(run.VerifyMBps(), 1), Fixed(VerifyToLimit(run, limit), 2),
                             Fixed(run.MBps(), 1), Fixed(run.VerifyCpuPerGiB(), 3),
                             Mib(run.peakKiB), run.gapMs ? Fixed(*run.gapMs, 1) : "-"});
        } else {
            lines.push_back(
                {n, Fixed(limit.bps / 1e6, 1), limit.binding, "failed", "-", "-", "-", "-", "-"});
            failures += "N=" + n + " (a) engine, verifying FAILED: " + run.failure + "\n";
        }
        bounds += "  N=" + std::to_string(row.drives) + ": " + Fixed(limit.bps / 1e6, 1) + " (" +
                  limit.binding + "); drives " + std::to_string(row.drives) + " x " +
                  Fixed(driveBps / 1e6, 1) + ", target read " +
                  Fixed(machine.targetReadBps / 1e6, 1) + ", processor " +
                  std::to_string(machine.cores) + " x " + Fixed(sha > 0 ? kGiB / sha / 1e6 : 0, 1) +
                  " / 2 = " + Fixed(sha > 0 ? machine.cores * kGiB / sha / 2 / 1e6 : 0, 1) + "\n";
    }
    if (lines.empty()) {
        return "";
    }
    return Table({"N", "limit MB/s", "bound", "verifying MB/s", "to limit", "whole run MB/s",
                  "verifying CPU s/GiB", "peak RSS MiB", "longest gap ms"},
                 lines) +
           failures + "The verification's limit for N drives, the lowest of: N x " + drive +
           ", the target's O_DIRECT read speed, cores x one core's SHA-256 / 2 (the drive and its "
           "image both hashed). MB/s:\n" +
           bounds;
}

std::string TargetLines(const std::vector<Row>& throttled, const std::vector<Row>& cached,
                        const Limits& limits, const Machine& machine, const MemoryProbe& memory) {
    Extreme toLimit, toDd, toMachine, cpu, toDc3dd, cpuDc3dd, gap;
    for (const Row& row : throttled) {
        toLimit.Take(EngineToLimit(row, limits.For(row.drives)), row.drives, "", false);
        if (const auto ratio = Against(row, row.dd)) {
            toDd.Take(*ratio, row.drives, "", false);
        }
    }
    for (const Row& row : cached) {
        const double dd = ToolCpu(row.dd);
        toMachine.Take(EngineToLimit(row, CachedLimit(machine, row.drives, dd).bps), row.drives, "",
                       false);
        if (row.engine.ok && dd > 0) {
            cpu.Take(row.engine.CpuPerGiB() / (dd + machine.shaCpuPerGiB), row.drives, "", true);
        }
    }
    for (const auto& [rows, table] :
         {std::pair{&throttled, "throttled"}, std::pair{&cached, "unthrottled"}}) {
        for (const Row& row : *rows) {
            if (const auto ratio = Against(row, row.dc3dd)) {
                toDc3dd.Take(*ratio, row.drives, table, false);
            }
            if (row.engine.ok && row.dc3dd.ok && row.dc3dd.CpuPerGiB() > 0) {
                cpuDc3dd.Take(row.engine.CpuPerGiB() / row.dc3dd.CpuPerGiB(), row.drives, table,
                              true);
            }
            if (row.engine.ok && row.engine.gapMs) {
                gap.Take(*row.engine.gapMs, row.drives, table, true);
            }
        }
    }
    Extreme toVerifyLimit;
    for (const auto& [rows, driveBps, table] :
         {std::tuple{&throttled, limits.driveBps, "throttled"},
          std::tuple{&cached, machine.directReadBps, "unthrottled"}}) {
        for (const Row& row : *rows) {
            if (row.verify) {
                toVerifyLimit.Take(
                    VerifyToLimit(*row.verify, VerifyLimit(machine, driveBps, row.drives)),
                    row.drives, table, false);
            }
        }
    }
    std::string text = "targets of the engine (a):\n";
    text +=
        Verdict("throttled, to limit >= 0.95 at every N", toLimit, toLimit.AtLeast(0.95), 3, "");
    text += Verdict("throttled, to dd (until its images are on the disk) >= 0.99 at every N", toDd,
                    toDd.AtLeast(0.99), 3, "");
    text += Verdict("unthrottled, to the machine's limit >= 0.85 at every N", toMachine,
                    toMachine.AtLeast(0.85), 3, "");
    text += Verdict("unthrottled, CPU s/GiB <= 1.2 x (dd's + SHA-256's) at every N", cpu,
                    cpu.AtMost(1.2), 2, "");
    text += Verdict("to dc3dd's MB/s >= 1.00 at every N", toDc3dd, toDc3dd.AtLeast(1.0), 3, "");
    text +=
        Verdict("CPU s/GiB <= 1.00 x dc3dd's at every N", cpuDc3dd, cpuDc3dd.AtMost(1.0), 2, "");
    text += Verdict("longest gap between message pumps <= 50 ms at every N", gap, gap.AtMost(50), 1,
                    " ms");
    if (toVerifyLimit.value) {
        text += Verdict("verification, to its limit >= 0.85 at every N", toVerifyLimit,
                        toVerifyLimit.AtLeast(0.85), 3, "");
    }
    return text + MemoryVerdict(memory);
}

std::string WorstLine(const Worst& worst) {
    auto text = [](const std::optional<double>& value) {
        return value ? Fixed(*value, 2) : std::string("n/a");
    };
    return "worst ratio to limit: " + text(worst.throttled) + " throttled, " +
           text(worst.unthrottled) + " unthrottled; to dd: " + text(worst.toDd) +
           "; to dc3dd: " + text(worst.toDc3dd) + "; verification: " + text(worst.verification);
}

}  // namespace velmaris::bench

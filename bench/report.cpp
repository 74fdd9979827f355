#include "report.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace velmaris::bench {
namespace {

constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;
constexpr long kBlockKiB = 128;
// What the engine may use beyond its buffers: worker stacks, thread bookkeeping.
constexpr long kMemoryConstantKiB = 512;

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Ratio(const Measured& run, const Measured& base) {
    if (!run.ok || !base.ok || base.MBps() <= 0) {
        return "-";
    }
    return Fixed(run.MBps() / base.MBps(), 2);
}

std::string CpuRatio(const Measured& run, const Measured& base) {
    if (!run.ok || !base.ok || base.CpuPerGiB() <= 0) {
        return "-";
    }
    return Fixed(run.CpuPerGiB() / base.CpuPerGiB(), 2);
}

std::string Gap(const Measured& run) {
    return run.gapMs ? Fixed(*run.gapMs, 1) : "-";
}

std::string Mib(long kib) {
    return Fixed(static_cast<double>(kib) / 1024.0, 1);
}

struct Named {
    const char* name;
    const Measured& run;
};

std::vector<Named> Contenders(const Row& row) {
    return {{"(a) engine", row.engine}, {"(b) dd", row.dd}, {"(c) engine, serial", row.serial}};
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

}  // namespace

double Measured::MBps() const {
    return seconds > 0 ? static_cast<double>(bytes) / seconds / 1e6 : 0;
}

double Measured::CpuPerGiB() const {
    return bytes > 0 ? cpuSeconds / (static_cast<double>(bytes) / kGiB) : 0;
}

double Limits::For(int drives) const {
    return std::min(drives * driveBps, writeBps);
}

Worst WorstRatios(const std::vector<Row>& rows, const Limits& limits) {
    Worst worst;
    auto lower = [](std::optional<double>& low, double value) {
        low = low ? std::min(*low, value) : value;
    };
    for (const Row& row : rows) {
        const double engine = row.engine.ok ? row.engine.MBps() : 0;
        lower(worst.toLimit, engine / (limits.For(row.drives) / 1e6));
        if (row.dd.ok && row.dd.MBps() > 0) {
            lower(worst.toDd, engine / row.dd.MBps());
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
    std::sort(runs.begin(), runs.end(),
              [](const Measured& a, const Measured& b) { return a.cpuSeconds < b.cpuSeconds; });
    return runs.at(runs.size() / 2);
}

std::string FlushedLine(const std::vector<Row>& rows) {
    std::string text = "dd until its images are on the disk (syncfs after the last dd exits):";
    for (const Row& row : rows) {
        if (row.dd.ok && row.dd.flushedSeconds && *row.dd.flushedSeconds > 0) {
            const double mbps = static_cast<double>(row.dd.bytes) / *row.dd.flushedSeconds / 1e6;
            text += " N=" + std::to_string(row.drives) + " " + Fixed(mbps, 1) + " MB/s";
            if (row.engine.ok) {
                text += " (engine " + Fixed(row.engine.MBps() / mbps, 2) + ")";
            }
        }
    }
    return text + "\n";
}

std::string ThrottledTable(const std::vector<Row>& rows, const Limits& limits) {
    std::ostringstream out;
    out << "| N | limit MB/s | contender          |  MB/s  | to limit | to dd | CPU s/GiB "
           "| peak RSS MiB | longest gap ms | unwritten at end MiB |\n"
        << "|--:|-----------:|--------------------|-------:|---------:|------:|----------:"
           "|-------------:|---------------:|---------------------:|\n";
    for (const Row& row : rows) {
        const double limit = limits.For(row.drives) / 1e6;
        for (const Named& c : Contenders(row)) {
            char line[320];
            if (c.run.ok) {
                std::snprintf(line, sizeof line,
                              "| %d | %10.1f | %-18s | %6.1f | %8.2f | %5s | %9.3f | %12s "
                              "| %14s | %20s |\n",
                              row.drives, limit, c.name, c.run.MBps(), c.run.MBps() / limit,
                              Ratio(c.run, row.dd).c_str(), c.run.CpuPerGiB(),
                              Mib(c.run.peakKiB).c_str(), Gap(c.run).c_str(),
                              Mib(c.run.unwrittenKiB).c_str());
            } else {
                std::snprintf(line, sizeof line,
                              "| %d | %10.1f | %-18s | failed |        - |     - |         - "
                              "|            - |              - |                    - |\n",
                              row.drives, limit, c.name);
            }
            out << line;
        }
    }
    out << Failures(rows);
    return out.str();
}

std::string UnthrottledTable(const std::vector<Row>& rows) {
    std::ostringstream out;
    out << "| N | contender          |  MB/s  | CPU s/GiB | CPU to dd | peak RSS MiB "
           "| longest gap ms |\n"
        << "|--:|--------------------|-------:|----------:|----------:|-------------:"
           "|---------------:|\n";
    for (const Row& row : rows) {
        for (const Named& c : Contenders(row)) {
            char line[256];
            if (c.run.ok) {
                std::snprintf(line, sizeof line,
                              "| %d | %-18s | %6.1f | %9.3f | %9s | %12s | %14s |\n", row.drives,
                              c.name, c.run.MBps(), c.run.CpuPerGiB(),
                              CpuRatio(c.run, row.dd).c_str(), Mib(c.run.peakKiB).c_str(),
                              Gap(c.run).c_str());
            } else {
                std::snprintf(line, sizeof line,
                              "| %d | %-18s | failed |         - |         - |            - "
                              "|              - |\n",
                              row.drives, c.name);
            }
            out << line;
        }
    }
    out << Failures(rows);
    return out.str();
}

std::string TargetLines(const std::vector<Row>& throttled, const std::vector<Row>& cached,
                        const Limits& limits, const MemoryProbe& memory) {
    Extreme toLimit, toDd, cpu, gap, residual;
    for (const Row& row : throttled) {
        const double engine = row.engine.ok ? row.engine.MBps() : 0;
        toLimit.Take(engine / (limits.For(row.drives) / 1e6), row.drives, "", false);
        if (row.dd.ok && row.dd.MBps() > 0) {
            toDd.Take(engine / row.dd.MBps(), row.drives, "", false);
        }
    }
    for (const Row& row : cached) {
        if (row.engine.ok && row.dd.ok && row.dd.CpuPerGiB() > 0) {
            cpu.Take(row.engine.CpuPerGiB() / row.dd.CpuPerGiB(), row.drives, "", true);
        }
    }
    std::string growth;
    for (const auto& [rows, table] :
         {std::pair{&throttled, "throttled"}, std::pair{&cached, "unthrottled"}}) {
        for (const Row& row : *rows) {
            if (row.engine.ok && row.engine.gapMs) {
                gap.Take(*row.engine.gapMs, row.drives, table, true);
            }
            if (row.engine.ok && rows == &throttled) {
                const long rest =
                    row.engine.peakKiB - row.engine.startKiB - 2 * row.drives * kBlockKiB;
                residual.Take(static_cast<double>(rest), row.drives, "", true);
                growth += " N=" + std::to_string(row.drives) + " " + std::to_string(rest);
            }
        }
    }
    std::string text = "targets of the engine (a):\n";
    text += Verdict("throttled, to limit >= 0.95 at every N", toLimit,
                    toLimit.value && *toLimit.value >= 0.95, 3, "");
    text += Verdict("throttled, to dd >= 1.00 at every N", toDd, toDd.value && *toDd.value >= 1.0,
                    3, "");
    text += Verdict("unthrottled, CPU s/GiB <= 1.2 x dd at every N", cpu,
                    cpu.value && *cpu.value <= 1.2, 2, "");
    text += Verdict("longest gap between message pumps < 100 ms at every N", gap,
                    gap.value && *gap.value < 100, 1, " ms");
    text += Verdict("peak RSS - RSS at the start - 2 x N x 128 KiB <= " +
                        std::to_string(kMemoryConstantKiB) + " KiB (KiB:" + growth + ")",
                    residual, residual.value && *residual.value <= kMemoryConstantKiB, 0, " KiB");
    if (memory.small.ok && memory.full.ok) {
        const long change = memory.full.peakKiB - memory.small.peakKiB;
        // Runs of one size differ by a few hundred KiB (thread stacks, arenas): more than that
        // is memory kept per pass or per byte.
        text += "  peak RSS does not grow with drive size or passes (by <= " +
                std::to_string(kMemoryConstantKiB) + " KiB): ";
        text += change <= kMemoryConstantKiB ? "held" : "MISSED";
        text += ", " + std::to_string(memory.small.peakKiB) + " KiB with " +
                std::to_string(memory.smallMiB) + " MiB drives (" +
                std::to_string(memory.small.pumps) + " pumps), " +
                std::to_string(memory.full.peakKiB) + " KiB with " +
                std::to_string(memory.fullMiB) + " MiB drives (" +
                std::to_string(memory.full.pumps) + " pumps)\n";
    } else {
        text += "  peak RSS does not grow with drive size or passes: no run to judge\n";
    }
    return text;
}

std::string HashLine(double hashCpuPerGiB, const std::vector<Row>& cached) {
    std::string text = "SHA-256 of each image, on its drive's worker: " + Fixed(hashCpuPerGiB, 3) +
                       " CPU s/GiB on one core (the system's libcrypto); the engine's CPU without "
                       "it, to dd:";
    for (const Row& row : cached) {
        if (row.engine.ok && row.dd.ok && row.dd.CpuPerGiB() > 0) {
            text += " N=" + std::to_string(row.drives) + " " +
                    Fixed((row.engine.CpuPerGiB() - hashCpuPerGiB) / row.dd.CpuPerGiB(), 2);
        }
    }
    return text + "\n";
}

std::string WorstLine(const Worst& worst) {
    auto text = [](const std::optional<double>& value) {
        return value ? Fixed(*value, 2) : std::string("n/a");
    };
    return "worst ratio to limit: " + text(worst.toLimit) + ", to dd: " + text(worst.toDd);
}

}  // namespace velmaris::bench

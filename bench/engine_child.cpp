#include "engine_child.h"

#include <sys/resource.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>

#include "counting_window.h"
#include "discovery/drive_list.h"
#include "jobs/job_context.h"
#include "platform/linux/linux_power.h"
#include "platform/linux/linux_storage.h"
#include "platform/linux/linux_system_paths.h"
#include "platform/linux/locale_number_marks.h"
#include "platform/linux/logind_keep_awake.h"
#include "platform/linux/monotonic_clock.h"
#include "platform/linux/posix_files.h"
#include "platform/linux/sysfs_disk_catalog.h"
#include "ui/frm_main.h"

namespace velmaris::bench {
namespace {

int SourceRow(const grid::GridModel& sources, std::string name) {
    for (char& c : name) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    for (int row = 1; row <= sources.RowCount(); ++row) {
        if (sources.CellText(row, discovery::kColModel).find("(" + name + ")") !=
            std::string::npos) {
            return row;
        }
    }
    return 0;
}

long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string word;
    long value = 0;
    while (status >> word) {
        if (word == field) {
            status >> value;
            return value;
        }
    }
    return 0;
}

// User and system time of this process, all its threads.
double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int EngineChild(const std::string& folder, bool parallel, bool verify,
                const std::vector<std::string>& names) {
    platform::SysfsDiskCatalog catalog;
    platform::LinuxSystemPaths paths;
    platform::LocaleNumberMarks numbers;
    platform::PosixFiles files;
    platform::LinuxStorage storage{catalog};
    platform::MonotonicClock clock;
    platform::LinuxPower power{"/bin/true"};
    platform::LogindKeepAwake awake;
    platform::Services services{catalog, paths, numbers, files, storage, clock, power, awake};
    CountingWindow window(folder);
    ui::frmMain frm(window, services);
    frm.ParallelCopy = parallel;
    double cpuAtVerifying = 0;
    if (verify) {
        window.Verify([&cpuAtVerifying] { cpuAtVerifying = CpuSeconds(); });
    }

    frm.Form_Load();
    frm.Command1_Click();
    for (const std::string& name : names) {
        const int row = SourceRow(*window.Sources(), name);
        if (row == 0) {
            std::printf("error %s is not among the source drives\n", name.c_str());
            return 1;
        }
        window.Sources()->SetCurRow(row);
        frm.iGrid1_DblClick(row, 1);
    }
    if (window.Jobs()->RowCount() != static_cast<int>(names.size())) {
        std::printf("error %d of %zu drives selected\n", window.Jobs()->RowCount(), names.size());
        return 1;
    }

    const long rssBefore = StatusKiB("VmRSS:");
    const auto start = std::chrono::steady_clock::now();
    window.Arm();
    frm.Command2_Click();
    window.Disarm();
    const auto end = std::chrono::steady_clock::now();
    const double cpu = CpuSeconds();
    const std::chrono::duration<double> seconds = end - start;

    std::printf("seconds %.6f\n", seconds.count());
    if (const auto since = window.VerifyingSince()) {
        // From the status bar's "Verifying images" to the click's return.
        std::printf("verify_seconds %.6f\n", std::chrono::duration<double>(end - *since).count());
        std::printf("verify_cpu_seconds %.6f\n", cpu - cpuAtVerifying);
    }
    std::printf("pumps %ld\n", window.Pumps());
    std::printf("gap_ms %.3f\n",
                std::chrono::duration<double, std::milli>(window.LongestGap()).count());
    std::printf("gap_at %ld\n", window.LongestGapAt());
    std::printf("tail_ms %.3f\n",
                std::chrono::duration<double, std::milli>(window.LastGap()).count());
    std::printf("long_gaps %ld\n", window.LongGaps());
    std::printf("rss_before_kib %ld\n", rssBefore);
    std::printf("status_bar %s\n", window.StatusBar().c_str());
    for (int row = 1; row <= window.Jobs()->RowCount(); ++row) {
        std::printf("status %s %s\n", names[static_cast<std::size_t>(row) - 1].c_str(),
                    window.Jobs()->CellText(row, jobs::kColStatus).c_str());
    }
    return 0;
}

}  // namespace velmaris::bench

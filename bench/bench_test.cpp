// The benchmark's own faults that would make its table lie.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "counting_window.h"
#include "lab.h"
#include "report.h"

namespace velmaris::bench {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Bytes(std::size_t size, std::uint64_t seed) {
    std::string data(size, '\0');
    FillRandom(reinterpret_cast<std::byte*>(data.data()), size, seed);
    return data;
}

void Put(const fs::path& file, const std::string& data) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << data;
}

TEST(CompareImage, FindsEveryWrongByteAndLength) {
    const fs::path dir =
        fs::temp_directory_path() / ("velmaris-bench-test-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    // Past one 4 MiB comparison chunk, with a ragged end.
    const std::string device = Bytes((std::size_t{5} << 20) + 100, 7);
    Put(dir / "device", device);
    const auto compare = [&](const std::string& image) {
        Put(dir / "image", image);
        return CompareImage((dir / "device").string(), dir / "image");
    };

    EXPECT_EQ(compare(device), std::nullopt);
    for (const std::size_t offset :
         {std::size_t{0}, (std::size_t{4} << 20) + 7, device.size() - 1}) {
        std::string wrong = device;
        wrong[offset] = static_cast<char>(wrong[offset] ^ 0x01);
        const auto found = compare(wrong);
        ASSERT_TRUE(found.has_value()) << "a flipped bit at " << offset << " went unseen";
        EXPECT_NE(found->find("at byte " + std::to_string(offset)), std::string::npos) << *found;
    }
    const auto shorter = compare(device.substr(0, device.size() - 1));
    ASSERT_TRUE(shorter.has_value());
    EXPECT_NE(shorter->find("shorter"), std::string::npos) << *shorter;
    const auto longer = compare(device + '\0');
    ASSERT_TRUE(longer.has_value());
    EXPECT_NE(longer->find("longer"), std::string::npos) << *longer;
    fs::remove(dir / "image");
    EXPECT_TRUE(CompareImage((dir / "device").string(), dir / "image").has_value());
    fs::remove_all(dir);
}

Measured Copied(double mbps) {
    Measured run;
    run.ok = true;
    run.bytes = 1000000000;
    run.seconds = 1000.0 / mbps;
    return run;
}

TEST(Report, TheMachinesLimitIsTheLowestOfItsBounds) {
    constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;
    // 2 cores; SHA-256 at 0.5 s/GiB is 2 GiB/s a core.
    const Machine machine{2, 3.0 * kGiB, 1.4 * kGiB, 0.5};
    const struct {
        int drives;
        double ddCpu;
        double gib;  // GiB a second
        const char* binding;
    } cases[] = {
        {1, 0.0, 1.4, "read"},       // 1 x 1.4, below SHA-256's 1 x 2
        {2, 0.0, 2.8, "read"},       // 2 x 1.4, below the target
        {4, 0.3, 2.5, "processor"},  // 2 / (0.3 + 0.5)
        {8, 0.1, 3.0, "write"},      // 2 / (0.1 + 0.5) = 3.3 GiB/s is above the target
    };
    for (const auto& c : cases) {
        const Bound limit = CachedLimit(machine, c.drives, c.ddCpu);
        EXPECT_DOUBLE_EQ(limit.bps, c.gib * kGiB) << "N=" << c.drives;
        EXPECT_EQ(limit.binding, c.binding) << "N=" << c.drives;
    }
    EXPECT_EQ(CachedLimit({2, 3.0 * kGiB, 4.0 * kGiB, 0.5}, 1, 0).binding, "SHA-256");

    // The verification hashes every byte twice: 2 cores x 2 GiB/s / 2 = 2 GiB/s.
    const struct {
        double targetRead;  // GiB a second
        int drives;
        double gib;
        const char* binding;
    } verifying[] = {
        {1.5, 1, 0.4, "drives"},       // 1 x 0.4
        {1.5, 8, 1.5, "target read"},  // 8 x 0.4 = 3.2 and 2 are above
        {3.0, 8, 2.0, "processor"},
    };
    for (const auto& c : verifying) {
        const Bound limit = VerifyLimit({2, 3.0 * kGiB, 1.4 * kGiB, 0.5, c.targetRead * kGiB},
                                        0.4 * kGiB, c.drives);
        EXPECT_DOUBLE_EQ(limit.bps, c.gib * kGiB) << "N=" << c.drives;
        EXPECT_EQ(limit.binding, c.binding) << "N=" << c.drives;
    }

    const Limits limits{40e6, 300e6};
    EXPECT_DOUBLE_EQ(limits.For(4), 160e6);
    EXPECT_DOUBLE_EQ(limits.For(8), 300e6);  // the target, not 8 x 40
}

TEST(Report, WorstRatiosTakeEachTableAndCountFailuresAsZero) {
    const Limits limits{40e6, 300e6};
    std::vector<Row> throttled(2);
    throttled[0].drives = 4;
    throttled[0].engine = Copied(152);
    throttled[0].dd = Copied(160);
    throttled[0].dc3dd = Copied(150);
    throttled[1].drives = 8;
    throttled[1].engine = Copied(297);
    throttled[1].dd = Copied(270);
    throttled[1].dc3dd = Copied(297);
    Machine machine{2, 1000e6, 0, 0};  // only the target bounds: 1000 MB/s
    std::vector<Row> cached(1);
    cached[0].drives = 1;
    cached[0].engine = Copied(800);
    cached[0].dd = Copied(1000);
    cached[0].dc3dd = Copied(400);
    // The copy's part of the line, the same while the verification's part changes below.
    const std::string copy =
        "worst ratio to limit: 0.95 throttled, 0.80 unthrottled; to dd: 0.80; to dc3dd: 1.00; ";
    EXPECT_EQ(WorstLine(WorstRatios(throttled, limits, cached, machine)),
              copy + "verification: n/a");
    // The verification of 8 x 40 is bound by the target's reads at 300; of 4, by the drives.
    machine.targetReadBps = 300e6;
    throttled[0].verify = Copied(1);
    throttled[0].verify->verifySeconds = 1000.0 / 136;
    throttled[1].verify = Copied(1);
    throttled[1].verify->verifySeconds = 1000.0 / 291;

    // 152 of 160 while 297 of 300 is 0.99; 800 of 1000; to dd 0.8 unthrottled; to dc3dd
    // 152/150; verifying 136 of 160 while 291 of 300 is 0.97
    EXPECT_EQ(WorstLine(WorstRatios(throttled, limits, cached, machine)),
              copy + "verification: 0.85");
    // An unthrottled row's counts too: its drive read at 1000 MB/s, the target's 300 binds.
    machine.directReadBps = 1000e6;
    cached[0].verify = Copied(1);
    cached[0].verify->verifySeconds = 1000.0 / 240;
    EXPECT_EQ(WorstLine(WorstRatios(throttled, limits, cached, machine)),
              copy + "verification: 0.80");
    const std::string table = VerifyTable(throttled, limits.driveBps, "one drive", machine);
    EXPECT_NE(table.find("| 8 |      300.0 | target read |"), std::string::npos) << table;

    // A wrong byte makes the engine's run worthless; a failed tool leaves no ratio to it.
    throttled[1].engine.ok = false;
    throttled[1].verify->ok = false;
    cached[0].dd.ok = false;
    cached[0].dc3dd.ok = false;
    EXPECT_EQ(WorstLine(WorstRatios(throttled, limits, cached, machine)),
              "worst ratio to limit: 0.00 throttled, 0.80 unthrottled; to dd: 0.00; to dc3dd: "
              "0.00; verification: 0.00");
    throttled[1].dd.ok = false;
    throttled[1].dc3dd.ok = false;
    throttled[0].dc3dd.ok = false;
    EXPECT_EQ(WorstLine(WorstRatios(throttled, limits, cached, machine)),
              "worst ratio to limit: 0.00 throttled, 0.80 unthrottled; to dd: 0.95; to dc3dd: "
              "n/a; verification: 0.00");
    EXPECT_NE(ThrottledTable(throttled, limits).find("N=8 (a) engine FAILED"), std::string::npos);
    EXPECT_NE(TargetLines(throttled, cached, limits, machine, {})
                  .find("throttled, to limit >= 0.95 at every N: MISSED, worst 0.000 at N=8"),
              std::string::npos);
    EXPECT_NE(TargetLines(throttled, cached, limits, machine, {})
                  .find("verification, to its limit >= 0.85 at every N: MISSED, "
                        "worst 0.000 at N=8 throttled"),
              std::string::npos);

    std::vector<Measured> runs{Copied(1), Copied(1), Copied(1)};
    runs[0].cpuSeconds = 3;
    runs[1].cpuSeconds = 1;
    runs[2].cpuSeconds = 2;
    EXPECT_EQ(Least(runs).cpuSeconds, 1);
}

TEST(CountingWindow, CountsTheWaitBeforeTheFirstAndAfterTheLastPump) {
    auto now = std::chrono::steady_clock::time_point{};
    CountingWindow window("/x", [&now] { return now; });
    window.PumpMessages();  // before the run: not counted
    now += 500ms;
    window.Arm();
    now += 120ms;  // opening the files
    window.PumpMessages();
    now += 10ms;
    window.PumpMessages();
    now += 30ms;  // closing the files
    window.Disarm();
    EXPECT_EQ(window.Pumps(), 2);
    EXPECT_EQ(window.LongestGap(), 120ms);
    EXPECT_EQ(window.LongestGapAt(), 0);
    EXPECT_EQ(window.LastGap(), 30ms);
    EXPECT_EQ(window.LongGaps(), 1);

    window.Arm();
    now += 10ms;
    window.PumpMessages();
    now += 150ms;
    window.Disarm();
    EXPECT_EQ(window.LongestGap(), 150ms);
    EXPECT_EQ(window.LongestGapAt(), 1);  // after the last pump
    EXPECT_EQ(window.BrowseForFolder("any").folder, "/x");
    EXPECT_FALSE(window.IsChecked(platform::Control::Check2));

    // The verification begins at the first "Verifying images" of an armed run.
    int began = 0;
    window.Verify([&began] { ++began; });
    EXPECT_TRUE(window.IsChecked(platform::Control::Check2));
    window.SetCaption(platform::Control::StatusBar1, "Verifying image");  // not armed
    window.Arm();
    EXPECT_FALSE(window.VerifyingSince().has_value());
    now += 7s;
    window.SetCaption(platform::Control::Label5, "Verifying images");
    window.SetCaption(platform::Control::StatusBar1, "Verifying images");
    const auto since = now;
    now += 1s;
    window.SetCaption(platform::Control::StatusBar1, "Verifying images");
    EXPECT_EQ(window.VerifyingSince(), since);
    EXPECT_EQ(began, 1);
}

}  // namespace
}  // namespace velmaris::bench

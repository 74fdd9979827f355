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

TEST(Report, RatiosUseTheSlowerOfDrivesAndTargetAndCountFailuresAsZero) {
    const Limits limits{40e6, 300e6};
    EXPECT_DOUBLE_EQ(limits.For(4), 160e6);
    EXPECT_DOUBLE_EQ(limits.For(8), 300e6);  // the target, not 8 x 40

    std::vector<Row> rows(2);
    rows[0].drives = 4;
    rows[0].engine = Copied(152);
    rows[0].dd = Copied(160);
    rows[1].drives = 8;
    rows[1].engine = Copied(297);
    rows[1].dd = Copied(270);
    Worst worst = WorstRatios(rows, limits);
    EXPECT_DOUBLE_EQ(*worst.toLimit, 0.95);  // 152 of 160, while 297 of 300 is 0.99
    EXPECT_DOUBLE_EQ(*worst.toDd, 0.95);
    EXPECT_EQ(WorstLine(worst), "worst ratio to limit: 0.95, to dd: 0.95");

    // A wrong byte makes the engine's run worthless; a failed dd leaves no ratio to it.
    rows[1].engine.ok = false;
    rows[0].dd.ok = false;
    worst = WorstRatios(rows, limits);
    EXPECT_EQ(WorstLine(worst), "worst ratio to limit: 0.00, to dd: 0.00");
    rows[1].dd.ok = false;
    EXPECT_EQ(WorstLine(WorstRatios(rows, limits)), "worst ratio to limit: 0.00, to dd: n/a");
    EXPECT_NE(ThrottledTable(rows, limits).find("N=8 (a) engine FAILED"), std::string::npos);
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
}

}  // namespace
}  // namespace velmaris::bench

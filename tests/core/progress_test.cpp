#include "imaging/progress.h"

#include <gtest/gtest.h>

namespace velmaris::imaging {
namespace {

const platform::NumberMarks kEnglish{'.', ","};

TEST(TimeString, HoursAreNotWrappedIntoDays) {
    const std::pair<std::int32_t, const char*> cases[] = {
        {0, "0:00:00"},        {59, "0:00:59"},     {3599, "0:59:59"},
        {3600, "1:00:00"},     {86399, "23:59:59"}, {86400, "24:00:00"},
        {360000, "100:00:00"}, {-75, "0:01:15"},    {INT32_MAX, "596523:14:07"},
    };
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(TimeString(seconds), text) << seconds;
    }
    EXPECT_FALSE(TimeString(INT32_MIN));
}

TEST(ProgressTick, RoundsHalvesToEvenAndKeepsWhatCannotBeComputed) {
    ImagingRun run;
    StartCopyClock(run, 1000);
    run.BytesPerDriveTotal = 500000000000;
    // 400 ms: 0 s elapsed, so no speed yet; the remaining time keeps its 0.
    ProgressTexts texts = ProgressTick(run, 1400, 1, kEnglish);
    EXPECT_EQ(run.ElapsedSeconds, 0);
    EXPECT_EQ(run.BytesPerSecond, 0);
    EXPECT_EQ(texts.elapsed, "0:00:00");
    EXPECT_EQ(texts.speed, "0");
    // 1500 ms rounds to 2 s, 2500 ms to 2 s as well.
    run.BytesDonePerDrive = 94371840;
    ProgressTick(run, 2500, 3, kEnglish);
    EXPECT_EQ(run.ElapsedSeconds, 2);
    texts = ProgressTick(run, 3500, 3, kEnglish);
    EXPECT_EQ(run.ElapsedSeconds, 2);
    EXPECT_EQ(run.BytesPerSecond, 47185920);
    EXPECT_EQ(run.MegabytesPerSecond, 45);
    EXPECT_EQ(texts.speed, "8,100");
    EXPECT_EQ(run.RemainingBytes, 500000000000 - 94371840);
    EXPECT_EQ(run.RemainingSeconds, 10594);
    EXPECT_EQ(texts.remaining, "2:56:34");

    // At most half a megabyte a second shows as 0.
    run.BytesDonePerDrive = 524288 * 4;
    texts = ProgressTick(run, 5000, 1, kEnglish);
    EXPECT_EQ(run.ElapsedSeconds, 4);
    EXPECT_EQ(texts.speed, "0");
}

TEST(ProgressTick, ElapsedTimeSurvivesTheCounterWrapping) {
    ImagingRun run;
    // Before the copy starts both times read zero, whatever the counter says.
    ProgressTexts texts = ProgressTick(run, 123456789, 1, kEnglish);
    EXPECT_EQ(texts.elapsed, "0:00:00");
    EXPECT_EQ(texts.remaining, "0:00:00");
    EXPECT_EQ(run.ElapsedSeconds, 0);

    StartCopyClock(run, 0x7FFFFF00u);  // just below the sign boundary
    texts = ProgressTick(run, 0x80000000u + 9744, 1, kEnglish);
    EXPECT_EQ(texts.elapsed, "0:00:10");
    StartCopyClock(run, 0xFFFFF000u);  // the counter wraps to small values
    texts = ProgressTick(run, 5904, 1, kEnglish);
    EXPECT_EQ(texts.elapsed, "0:00:10");
    // A run longer than the counter's 49.7 days: ticks a day apart go on counting.
    for (std::uint32_t day = 1; day <= 60; ++day) {
        texts = ProgressTick(run, 0xFFFFF000u + day * 86400000u, 1, kEnglish);
    }
    EXPECT_EQ(texts.elapsed, "1440:00:00");
}

TEST(ProgressTick, DrivesFasterThanTwoGibibytesASecondAreTimed) {
    ImagingRun run;
    StartCopyClock(run, 0);
    run.BytesPerDriveTotal = std::int64_t{3} << 40;
    run.BytesDonePerDrive = std::int64_t{30} << 30;  // 3 GiB/s for 10 s
    ProgressTexts texts = ProgressTick(run, 10000, 8, kEnglish);
    EXPECT_EQ(run.BytesPerSecond, std::int64_t{3} << 30);
    EXPECT_EQ(texts.speed, "1,474,560");    // 3072 MiB/s x 60 x 8 drives
    EXPECT_EQ(texts.remaining, "0:16:54");  // (3 TiB - 30 GiB) / 3 GiB/s = 1014 s

    // Megabytes a second past 32 bits keep the last value, and so does the label.
    run.BytesDonePerDrive = INT64_MAX;
    texts = ProgressTick(run, 10000, 8, kEnglish);
    EXPECT_EQ(run.MegabytesPerSecond, 3072);
    EXPECT_EQ(texts.speed, "1,474,560");
}

}  // namespace
}  // namespace velmaris::imaging

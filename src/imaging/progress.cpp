#include "imaging/progress.h"

#include <cmath>
#include <limits>

#include "discovery/capacity.h"

namespace velmaris::imaging {

namespace {

constexpr double kMegabyte = 1048576.0;
constexpr std::int64_t kSecondsPerMinute = 60;

}  // namespace

double RoundHalfEven(double x) {
    const double rounded = std::round(x);
    return std::fabs(x - std::trunc(x)) == 0.5 ? 2.0 * std::round(x / 2.0) : rounded;
}

namespace {

// numerator / denominator rounded to a whole number, a half to the even neighbour; nullopt on
// a zero denominator or a result outside 32 bits.
std::optional<std::int32_t> RoundedQuotient(double numerator, double denominator) {
    if (denominator == 0) {
        return std::nullopt;
    }
    const double rounded = RoundHalfEven(numerator / denominator);
    if (!(rounded >= std::numeric_limits<std::int32_t>::min() &&
          rounded <= std::numeric_limits<std::int32_t>::max())) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(rounded);
}

std::string TwoDigits(std::int64_t value) {
    return (value < 10 ? "0" : "") + std::to_string(value);
}

}  // namespace

std::optional<std::string> TimeString(std::int32_t seconds) {
    if (seconds == std::numeric_limits<std::int32_t>::min()) {
        return std::nullopt;
    }
    const std::int64_t s = seconds < 0 ? -static_cast<std::int64_t>(seconds) : seconds;
    const std::int64_t h = s / 3600;
    const std::int64_t m = s / 60 - 60 * h;
    return std::to_string(h) + ":" + TwoDigits(m) + ":" + TwoDigits(s % 60);
}

ProgressTexts ProgressTick(ImagingRun& run, std::uint32_t now, int rows,
                           const platform::NumberMarks& marks) {
    ProgressTexts texts;
    run.NowTick = static_cast<std::int32_t>(now);
    if (!run.CopyStarted) {
        // Before the copy there is no start to count from.
        texts.elapsed = texts.remaining = TimeString(0);
        return texts;
    }
    // The counter wraps: the unsigned difference is the true time since the start.
    const std::uint32_t elapsedMs = now - static_cast<std::uint32_t>(run.StartTick);
    if (const auto elapsed = RoundedQuotient(elapsedMs, 1000)) {
        run.ElapsedSeconds = *elapsed;
    }
    if (const auto bps =
            RoundedQuotient(static_cast<double>(run.BytesDonePerDrive), run.ElapsedSeconds)) {
        run.BytesPerSecond = *bps;
    }
    run.RemainingBytes = run.BytesPerDriveTotal - run.BytesDonePerDrive;
    if (const auto remaining =
            RoundedQuotient(static_cast<double>(run.RemainingBytes), run.BytesPerSecond)) {
        run.RemainingSeconds = *remaining;
    }
    if (const auto mbps = RoundedQuotient(run.BytesPerSecond, kMegabyte)) {
        run.MegabytesPerSecond = *mbps;
    }
    texts.remaining = TimeString(run.RemainingSeconds);
    texts.elapsed = TimeString(run.ElapsedSeconds);
    const std::int64_t perMinute =
        static_cast<std::int64_t>(run.MegabytesPerSecond) * kSecondsPerMinute;
    const std::int64_t speed = perMinute * rows;
    const auto fits = [](std::int64_t v) {
        return v >= std::numeric_limits<std::int32_t>::min() &&
               v <= std::numeric_limits<std::int32_t>::max();
    };
    if (fits(perMinute) && fits(speed)) {
        texts.speed =
            (speed < 0 ? "-" : "") +
            discovery::FormatGrouped(static_cast<std::uint64_t>(std::llabs(speed)), marks);
    }
    return texts;
}

}  // namespace velmaris::imaging

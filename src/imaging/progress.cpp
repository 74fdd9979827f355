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
// a zero denominator or a result outside T.
template <typename T>
std::optional<T> RoundedQuotient(double numerator, double denominator) {
    if (denominator == 0) {
        return std::nullopt;
    }
    const double rounded = RoundHalfEven(numerator / denominator);
    // T holds [-2^digits, 2^digits): both bounds are exact as doubles.
    const double bound = std::ldexp(1.0, std::numeric_limits<T>::digits);
    if (!(rounded >= -bound && rounded < bound)) {
        return std::nullopt;
    }
    return static_cast<T>(rounded);
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

void StartCopyClock(ImagingRun& run, std::uint32_t now) {
    run.StartTick = static_cast<std::int32_t>(now);
    run.LastTick = now;
    run.ElapsedMilliseconds = 0;
    run.CopyStarted = true;
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
    // Ticks come about a second apart: each unsigned difference is the true time between them,
    // across the counter's wrap, and their sum the time since the start however long the run.
    run.ElapsedMilliseconds += now - run.LastTick;
    run.LastTick = now;
    if (const auto elapsed =
            RoundedQuotient<std::int32_t>(static_cast<double>(run.ElapsedMilliseconds), 1000)) {
        run.ElapsedSeconds = *elapsed;
    }
    if (const auto bps = RoundedQuotient<std::int64_t>(static_cast<double>(run.BytesDonePerDrive),
                                                       run.ElapsedSeconds)) {
        run.BytesPerSecond = *bps;
    }
    run.RemainingBytes = run.BytesPerDriveTotal - run.BytesDonePerDrive;
    if (const auto remaining = RoundedQuotient<std::int32_t>(
            static_cast<double>(run.RemainingBytes), static_cast<double>(run.BytesPerSecond))) {
        run.RemainingSeconds = *remaining;
    }
    if (const auto mbps =
            RoundedQuotient<std::int32_t>(static_cast<double>(run.BytesPerSecond), kMegabyte)) {
        run.MegabytesPerSecond = *mbps;
    }
    texts.remaining = TimeString(run.RemainingSeconds);
    texts.elapsed = TimeString(run.ElapsedSeconds);
    // In 64 bits: the 32 bits a speed once had freeze it above 2 GiB/s per drive.
    const std::int64_t perMinute =
        static_cast<std::int64_t>(run.MegabytesPerSecond) * kSecondsPerMinute;
    if (rows >= 0 &&
        (rows == 0 || std::llabs(perMinute) <= std::numeric_limits<std::int64_t>::max() / rows)) {
        const std::int64_t speed = perMinute * rows;
        texts.speed =
            (speed < 0 ? "-" : "") +
            discovery::FormatGrouped(static_cast<std::uint64_t>(std::llabs(speed)), marks);
    }
    return texts;
}

}  // namespace velmaris::imaging

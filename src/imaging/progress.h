// The progress display: elapsed and remaining time and the copy speed, once a second.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "imaging/run_state.h"
#include "platform/services.h"

namespace velmaris::imaging {

// x rounded to a whole number, a half going to the even neighbour (2.5 gives 2).
double RoundHalfEven(double x);

// "h:mm:ss" of a number of seconds, hours not wrapped into days; nullopt for INT32_MIN,
// which has no absolute value.
std::optional<std::string> TimeString(std::int32_t seconds);

// Label texts a tick produces; nullopt leaves a label as it was.
struct ProgressTexts {
    std::optional<std::string> remaining;  // Label7
    std::optional<std::string> elapsed;    // Label12
    std::optional<std::string> speed;      // Label9, megabytes per minute of all drives
};

// The copy starts at the counter's reading now.
void StartCopyClock(ImagingRun& run, std::uint32_t now);

// One tick at the counter's reading now, with rows drives in the list. Each step that cannot
// be computed (a division by zero, a value past its field's range) keeps its field and label.
ProgressTexts ProgressTick(ImagingRun& run, std::uint32_t now, int rows,
                           const platform::NumberMarks& marks);

}  // namespace velmaris::imaging

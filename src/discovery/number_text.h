// Reading the number a text starts with, the way a byte count typed or reported as text is read.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velmaris::discovery {

// The leading number of text (leading blanks skipped, reading stops at the first character
// that cannot continue a number; no number reads as 0), times 10^decimals, rounded to a whole
// number with a half going to the even neighbour. nullopt when it does not fit 64 bits.
std::optional<std::int64_t> LeadingNumberScaled(std::string_view text, int decimals);

// The leading whole number of text, or nullopt when the text has none or it does not fit.
std::optional<std::uint64_t> LeadingWholeNumber(std::string_view text);

}  // namespace velmaris::discovery

// The capacity text of a drive: its byte count in units of 1024 with one decimal.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/services.h"

namespace velmaris::discovery {

// "465.8 Gb" for "500107862016". nullopt when the count is too large to hold.
std::optional<std::string> FormatCapacity(std::string_view byteCount,
                                          const platform::NumberMarks& marks);

// A whole number grouped by thousands with the user's group mark ("#,0").
std::string FormatGrouped(std::uint64_t value, const platform::NumberMarks& marks);

}  // namespace velmaris::discovery

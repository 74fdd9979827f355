#include "discovery/capacity.h"

#include <array>
#include <cstdint>

#include "discovery/number_text.h"

namespace velmaris::discovery {

namespace {

struct Unit {
    std::int64_t bytes;  // threshold and divisor
    const char* suffix;
};

constexpr std::int64_t kKb = 1024;
constexpr std::array<Unit, 4> kUnits{{
    {kKb * kKb * kKb * kKb, " Tb"},
    {kKb * kKb * kKb, " Gb"},
    {kKb * kKb, " Mb"},
    {kKb, " Kb"},
}};

constexpr std::int64_t kScale = 10000;  // four decimal places

// value / divisor, both in the same scale, rounded with a half to the even neighbour.
std::int64_t DivideHalfEven(std::int64_t value, std::int64_t divisor) {
    const std::int64_t quotient = value / divisor;
    const std::int64_t twiceRemainder = 2 * (value % divisor);
    if (twiceRemainder > divisor || (twiceRemainder == divisor && quotient % 2 != 0)) {
        return quotient + 1;
    }
    return quotient;
}

}  // namespace

std::string FormatGrouped(std::uint64_t value, const platform::NumberMarks& marks) {
    const std::string digits = std::to_string(value);
    std::string grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            grouped += marks.group;
        }
        grouped += digits[i];
    }
    return grouped;
}

std::optional<std::string> FormatCapacity(std::string_view byteCount,
                                          const platform::NumberMarks& marks) {
    const std::optional<std::int64_t> scaled = LeadingNumberScaled(byteCount, 4);
    if (!scaled) {
        return std::nullopt;
    }
    std::int64_t quotient = *scaled;  // in ten-thousandths
    const char* suffix = " bytes";
    for (const Unit& unit : kUnits) {
        // Thresholds fit: 1024^4 * 10^4 is far below 2^63.
        if (*scaled > unit.bytes * kScale) {
            quotient = DivideHalfEven(*scaled, unit.bytes);
            suffix = unit.suffix;
            break;
        }
    }
    // One decimal, a half away from zero.
    const bool negative = quotient < 0;
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(quotient) : static_cast<std::uint64_t>(quotient);
    const std::uint64_t tenths = (magnitude + 500) / 1000;
    std::string text = negative && tenths != 0 ? "-" : "";
    text += FormatGrouped(tenths / 10, marks);
    text += marks.decimal;
    text += static_cast<char>('0' + tenths % 10);
    return text + suffix;
}

}  // namespace velmaris::discovery

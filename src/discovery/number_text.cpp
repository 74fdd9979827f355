#include "discovery/number_text.h"

#include <cctype>
#include <limits>
#include <string>

namespace velmaris::discovery {

namespace {

// A decimal number as its significant digits and a power of ten: value = digits * 10^exponent.
struct Decimal {
    bool negative = false;
    std::string digits;  // no leading zeros; empty means zero
    int exponent = 0;
};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

Decimal ReadLeadingDecimal(std::string_view text) {
    size_t i = 0;
    while (i < text.size() &&
           (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) {
        ++i;
    }
    Decimal number;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        number.negative = text[i] == '-';
        ++i;
    }
    bool anyDigit = false;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        anyDigit = true;
        if (!number.digits.empty() || text[i] != '0') {
            number.digits += text[i];
        }
    }
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && IsDigit(text[i]); ++i) {
            anyDigit = true;
            --number.exponent;
            if (!number.digits.empty() || text[i] != '0') {
                number.digits += text[i];
            }
        }
    }
    if (!anyDigit) {
        return {};
    }
    // An exponent counts only when digits follow the letter.
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
        size_t j = i + 1;
        bool negativeExponent = false;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
            negativeExponent = text[j] == '-';
            ++j;
        }
        if (j < text.size() && IsDigit(text[j])) {
            int exponent = 0;
            for (; j < text.size() && IsDigit(text[j]); ++j) {
                exponent = std::min(exponent * 10 + (text[j] - '0'), 100000);
            }
            number.exponent += negativeExponent ? -exponent : exponent;
        }
    }
    return number;
}

}  // namespace

std::optional<std::int64_t> LeadingNumberScaled(std::string_view text, int decimals) {
    const Decimal number = ReadLeadingDecimal(text);
    const std::string& digits = number.digits;
    if (digits.empty()) {
        return 0;
    }
    const long shift = static_cast<long>(number.exponent) + decimals;  // digits * 10^shift
    const long length = static_cast<long>(digits.size());
    // Whole digits kept, then the digits dropped by rounding.
    const long kept = std::max(0L, std::min(length, length + shift));
    const long zerosAfter = std::max(0L, shift);
    if (kept + zerosAfter > 19) {
        return std::nullopt;
    }
    const std::uint64_t limit =
        number.negative ? std::uint64_t{1} << 63
                        : static_cast<std::uint64_t>(std::numeric_limits<int64_t>::max());
    std::uint64_t magnitude = 0;
    auto append = [&magnitude, limit](int digit) {
        if (magnitude > (limit - static_cast<std::uint64_t>(digit)) / 10) {
            return false;
        }
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(digit);
        return true;
    };
    for (long k = 0; k < kept; ++k) {
        if (!append(digits[static_cast<size_t>(k)] - '0')) {
            return std::nullopt;
        }
    }
    for (long k = 0; k < zerosAfter; ++k) {
        if (!append(0)) {
            return std::nullopt;
        }
    }
    // Round what was dropped: more than half goes up, exactly half goes to the even neighbour.
    if (kept < length) {
        const bool droppedStartsAtFirstPlace = length + shift >= 0;
        const int first = droppedStartsAtFirstPlace ? digits[static_cast<size_t>(kept)] - '0' : 0;
        const bool restNonZero =
            droppedStartsAtFirstPlace
                ? digits.find_first_not_of('0', static_cast<size_t>(kept) + 1) != std::string::npos
                : true;
        const bool up = first > 5 || (first == 5 && (restNonZero || magnitude % 2 == 1));
        if (up) {
            if (magnitude == limit) {
                return std::nullopt;
            }
            ++magnitude;
        }
    }
    if (number.negative) {
        return magnitude == (std::uint64_t{1} << 63) ? std::numeric_limits<std::int64_t>::min()
                                                     : -static_cast<std::int64_t>(magnitude);
    }
    return static_cast<std::int64_t>(magnitude);
}

std::optional<std::uint64_t> LeadingWholeNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    if (i == text.size() || !IsDigit(text[i])) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace velmaris::discovery

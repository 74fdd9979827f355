// The capacity text of a size read as text, with the user's marks.
// Input: the decimal mark, a byte whose low two bits give the group mark's length, the group
// mark, then the size text.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "discovery/capacity.h"
#include "discovery/number_text.h"
#include "fuzz_check.h"

namespace {

using velmaris::discovery::LeadingNumberScaled;

struct Unit {
    std::string_view suffix;
    std::uint64_t bytes;
};
constexpr std::uint64_t kKb = 1024;
constexpr std::uint64_t kMb = kKb * 1024;
constexpr std::uint64_t kGb = kMb * 1024;
constexpr std::uint64_t kTb = kGb * 1024;
constexpr std::array<Unit, 5> kUnits{
    {{" bytes", 1}, {" Kb", kKb}, {" Mb", kMb}, {" Gb", kGb}, {" Tb", kTb}}};
constexpr std::uint64_t kScale = 10000;  // LeadingNumberScaled(text, 4) counts ten-thousandths

std::optional<std::size_t> UnitOf(std::string_view text) {
    for (std::size_t u = 0; u < kUnits.size(); ++u) {
        if (text.ends_with(kUnits[u].suffix)) {
            return u;
        }
    }
    return std::nullopt;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// "-1,234.5" in tenths with its sign; nullopt unless grouped by threes with one decimal.
std::optional<std::pair<bool, std::uint64_t>> ReadEnglishTenths(std::string_view number) {
    const bool negative = number.starts_with('-');
    number.remove_prefix(negative ? 1 : 0);
    if (number.size() < 3 || number[number.size() - 2] != '.' || !IsDigit(number.back())) {
        return std::nullopt;
    }
    std::uint64_t tenths = 0;
    const std::string_view whole = number.substr(0, number.size() - 2);
    for (std::size_t i = 0; i < whole.size(); ++i) {
        const std::size_t fromEnd = whole.size() - i;  // 4, 8, ... from the end are marks
        if (fromEnd % 4 == 0) {
            if (whole[i] != ',' || i == 0) {
                return std::nullopt;
            }
            continue;
        }
        if (!IsDigit(whole[i]) || (i == 0 && whole[i] == '0' && whole.size() > 1)) {
            return std::nullopt;
        }
        tenths = tenths * 10 + static_cast<std::uint64_t>(whole[i] - '0');
    }
    return std::make_pair(negative, tenths * 10 + static_cast<std::uint64_t>(number.back() - '0'));
}

std::uint64_t Magnitude(std::int64_t value) {
    return value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
}

// Fewer decimals read the same number: they differ from the four-place reading by at most
// half a unit of their last place.
void CheckScalesAgree(std::string_view text, std::optional<std::int64_t> scaled) {
    __extension__ using Wide = __int128;
    Wide step = 1;
    for (int decimals = 3; decimals >= 0; --decimals) {
        step *= 10;
        const std::optional<std::int64_t> coarse = LeadingNumberScaled(text, decimals);
        if (!coarse) {
            FUZZ_CHECK(!scaled);
            continue;
        }
        if (scaled) {
            const Wide difference = Wide{*coarse} * step - Wide{*scaled};
            FUZZ_CHECK(difference <= step / 2 && -difference <= step / 2);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmaris;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    platform::NumberMarks marks;
    if (input.size() >= 2) {
        marks.decimal = input[0];
        const std::size_t groupLength =
            std::min<std::size_t>(static_cast<unsigned char>(input[1]) % 4, input.size() - 2);
        marks.group = std::string(input.substr(2, groupLength));
        input.remove_prefix(2 + groupLength);
    }
    const std::optional<std::int64_t> scaled = LeadingNumberScaled(input, 4);
    CheckScalesAgree(input, scaled);

    const std::optional<std::string> english = discovery::FormatCapacity(input, {'.', ","});
    const std::optional<std::string> local = discovery::FormatCapacity(input, marks);
    FUZZ_CHECK(english.has_value() == scaled.has_value());
    FUZZ_CHECK(local.has_value() == scaled.has_value());
    if (!scaled) {
        return 0;
    }

    // The unit is the largest the size is above, or bytes.
    const std::optional<std::size_t> unit = UnitOf(*english);
    FUZZ_CHECK(unit.has_value());
    FUZZ_CHECK(UnitOf(*local) == unit);
    const std::uint64_t bytes = kUnits[*unit].bytes;
    if (*unit > 0) {
        FUZZ_CHECK(*scaled > 0 && static_cast<std::uint64_t>(*scaled) > bytes * kScale);
    }
    if (*unit + 1 < kUnits.size()) {
        FUZZ_CHECK(*scaled <= 0 || static_cast<std::uint64_t>(*scaled) <= bytes * 1024 * kScale);
    }

    // The number shown is the size in that unit to one decimal, rounded twice by at most half.
    const std::string_view number =
        std::string_view(*english).substr(0, english->size() - kUnits[*unit].suffix.size());
    const auto read = ReadEnglishTenths(number);
    FUZZ_CHECK(read.has_value());
    const auto [negative, tenths] = *read;
    FUZZ_CHECK(negative == (*scaled < 0 && tenths != 0));
    const std::uint64_t exact = Magnitude(*scaled) / bytes;  // ten-thousandths of the unit
    FUZZ_CHECK(tenths * 1000 + 501 >= exact && tenths * 1000 <= exact + 1 + 501);

    // The user's marks change only the marks: the digits and the decimal's place stay.
    const bool marksHaveDigits =
        IsDigit(marks.decimal) || marks.group.find_first_of("0123456789") != std::string::npos;
    if (!marksHaveDigits) {
        auto digitsOf = [](std::string_view text) {
            std::string digits;
            for (char c : text) {
                if (IsDigit(c)) {
                    digits += c;
                }
            }
            return digits;
        };
        FUZZ_CHECK(digitsOf(*local) == digitsOf(*english));
        const std::size_t decimalAt = local->size() - kUnits[*unit].suffix.size() - 2;
        FUZZ_CHECK((*local)[decimalAt] == marks.decimal);
    }
    return 0;
}

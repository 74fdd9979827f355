#include "discovery/capacity.h"

#include <gtest/gtest.h>

#include "discovery/number_text.h"

namespace velmaris::discovery {
namespace {

const platform::NumberMarks kEnglish{'.', ","};

std::string Capacity(const std::string& bytes) {
    return FormatCapacity(bytes, kEnglish).value_or("<none>");
}

TEST(FormatCapacity, EnglishExamplesThresholdsRoundingAndLooseText) {
    const std::pair<const char*, const char*> cases[] = {
        {"0", "0.0 bytes"},
        {"1024", "1,024.0 bytes"},
        {"1025", "1.0 Kb"},
        {"1280", "1.3 Kb"},
        {"1048576", "1,024.0 Kb"},
        {"1048577", "1.0 Mb"},
        {"1073741824", "1,024.0 Mb"},
        {"1073741825", "1.0 Gb"},
        {"500107862016", "465.8 Gb"},
        {"1099511627776", "1,024.0 Gb"},
        {"1099511627777", "1.0 Tb"},
        {"112589990684262", "102.4 Tb"},
        // 3.25 Kb is exactly half way at one decimal: away from zero.
        {"3328", "3.3 Kb"},
        // 1.04996 Mb is 1.0500 at four places, which then rounds up; 1.04994 Mb rounds down.
        {"1100964", "1.1 Mb"},
        {"1100943", "1.0 Mb"},
        {"1023.95", "1,024.0 bytes"},
        {"1023.94", "1,023.9 bytes"},
        // Text that is not plain digits counts by its leading number.
        {"abc", "0.0 bytes"},
        {"12abc", "12.0 bytes"},
        {"  2048", "2.0 Kb"},
        {"1,024", "1.0 bytes"},
        {"1e3", "1,000.0 bytes"},
        {"-512", "-512.0 bytes"},
        {"", "0.0 bytes"},
        // The largest count that fits.
        {"922337203685477", "838.9 Tb"},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(Capacity(input), expected) << input;
    }
    // The first count that does not fit has no text.
    EXPECT_FALSE(FormatCapacity("922337203685477.5808", kEnglish));
    EXPECT_FALSE(FormatCapacity("99999999999999999999999", kEnglish));
}

TEST(FormatCapacity, UsesTheUsersMarks) {
    const platform::NumberMarks german{',', "."};
    EXPECT_EQ(FormatCapacity("1024", german), "1.024,0 bytes");
    const platform::NumberMarks noGrouping{'.', ""};
    EXPECT_EQ(FormatCapacity("1099511627776", noGrouping), "1024.0 Gb");
    const platform::NumberMarks thinSpace{'.', "\u202f"};
    EXPECT_EQ(FormatCapacity("1048576", thinSpace), "1\u202f024.0 Kb");
}

TEST(LeadingNumberScaled, HalfGoesToTheEvenNeighbour) {
    EXPECT_EQ(LeadingNumberScaled("0.00005", 4), 0);
    EXPECT_EQ(LeadingNumberScaled("0.00015", 4), 2);
    EXPECT_EQ(LeadingNumberScaled("0.000150001", 4), 2);
    EXPECT_EQ(LeadingNumberScaled("0.00025", 4), 2);
    EXPECT_EQ(LeadingNumberScaled("0.000000009", 4), 0);
    EXPECT_EQ(LeadingNumberScaled("-2.5", 0), -2);
    EXPECT_EQ(LeadingNumberScaled("-922337203685477.5808", 4), INT64_MIN);
    EXPECT_EQ(LeadingNumberScaled("9223372036854775807", 0), INT64_MAX);
    EXPECT_FALSE(LeadingNumberScaled("9223372036854775807.5", 0));
    EXPECT_EQ(LeadingNumberScaled("000000000000000000000042", 0), 42);
}

}  // namespace
}  // namespace velmaris::discovery

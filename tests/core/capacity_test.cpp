#include "discovery/capacity.h"

#include <gtest/gtest.h>

#include "discovery/number_text.h"

namespace velmaris::discovery {
namespace {

const platform::NumberMarks kEnglish{'.', ","};

std::string Capacity(const std::string& bytes) {
    return FormatCapacity(bytes, kEnglish).value_or("<none>");
}

TEST(FormatCapacity, EnglishExamplesAndThresholds) {
    const std::pair<const char*, const char*> cases[] = {
        {"0", "0.0 bytes"},
        {"512", "512.0 bytes"},
        {"1024", "1,024.0 bytes"},
        {"1025", "1.0 Kb"},
        {"1280", "1.3 Kb"},
        {"1048576", "1,024.0 Kb"},
        {"1048577", "1.0 Mb"},
        {"1100964", "1.1 Mb"},
        {"123456789", "117.7 Mb"},
        {"1073741824", "1,024.0 Mb"},
        {"1073741825", "1.0 Gb"},
        {"8589934592", "8.0 Gb"},
        {"500107862016", "465.8 Gb"},
        {"1099511627776", "1,024.0 Gb"},
        {"1099511627777", "1.0 Tb"},
        {"2000398934016", "1.8 Tb"},
        {"112589990684262", "102.4 Tb"},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(Capacity(input), expected) << input;
    }
}

TEST(FormatCapacity, RoundingAtOneDecimalAndFourPlaces) {
    // 3.25 Kb is exactly half way at one decimal: away from zero.
    EXPECT_EQ(Capacity("3328"), "3.3 Kb");
    // 1.04996 Mb is 1.0500 at four places, which then rounds up.
    EXPECT_EQ(Capacity("1100964"), "1.1 Mb");
    // 1.04994 Mb stays 1.0499 and rounds down.
    EXPECT_EQ(Capacity("1100943"), "1.0 Mb");
    EXPECT_EQ(Capacity("1023.95"), "1,024.0 bytes");
    EXPECT_EQ(Capacity("1023.94"), "1,023.9 bytes");
}

TEST(FormatCapacity, TextThatIsNotPlainDigits) {
    EXPECT_EQ(Capacity("abc"), "0.0 bytes");
    EXPECT_EQ(Capacity("12abc"), "12.0 bytes");
    EXPECT_EQ(Capacity("  2048"), "2.0 Kb");
    EXPECT_EQ(Capacity("1,024"), "1.0 bytes");
    EXPECT_EQ(Capacity("1e3"), "1,000.0 bytes");
    EXPECT_EQ(Capacity("-512"), "-512.0 bytes");
    EXPECT_EQ(Capacity(""), "0.0 bytes");
    // The largest count that fits, and the first that does not.
    EXPECT_EQ(Capacity("922337203685477"), "838.9 Tb");
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

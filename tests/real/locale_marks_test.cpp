#include "platform/linux/locale_number_marks.h"

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "scratch.h"

namespace velmaris::platform {
namespace {

TEST(LocaleNumberMarks, HonoursNoGroupingAndFallsBackWhenTheLocaleIsMissing) {
    EXPECT_EQ(LocaleNumberMarks("C").UserMarks().group, "");  // C groups no digits
    const NumberMarks missing = LocaleNumberMarks("xx_NOWHERE.UTF-8").UserMarks();
    EXPECT_EQ(missing.decimal, '.');
    EXPECT_EQ(missing.group, ",");
}

TEST(LocaleNumberMarks, ConvertsTheLocalesMarksToUtf8) {
    // ctest names LOCPATH, where the test compiles a Latin-1 locale for itself.
    const char* locpath = std::getenv("LOCPATH");
    if (locpath == nullptr) {
        GTEST_SKIP() << "LOCPATH is not set; run through ctest";
    }
    test::ScratchDir tmp;
    const auto folder = std::filesystem::path(locpath) / "fr_FR.ISO-8859-1";
    std::filesystem::create_directories(locpath);
    tmp.Run("localedef -i fr_FR -f ISO-8859-1 " + test::Quoted(folder));
    if (!std::filesystem::exists(folder / "LC_NUMERIC")) {
        GTEST_SKIP() << "localedef could not build fr_FR.ISO-8859-1 (package locales)";
    }
    const NumberMarks french = LocaleNumberMarks("fr_FR.ISO-8859-1").UserMarks();
    EXPECT_EQ(french.decimal, ',');
    EXPECT_EQ(french.group, "\xC2\xA0");  // the one-byte Latin-1 no-break space
}

}  // namespace
}  // namespace velmaris::platform

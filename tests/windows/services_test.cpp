// The millisecond counter, the shutdown launcher and the user's number marks.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/windows/win32_clock.h"
#include "platform/windows/win32_number_marks.h"
#include "platform/windows/win32_power.h"
#include "platform/windows/win32_system_paths.h"
#include "scratch.h"

namespace velmaris::platform {
namespace {

using test::FsPath;
using test::ScratchDir;

TEST(Win32Clock, CountsMilliseconds) {
    Win32Clock clock;
    const std::uint32_t before = clock.Milliseconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::uint32_t elapsed = clock.Milliseconds() - before;  // wraps like the counter
    EXPECT_GE(elapsed, 150u);
    EXPECT_LT(elapsed, 5000u);
}

bool AppearsWithin(const std::string& file, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!std::filesystem::exists(FsPath(file))) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// A harmless program in place of shutdown.exe: each command leaves a file behind.
TEST(Win32Power, StartsTheProgramWithEachCommandAndReportsAProgramThatCannotStart) {
    ScratchDir tmp;
    const auto windows = Win32SystemPaths().SystemFolder();
    ASSERT_TRUE(windows);
    const std::string started = tmp.Path() + "\\started.txt";
    const std::string aborted = tmp.Path() + "\\aborted.txt";
    Win32Power power(*windows + "\\system32\\cmd.exe", "/c type nul > \"" + started + "\"",
                     "/c type nul > \"" + aborted + "\"");
    ASSERT_TRUE(power.StartShutdown());
    EXPECT_TRUE(AppearsWithin(started, std::chrono::seconds(20)));
    EXPECT_FALSE(std::filesystem::exists(FsPath(aborted)));
    ASSERT_TRUE(power.AbortShutdown());
    EXPECT_TRUE(AppearsWithin(aborted, std::chrono::seconds(20)));

    Win32Power missing(tmp.Path() + "\\shutdown.exe");
    EXPECT_FALSE(missing.StartShutdown());
    EXPECT_FALSE(missing.AbortShutdown());
}

TEST(Win32NumberMarks, MarksOfNamedLocalesAndOfTheUser) {
    // French groups with a space that is not ASCII, which must arrive as UTF-8; a locale
    // Windows does not know falls back to "." and ",".
    for (const auto& [locale, decimal, groups] :
         {std::tuple<const char*, char, std::vector<std::string>>{"en-US", '.', {","}},
          {"de-DE", ',', {"."}},
          {"fr-FR", ',', {"\xC2\xA0", "\xE2\x80\xAF"}},
          {"xx-NOWHERE", '.', {","}}}) {
        const NumberMarks marks = Win32NumberMarks(locale).UserMarks();
        EXPECT_EQ(marks.decimal, decimal) << locale;
        EXPECT_NE(std::find(groups.begin(), groups.end(), marks.group), groups.end()) << locale;
    }
    const NumberMarks user = Win32NumberMarks().UserMarks();
    EXPECT_TRUE(user.decimal > 0x20 && user.decimal < 0x7F) << user.decimal;
}

}  // namespace
}  // namespace velmaris::platform

// The millisecond counter, the shutdown launcher and the user's number marks.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

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
    while (std::chrono::steady_clock::now() < end) {
        if (std::filesystem::exists(FsPath(file))) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
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
    const NumberMarks english = Win32NumberMarks("en-US").UserMarks();
    EXPECT_EQ(english.decimal, '.');
    EXPECT_EQ(english.group, ",");
    const NumberMarks german = Win32NumberMarks("de-DE").UserMarks();
    EXPECT_EQ(german.decimal, ',');
    EXPECT_EQ(german.group, ".");
    // French groups with a space that is not ASCII, which must arrive as UTF-8.
    const NumberMarks french = Win32NumberMarks("fr-FR").UserMarks();
    EXPECT_EQ(french.decimal, ',');
    EXPECT_TRUE(french.group == "\xC2\xA0" || french.group == "\xE2\x80\xAF") << french.group;

    const NumberMarks user = Win32NumberMarks().UserMarks();
    EXPECT_GT(static_cast<unsigned char>(user.decimal), 0x20);
    EXPECT_LT(static_cast<unsigned char>(user.decimal), 0x80);
    const NumberMarks unknown = Win32NumberMarks("xx-NOWHERE").UserMarks();
    EXPECT_EQ(unknown.decimal, '.');
    EXPECT_EQ(unknown.group, ",");
}

}  // namespace
}  // namespace velmaris::platform

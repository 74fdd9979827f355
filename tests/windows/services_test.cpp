// The millisecond counter, the shutdown program and the keep-awake hold.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/windows/win32_clock.h"
#include "platform/windows/win32_keep_awake.h"
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

// A harmless program in place of shutdown.exe: its exit code is the outcome, which comes back
// only once the program has ended.
TEST(Win32Power, WaitsForTheProgramAndReportsItsOutcome) {
    ScratchDir tmp;
    const auto windows = Win32SystemPaths().SystemFolder();
    ASSERT_TRUE(windows);
    const std::string cmd = *windows + "\\system32\\cmd.exe";
    const std::string started = tmp.Path() + "\\started.txt";
    // shutdown.exe's code when there is no shutdown to abort.
    Win32Power power(cmd, "/c type nul > \"" + started + "\"", "/c exit 1116");
    const auto wait = [] {};
    EXPECT_EQ(power.StartShutdown(wait), std::nullopt);
    EXPECT_TRUE(std::filesystem::exists(FsPath(started))) << "returned before the program ended";
    const auto aborted = power.AbortShutdown(wait);
    ASSERT_TRUE(aborted);
    EXPECT_EQ(aborted->rfind(cmd + " ended with code 1116: ", 0), 0u) << *aborted;

    Win32Power missing(tmp.Path() + "\\shutdown.exe");
    const auto failed = missing.StartShutdown(wait);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->rfind(tmp.Path() + "\\shutdown.exe could not be run: ", 0), 0u) << *failed;
}

// The state the thread asked for, read as SetThreadExecutionState documents: each call returns
// the previous state. Asking again for the same state leaves it as it was.
TEST(Win32KeepAwake, HoldsTheSystemAwakeUntilReleased) {
    Win32KeepAwake awake;
    awake.Hold();
    EXPECT_EQ(SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED),
              ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    awake.Release();
    EXPECT_EQ(SetThreadExecutionState(ES_CONTINUOUS), ES_CONTINUOUS);
}

}  // namespace
}  // namespace velmaris::platform

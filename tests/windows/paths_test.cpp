// Folders, the program's and Windows' own paths, and UTF-8 on its way to Windows and back.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/windows/utf8.h"
#include "platform/windows/win32_files.h"
#include "platform/windows/win32_system_paths.h"
#include "scratch.h"

namespace velmaris::platform {
namespace {

using test::FsPath;
using test::ScratchDir;
using test::Utf8Of;

TEST(Utf8, TextSurvivesTheRoundTripAndBrokenTextIsRefused) {
    for (const std::u8string& text : {std::u8string(u8"C:\\Образы\\映像\\ärger 🖴.bin"),
                                      std::u8string(u8"plain"), std::u8string()}) {
        const auto wide = Wide(Utf8Of(text));
        ASSERT_TRUE(wide);
        EXPECT_EQ(Utf8(*wide), Utf8Of(text));
    }
    EXPECT_EQ(Wide(Utf8Of(u8"🖴")), std::wstring(L"\xD83D\xDDB4")) << "a surrogate pair";
    EXPECT_FALSE(Wide("C:\\a\xC3"));                      // cut in the middle of a character
    EXPECT_FALSE(Wide("C:\\a\xC0\xAF"));                  // overlong "/"
    EXPECT_FALSE(Wide(std::string("C:\\a\0b.bin", 11)));  // would be cut at the NUL
    // Windows names may hold an unpaired surrogate: it does not come back from UTF-8.
    EXPECT_NE(Wide(Utf8(L"C:\\a\xD800")), std::wstring(L"C:\\a\xD800"));
}

TEST(Win32Files, FoldersWithNonLatinNamesAreFoundAndCreatedOneLevelAtATime) {
    ScratchDir tmp;
    Win32Files files;
    const std::string folder = tmp.Path() + "\\" + Utf8Of(u8"Ziel 目标 Цель");
    EXPECT_FALSE(files.FolderExists(folder));
    EXPECT_EQ(files.CreateFolder(folder), std::nullopt);
    EXPECT_TRUE(files.FolderExists(folder + "\\"));
    EXPECT_TRUE(std::filesystem::is_directory(FsPath(folder))) << "created under another name";
    // Failures carry the system's text, without its line break.
    for (const std::string& refused : {folder, folder + "\\missing\\child"}) {
        const auto error = files.CreateFolder(refused);
        ASSERT_TRUE(error) << refused;
        EXPECT_TRUE(!error->empty() && error->back() != '\n') << *error;
    }
    EXPECT_FALSE(files.FolderExists(tmp.Put("file.txt", "x")));
    EXPECT_FALSE(files.FolderExists(""));
    // Full paths only: "D:x" lies under drive D's current folder, "\\x" under the current drive.
    const std::pair<const char*, bool> paths[] = {
        {"D:\\x", true},      {"d:/x", true}, {"\\\\server\\share", true},
        {"D:001.bin", false}, {"D:", false},  {"\\x", false},
        {"x", false}};
    for (const auto& [path, rooted] : paths) {
        EXPECT_EQ(files.IsRootedPath(path), rooted) << path;
    }
}

TEST(Win32SystemPaths, ProgramAndWindowsFoldersAndTheirVolumes) {
    Win32SystemPaths paths;
    const std::string program = paths.ProgramFolder();
    EXPECT_TRUE(std::filesystem::exists(FsPath(program + "\\windows_tests.exe"))) << program;
    const auto windows = paths.SystemFolder();
    ASSERT_TRUE(windows);
    EXPECT_TRUE(Win32Files().FolderExists(*windows)) << *windows;
    for (const auto& [path, volume] :
         {std::pair<std::string, std::optional<std::string>>{"C:\\Windows", "C:"},
          {"\\\\server\\share\\tools", "\\\\"},
          {" C:\\Windows", "C"},
          {Utf8Of(u8"Ä:\\x"), Utf8Of(u8"Ä:")},  // two characters, not bytes
          {"c", "c"},
          {"", std::nullopt}}) {
        EXPECT_EQ(paths.VolumeOf(path), volume) << path;
    }
}

}  // namespace
}  // namespace velmaris::platform

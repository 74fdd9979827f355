// Folders, the program's and Windows' own paths, and UTF-8 on its way to Windows and back.
#include <gtest/gtest.h>

#include <filesystem>
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
    EXPECT_EQ(Wide(Utf8Of(u8"🖴"))->size(), 2u) << "a surrogate pair";
    EXPECT_FALSE(Wide("C:\\a\xC3"));                      // cut in the middle of a character
    EXPECT_FALSE(Wide("C:\\a\xC0\xAF"));                  // overlong "/"
    EXPECT_FALSE(Wide(std::string("C:\\a\0b.bin", 11)));  // would be cut at the NUL
}

TEST(Win32Files, FoldersWithNonLatinNamesAreFoundAndCreated) {
    ScratchDir tmp;
    Win32Files files;
    const std::string folder = tmp.Path() + "\\" + Utf8Of(u8"Ziel 目标 Цель");
    EXPECT_FALSE(files.FolderExists(folder));
    EXPECT_EQ(files.CreateFolder(folder), std::nullopt);
    EXPECT_TRUE(files.FolderExists(folder));
    EXPECT_TRUE(files.FolderExists(folder + "\\"));
    EXPECT_TRUE(std::filesystem::is_directory(FsPath(folder))) << "created under another name";

    const auto again = files.CreateFolder(folder);
    ASSERT_TRUE(again);
    EXPECT_FALSE(again->empty());
    EXPECT_NE(again->back(), '\n');
    EXPECT_TRUE(files.CreateFolder(folder + "\\missing\\child")) << "one level only";
    EXPECT_FALSE(files.FolderExists(tmp.Put("file.txt", "x")));
    EXPECT_FALSE(files.FolderExists(""));
}

TEST(Win32SystemPaths, ProgramAndWindowsFoldersAndTheirVolumes) {
    Win32SystemPaths paths;
    Win32Files files;
    const std::string program = paths.ProgramFolder();
    EXPECT_TRUE(files.FolderExists(program)) << program;
    EXPECT_TRUE(std::filesystem::exists(FsPath(program + "\\windows_tests.exe"))) << program;
    const auto windows = paths.SystemFolder();
    ASSERT_TRUE(windows);
    EXPECT_TRUE(files.FolderExists(*windows)) << *windows;
    EXPECT_EQ(paths.VolumeOf(*windows), windows->substr(0, 2));

    EXPECT_EQ(paths.VolumeOf("C:\\Windows"), "C:");
    EXPECT_EQ(paths.VolumeOf("\\\\server\\share\\tools"), "\\\\");
    EXPECT_EQ(paths.VolumeOf(" C:\\Windows"), "C");
    EXPECT_EQ(paths.VolumeOf(Utf8Of(u8"Ä:\\x")), Utf8Of(u8"Ä:")) << "two characters, not bytes";
    EXPECT_EQ(paths.VolumeOf("c"), "c");
    EXPECT_EQ(paths.VolumeOf(""), std::nullopt);
}

}  // namespace
}  // namespace velmaris::platform

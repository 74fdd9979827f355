// The About box: a small modal window built at run time over the main window.
#pragma once

#include <windows.h>

#include <string>

namespace velmaris::platform {

inline constexpr wchar_t kAboutBoxClass[] = L"VelmarisAbout";

// Control ids of the About box, named as in its design.
namespace about {
inline constexpr int kFrame1 = 101;
inline constexpr int kImage1 = 102;
inline constexpr int kLabel2 = 103;
inline constexpr int kCommand1 = IDOK;
}  // namespace about

// Shows the About box modally over mainWindow with the given version line; returns once it is
// closed, with mainWindow shown and in front.
void ShowWin32AboutBox(HWND mainWindow, HINSTANCE instance, HFONT font,
                       const std::string& versionLine);

}  // namespace velmaris::platform

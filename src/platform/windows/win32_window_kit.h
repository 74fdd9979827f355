// Small helpers shared by the Win32 window's parts: resolution and text for the W functions.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace velmaris::platform::win32 {

inline constexpr int kDefaultDpi = 96;
inline constexpr int kTwipsPerInch = 1440;

// The window's resolution: its monitor's where the system tells it, else the screen's.
int DpiOf(HWND window);

// Pixels at 96 dpi, and twips, as pixels at the given resolution.
inline int Scale(int pixels96, int dpi) {
    return MulDiv(pixels96, dpi, kDefaultDpi);
}
inline int FromTwips(int twips, int dpi) {
    return MulDiv(twips, dpi, kTwipsPerInch);
}

// Text to show: invalid UTF-8 shows as U+FFFD rather than nothing.
std::wstring ShownText(std::string_view utf8);

// The text of a window.
std::wstring WindowText(HWND window);

// A font of the given face and size in hundredths of a point.
HFONT MakeFont(const wchar_t* face, int centiPoints, int dpi);
// The system's default GUI font at the given resolution.
HFONT MakeGuiFont(int dpi);

}  // namespace velmaris::platform::win32

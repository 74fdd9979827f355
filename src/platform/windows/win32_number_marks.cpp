#include "platform/windows/win32_number_marks.h"

#include <windows.h>

#include <utility>

#include "platform/windows/utf8.h"

namespace velmaris::platform {
namespace {

std::optional<std::string> LocaleText(const wchar_t* locale, LCTYPE what) {
    wchar_t text[16] = {};  // LOCALE_SDECIMAL and LOCALE_STHOUSAND hold at most 4 characters
    const int length = GetLocaleInfoEx(locale, what, text, static_cast<int>(std::size(text)));
    if (length <= 0) {
        return std::nullopt;
    }
    return Utf8(std::wstring_view(text, static_cast<std::size_t>(length - 1)));
}

}  // namespace

Win32NumberMarks::Win32NumberMarks(std::optional<std::string> localeName)
    : localeName_(std::move(localeName)) {}

NumberMarks Win32NumberMarks::UserMarks() {
    NumberMarks marks;
    const std::optional<std::wstring> name = localeName_ ? Wide(*localeName_) : std::nullopt;
    if (localeName_ && !name) {
        return marks;
    }
    const wchar_t* locale = name ? name->c_str() : LOCALE_NAME_USER_DEFAULT;
    if (const auto decimal = LocaleText(locale, LOCALE_SDECIMAL);
        decimal && decimal->size() == 1 && static_cast<unsigned char>((*decimal)[0]) < 0x80) {
        marks.decimal = (*decimal)[0];
    }
    if (auto group = LocaleText(locale, LOCALE_STHOUSAND)) {
        marks.group = std::move(*group);
    }
    return marks;
}

}  // namespace velmaris::platform

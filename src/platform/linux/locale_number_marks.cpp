#include "platform/linux/locale_number_marks.h"

#include <langinfo.h>
#include <locale.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string_view>
#include <utility>

#include "platform/linux/utf8_append.h"

namespace velmaris::platform {
namespace {

std::string UserLocaleName() {
    for (const char* variable : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return "C";
}

// The marks are in the locale's own character set (a Latin-1 locale's no-break space is one
// byte); convert them with that locale's LC_CTYPE. nullopt when they do not convert.
std::optional<std::string> ToUtf8(const char* text, locale_t locale) {
    if (std::string_view(nl_langinfo_l(CODESET, locale)) == "UTF-8") {
        return std::string(text);
    }
    const locale_t previous = uselocale(locale);
    std::mbstate_t state{};
    std::string out;
    std::size_t left = std::strlen(text);
    bool ok = true;
    while (left > 0) {
        wchar_t wide = 0;
        // NOLINTNEXTLINE(concurrency-mt-unsafe): safe with a state of its own
        const std::size_t used = std::mbrtowc(&wide, text, left, &state);
        const auto code = static_cast<char32_t>(wide);
        if (used == 0 || used > left || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
            ok = false;
            break;
        }
        AppendUtf8(out, code);
        text += used;
        left -= used;
    }
    uselocale(previous);
    return ok ? std::optional<std::string>(std::move(out)) : std::nullopt;
}

}  // namespace

LocaleNumberMarks::LocaleNumberMarks(std::optional<std::string> localeName)
    : localeName_(std::move(localeName)) {}

NumberMarks LocaleNumberMarks::UserMarks() {
    NumberMarks marks;
    try {
        const std::string name = localeName_ ? *localeName_ : UserLocaleName();
        // A locale object of our own: the process-wide locale is the toolkit's business.
        const locale_t locale =
            newlocale(LC_NUMERIC_MASK | LC_CTYPE_MASK, name.c_str(), locale_t{});
        if (locale == locale_t{}) {
            return marks;
        }
        const auto decimal = ToUtf8(nl_langinfo_l(RADIXCHAR, locale), locale);
        const auto separator = ToUtf8(nl_langinfo_l(THOUSANDS_SEP, locale), locale);
        const char* grouping = nl_langinfo_l(GROUPING, locale);
        const bool groups = grouping[0] > 0 && grouping[0] != CHAR_MAX;
        freelocale(locale);

        marks.decimal = decimal && decimal->size() == 1 ? decimal->front() : '.';
        marks.group = !groups ? std::string() : separator ? *separator : std::string(",");
    } catch (...) {
        return NumberMarks{};
    }
    return marks;
}

}  // namespace velmaris::platform

// UTF-8, the core's text, to and from UTF-16, the text of Windows' W functions.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmaris::platform {

// nullopt for text that is not valid UTF-8 or holds a NUL: a path must never be altered on
// its way to the system, or a different file would be opened or created.
std::optional<std::wstring> Wide(std::string_view utf8);

// Unpaired surrogates, which Windows allows in names, become U+FFFD.
std::string Utf8(std::wstring_view wide);

}  // namespace velmaris::platform

// Whether a text may reach a control: well-formed UTF-8 that holds nothing that could spoof or
// break a one-line cell. Written apart from the code under test, from Unicode's tables.
#pragma once

#include <cstddef>
#include <string_view>

namespace velmaris::fuzz {

struct Range {
    char32_t first;
    char32_t last;
};

// Controls, line and paragraph separators, Unicode's default-ignorable code points (zero-width
// and bidirectional formatting among them) and the interlinear annotation marks.
inline constexpr Range kUnshown[] = {
    {0x0000, 0x001F}, {0x007F, 0x009F},   {0x00AD, 0x00AD},   {0x034F, 0x034F},   {0x061C, 0x061C},
    {0x115F, 0x1160}, {0x17B4, 0x17B5},   {0x180B, 0x180F},   {0x200B, 0x200F},   {0x2028, 0x202E},
    {0x2060, 0x206F}, {0x3164, 0x3164},   {0xFE00, 0xFE0F},   {0xFEFF, 0xFEFF},   {0xFFA0, 0xFFA0},
    {0xFFF0, 0xFFFB}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF},
};

inline bool IsUnshown(char32_t cp) {
    for (const Range& range : kUnshown) {
        if (cp >= range.first && cp <= range.last) {
            return true;
        }
    }
    return false;
}

// The well-formed byte sequences of the Unicode standard's table 3-7.
inline bool IsCleanDisplayText(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = [&](std::size_t k) {
            return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0u;
        };
        const auto in = [](unsigned value, unsigned low, unsigned high) {
            return value >= low && value <= high;
        };
        const unsigned lead = b(0);
        std::size_t length = 0;
        unsigned secondLow = 0x80;
        unsigned secondHigh = 0xBF;
        if (lead < 0x80) {
            length = 1;
        } else if (in(lead, 0xC2, 0xDF)) {
            length = 2;
        } else if (in(lead, 0xE0, 0xEF)) {
            length = 3;
            secondLow = lead == 0xE0 ? 0xA0 : 0x80;
            secondHigh = lead == 0xED ? 0x9F : 0xBF;
        } else if (in(lead, 0xF0, 0xF4)) {
            length = 4;
            secondLow = lead == 0xF0 ? 0x90 : 0x80;
            secondHigh = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (i + length > text.size() || (length > 1 && !in(b(1), secondLow, secondHigh))) {
            return false;
        }
        char32_t cp = length == 1 ? lead : lead & (0x7Fu >> length);
        for (std::size_t k = 1; k < length; ++k) {
            if (!in(b(k), 0x80, 0xBF)) {
                return false;
            }
            cp = (cp << 6) | (b(k) & 0x3Fu);
        }
        if (IsUnshown(cp)) {
            return false;
        }
        i += length;
    }
    return true;
}

}  // namespace velmaris::fuzz

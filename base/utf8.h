#pragma once

// UTF-8 as the program reads it from outside: only shortest-form sequences of
// Unicode scalar values count (no overlong forms, no surrogates, nothing above
// U+10FFFF), so that every reader agrees on where a character starts and ends.

#include <cstddef>
#include <string_view>

namespace tillbay::utf8 {

struct Sequence {
    size_t length = 0;   // 0 when the bytes at the position are not a valid sequence
    char32_t value = 0;
};

// The sequence that starts at text[i] (i < text.size()).
constexpr Sequence sequence_at(std::string_view text, size_t i)
{
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    if (lead < 0x80)
        return { 1, lead };
    size_t length = 0;
    char32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
    } else {
        return {};
    }
    if (i + length > text.size())
        return {};
    for (size_t k = 1; k < length; ++k) {
        unsigned char c = byte(i + k);
        if ((c & 0xC0) != 0x80)
            return {};
        value = (value << 6) | (c & 0x3F);
    }
    if ((length == 3 && value < 0x800) || (length == 4 && (value < 0x10000 || value > 0x10FFFF)))
        return {};
    if (value >= 0xD800 && value <= 0xDFFF)
        return {};
    return { length, value };
}

constexpr size_t sequence_length(std::string_view text, size_t i) { return sequence_at(text, i).length; }

constexpr bool is_valid(std::string_view text)
{
    for (size_t i = 0; i < text.size();) {
        size_t length = sequence_length(text, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

} // namespace tillbay::utf8

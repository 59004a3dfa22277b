#include "printing/utf8_text.h"

#include <algorithm>

namespace tillbay::printing {

namespace {

// The length of the well-formed character at the start of text and its
// code point; length 0 for bytes that are not valid UTF-8.
size_t next_character(std::string_view text, char32_t& code_point)
{
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(0);
    if (lead < 0x80) {
        code_point = lead;
        return 1;
    }
    size_t length;
    char32_t value;
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
        return 0;
    }
    if (text.size() < length)
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(i) & 0x3F);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF are not UTF-8.
    if ((length == 3 && value < 0x800) || (length == 4 && (value < 0x10000 || value > 0x10FFFF))
        || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    code_point = value;
    return length;
}

} // namespace

bool is_valid_utf8(std::string_view text)
{
    size_t at = 0;
    while (at < text.size()) {
        char32_t code_point;
        size_t length = next_character(text.substr(at), code_point);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

std::string cut_utf8(std::string_view text, size_t max_bytes)
{
    if (text.size() <= max_bytes)
        return std::string(text);
    size_t end = max_bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return std::string(text.substr(0, end));
}

int display_width(std::string_view text)
{
    // The common case, plain ASCII, needs no decoding.
    bool ascii = true;
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii)
        return static_cast<int>(text.size());
    if (!is_valid_utf8(text))
        return static_cast<int>(text.size());
    int width = 0;
    size_t at = 0;
    while (at < text.size()) {
        char32_t code_point = 0;
        at += next_character(text.substr(at), code_point);
        width += code_point < 0x1100 ? 1 : 2;
    }
    return width;
}

size_t fit_width(std::string_view text, int columns)
{
    if (!is_valid_utf8(text))
        return std::min(text.size(), static_cast<size_t>(columns > 0 ? columns : 0));
    int width = 0;
    size_t at = 0;
    while (at < text.size()) {
        char32_t code_point = 0;
        size_t length = next_character(text.substr(at), code_point);
        int w = code_point < 0x1100 ? 1 : 2;
        if (width + w > columns)
            break;
        width += w;
        at += length;
    }
    return at;
}

std::string without_controls(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F)
            out.push_back(c);
    }
    return out;
}

} // namespace tillbay::printing

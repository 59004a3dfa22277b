#include "printing/utf8_text.h"

#include "base/utf8.h"

#include <algorithm>

namespace tillbay::printing {

bool is_valid_utf8(std::string_view text) { return utf8::is_valid(text); }

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
        utf8::Sequence character = utf8::sequence_at(text, at);
        at += character.length;
        width += character.value < 0x1100 ? 1 : 2;
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
        utf8::Sequence character = utf8::sequence_at(text, at);
        int w = character.value < 0x1100 ? 1 : 2;
        if (width + w > columns)
            break;
        width += w;
        at += character.length;
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

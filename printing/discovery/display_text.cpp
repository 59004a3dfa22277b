#include "printing/discovery/display_text.h"

namespace tillbay::discovery {

namespace {

// The length of the valid UTF-8 character at the start of text, 0 when the
// bytes there are not one (overlong forms, surrogates and values above
// U+10FFFF included).
size_t character_length(std::string_view text)
{
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char first = byte(0);
    if (first < 0x80)
        return 1;
    size_t length;
    unsigned min_second = 0x80, max_second = 0xBF;
    if (first >= 0xC2 && first <= 0xDF) {
        length = 2;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3;
        if (first == 0xE0)
            min_second = 0xA0;
        if (first == 0xED)
            max_second = 0x9F;
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4;
        if (first == 0xF0)
            min_second = 0x90;
        if (first == 0xF4)
            max_second = 0x8F;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    if (byte(1) < min_second || byte(1) > max_second)
        return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

} // namespace

std::string display_text(std::string_view bytes, size_t max_bytes)
{
    std::string out;
    while (!bytes.empty()) {
        size_t length = character_length(bytes);
        if (length == 0) {
            bytes.remove_prefix(1);
            continue;
        }
        auto first = static_cast<unsigned char>(bytes[0]);
        bool control = length == 1 && (first < 0x20 || first == 0x7F);
        // U+0080..U+009F are the C1 control characters.
        bool c1 = length == 2 && first == 0xC2 && static_cast<unsigned char>(bytes[1]) < 0xA0;
        if (!control && !c1) {
            bool blank = length == 1 && first == ' ';
            if (!(blank && out.empty())) {
                if (out.size() + length > max_bytes)
                    break;
                out.append(bytes.substr(0, length));
            }
        }
        bytes.remove_prefix(length);
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

} // namespace tillbay::discovery

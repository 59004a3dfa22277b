#include "store/request_text.h"

#include "base/ascii.h"

namespace tillbay::store {

namespace {

constexpr char hex_digits[] = "0123456789ABCDEF";

void append_escape(std::string& out, unsigned char byte)
{
    out += '%';
    out += hex_digits[byte >> 4];
    out += hex_digits[byte & 15];
}

// Bytes that would end a value, start a parameter, or be decoded into
// something else on the way; tab and line breaks are ordinary text in a
// reply or a description and travel encoded.
bool needs_escape(unsigned char c) { return c == '&' || c == '=' || c == '%' || c == '+' || c == '#' || c == '\t' || c == '\n' || c == '\r'; }

bool is_control(unsigned char c) { return (c < 32 && c != '\t' && c != '\n' && c != '\r') || c == 127; }

} // namespace

bool is_digits(std::string_view text, size_t max_digits)
{
    if (text.empty() || text.size() > max_digits)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

Result<std::string> encode_value(std::string_view value, ValueEncoding encoding)
{
    std::string out;
    out.reserve(value.size() + 8);
    for (size_t i = 0; i < value.size(); ++i) {
        auto c = static_cast<unsigned char>(value[i]);
        if (encoding == ValueEncoding::EveryByte) {
            append_escape(out, c);
            continue;
        }
        if (is_control(c))
            return Error::with_message(text_bad_value, "control byte in a request value");
        if (encoding == ValueEncoding::PageEncoded && c == '%' && i + 2 < value.size() && ascii::hex_digit_value(value[i + 1]) >= 0
            && ascii::hex_digit_value(value[i + 2]) >= 0) {
            out.append(value.substr(i, 3));
            i += 2;
            continue;
        }
        if (needs_escape(c))
            append_escape(out, c);
        else
            out += static_cast<char>(c);
    }
    return out;
}

Result<SecretString> fill_request(std::string_view pattern, bridge::Command const& command, int storeidx)
{
    SecretString out;
    out.str().reserve(pattern.size() + 64);
    size_t i = 0;
    while (i < pattern.size()) {
        size_t open = pattern.find('{', i);
        if (open == std::string_view::npos) {
            out.append(pattern.substr(i));
            break;
        }
        out.append(pattern.substr(i, open - i));
        size_t close = pattern.find('}', open);
        std::string_view slot = pattern.substr(open + 1, close - open - 1);
        i = close + 1;
        if (slot == "s") {
            out.append(std::to_string(storeidx));
            continue;
        }
        if (slot.size() == 2 && slot[0] == '*') {
            // Free text: argument N with every field after it.
            std::string text;
            size_t first = static_cast<size_t>(slot[1] - '0');
            for (size_t f = first; f < command.fields.size(); ++f) {
                if (f > first)
                    text += "</>";
                text += command.fields[f];
            }
            auto encoded = encode_value(text, ValueEncoding::Safe);
            wipe(text);
            if (!encoded.ok())
                return encoded.release_error();
            out.append(encoded.value());
            wipe(encoded.value());
            continue;
        }
        char kind = slot.size() == 2 ? slot[0] : ' ';
        size_t index = static_cast<size_t>(slot.back() - '0');
        std::string_view value = command.arg(index);
        if (kind == '#') {
            if (!is_digits(value))
                return Error::with_message(text_bad_number, "argument is not a number");
            out.append(value);
            continue;
        }
        ValueEncoding encoding = kind == '%' ? ValueEncoding::EveryByte : kind == '~' ? ValueEncoding::PageEncoded : ValueEncoding::Safe;
        auto encoded = encode_value(value, encoding);
        if (!encoded.ok())
            return encoded.release_error();
        out.append(encoded.value());
        wipe(encoded.value());
    }
    return out;
}

} // namespace tillbay::store

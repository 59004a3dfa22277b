#include "printing/json_reader.h"

#include "base/ascii.h"
#include "printing/utf8_text.h"

#include <climits>

namespace tillbay::printing::json_reader {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

size_t skip_blanks(std::string_view text, size_t at)
{
    while (at < text.size() && is_blank(text[at]))
        ++at;
    return at;
}

// Where the string starting at the quote at `at` ends (after its closing
// quote), or npos.
size_t string_end(std::string_view text, size_t at)
{
    for (size_t i = at + 1; i < text.size(); ++i) {
        if (text[i] == '\\')
            ++i;
        else if (text[i] == '"')
            return i + 1;
    }
    return std::string_view::npos;
}

// Where the value starting at `at` ends, or npos when it is malformed.
size_t value_end(std::string_view text, size_t at)
{
    if (at >= text.size())
        return std::string_view::npos;
    char first = text[at];
    if (first == '"')
        return string_end(text, at);
    if (first == '{' || first == '[') {
        int depth = 0;
        for (size_t i = at; i < text.size(); ++i) {
            char c = text[i];
            if (c == '"') {
                i = string_end(text, i);
                if (i == std::string_view::npos)
                    return i;
                --i;
            } else if (c == '{' || c == '[') {
                if (++depth > max_depth)
                    return std::string_view::npos;
            } else if (c == '}' || c == ']') {
                if (--depth == 0)
                    return i + 1;
            }
        }
        return std::string_view::npos;
    }
    size_t i = at;
    while (i < text.size() && text[i] != ',' && text[i] != '}' && text[i] != ']' && !is_blank(text[i]))
        ++i;
    return i == at ? std::string_view::npos : i;
}

void append_utf8(std::string& out, char32_t code_point)
{
    if (code_point < 0x80) {
        out.push_back(static_cast<char>(code_point));
    } else if (code_point < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else if (code_point < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    }
}

// Four hexadecimal digits at `at`, or -1.
long hex4(std::string_view text, size_t at)
{
    if (at + 4 > text.size())
        return -1;
    long value = 0;
    for (size_t i = at; i < at + 4; ++i) {
        int digit = ascii::hex_digit_value(text[i]);
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

std::string unescape(std::string_view body)
{
    std::string out;
    out.reserve(body.size());
    for (size_t i = 0; i < body.size(); ++i) {
        char c = body[i];
        if (c != '\\' || i + 1 >= body.size()) {
            out.push_back(c);
            continue;
        }
        char escaped = body[++i];
        switch (escaped) {
        case 'n':
            out.push_back('\n');
            break;
        case 'r':
            out.push_back('\r');
            break;
        case 't':
            out.push_back('\t');
            break;
        case 'b':
            out.push_back('\b');
            break;
        case 'f':
            out.push_back('\f');
            break;
        case 'u': {
            long unit = hex4(body, i + 1);
            if (unit < 0) {
                append_utf8(out, 0xFFFD);
                break;
            }
            i += 4;
            char32_t code_point = static_cast<char32_t>(unit);
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                long low = (i + 2 < body.size() && body[i + 1] == '\\' && body[i + 2] == 'u') ? hex4(body, i + 3) : -1;
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    code_point = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (static_cast<char32_t>(low) - 0xDC00);
                    i += 6;
                } else {
                    code_point = 0xFFFD;
                }
            } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                code_point = 0xFFFD;
            }
            append_utf8(out, code_point);
            break;
        }
        default:
            out.push_back(escaped);
            break;
        }
    }
    return out;
}

} // namespace

std::optional<std::string_view> member(std::string_view object, std::string_view key)
{
    size_t at = skip_blanks(object, 0);
    if (at >= object.size() || object[at] != '{')
        return std::nullopt;
    at = skip_blanks(object, at + 1);
    if (at < object.size() && object[at] == '}')
        return std::nullopt;
    while (at < object.size()) {
        if (object[at] != '"')
            return std::nullopt;
        size_t key_end = string_end(object, at);
        if (key_end == std::string_view::npos)
            return std::nullopt;
        std::string_view raw_key = object.substr(at + 1, key_end - at - 2);
        at = skip_blanks(object, key_end);
        if (at >= object.size() || object[at] != ':')
            return std::nullopt;
        at = skip_blanks(object, at + 1);
        size_t end = value_end(object, at);
        if (end == std::string_view::npos)
            return std::nullopt;
        bool match = raw_key.find('\\') == std::string_view::npos ? raw_key == key : unescape(raw_key) == key;
        if (match)
            return object.substr(at, end - at);
        at = skip_blanks(object, end);
        if (at >= object.size() || object[at] != ',')
            return std::nullopt;
        at = skip_blanks(object, at + 1);
    }
    return std::nullopt;
}

std::vector<std::string_view> elements(std::string_view array)
{
    std::vector<std::string_view> out;
    size_t at = skip_blanks(array, 0);
    if (at >= array.size() || array[at] != '[')
        return out;
    at = skip_blanks(array, at + 1);
    if (at < array.size() && array[at] == ']')
        return out;
    while (at < array.size()) {
        size_t end = value_end(array, at);
        if (end == std::string_view::npos)
            return out;
        out.push_back(array.substr(at, end - at));
        at = skip_blanks(array, end);
        if (at >= array.size() || array[at] != ',')
            return out;
        at = skip_blanks(array, at + 1);
    }
    return out;
}

std::string text(std::optional<std::string_view> raw, size_t max_bytes)
{
    if (!raw || raw->empty())
        return {};
    std::string out;
    if (raw->front() == '"') {
        if (raw->size() < 2)
            return {};
        out = unescape(raw->substr(1, raw->size() - 2));
    } else if (raw->front() == '-' || (raw->front() >= '0' && raw->front() <= '9')) {
        out = std::string(*raw);
    }
    return cut_utf8(out, max_bytes);
}

long long integer(std::optional<std::string_view> raw, long long default_value)
{
    if (!raw || raw->empty())
        return default_value;
    std::string_view value = *raw;
    if (value.front() == '"') {
        value = value.size() >= 2 ? value.substr(1, value.size() - 2) : std::string_view {};
        while (!value.empty() && value.front() == ' ')
            value.remove_prefix(1);
    }
    bool negative = !value.empty() && value.front() == '-';
    if (negative)
        value.remove_prefix(1);
    if (value.empty() || value.front() < '0' || value.front() > '9')
        return default_value;
    unsigned long long magnitude = 0;
    bool saturated = false;
    for (char c : value) {
        if (c < '0' || c > '9')
            break;
        if (magnitude > (static_cast<unsigned long long>(LLONG_MAX) - (c - '0')) / 10) {
            saturated = true;
            break;
        }
        magnitude = magnitude * 10 + static_cast<unsigned long long>(c - '0');
    }
    if (saturated)
        return negative ? LLONG_MIN : LLONG_MAX;
    return negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
}

} // namespace tillbay::printing::json_reader

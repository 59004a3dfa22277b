#pragma once

// Byte-wise helpers for the ASCII parts of what the program reads: section
// and key names, schemes and host names, hex digests, colour words. Only
// 'A'-'Z' fold, so UTF-8 bytes pass through untouched and the result never
// depends on the locale, as <cctype> would.

#include <climits>
#include <string>
#include <string_view>

namespace tillbay::ascii {

constexpr char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr bool equals_ignoring_case(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

constexpr bool starts_with_ignoring_case(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && equals_ignoring_case(text.substr(0, prefix.size()), prefix);
}

inline std::string lowered(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = lower(c);
    return out;
}

// The value of one hexadecimal digit of either case, -1 for any other byte.
constexpr int hex_digit_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A decimal number the way atoi reads it: optional blanks and sign, then
// digits up to the first other byte; empty or unreadable is 0, and a value
// beyond the 32-bit range is clamped rather than wrapped.
constexpr int leading_int(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        value = INT_MAX;
    return static_cast<int>(value);
}

} // namespace tillbay::ascii

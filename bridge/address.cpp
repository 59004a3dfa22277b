#include "bridge/address.h"

#include "base/ascii.h"

#include <cstring>

namespace tillbay::bridge {

namespace {

// The length of the UTF-8 sequence starting at text[i], or 0 when it is not
// a valid, shortest-form sequence of a scalar value.
size_t utf8_sequence(std::string_view text, size_t i)
{
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    uint32_t value = 0;
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
    if (i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        unsigned char c = byte(i + k);
        if ((c & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (c & 0x3F);
    }
    if ((length == 3 && value < 0x800) || (length == 4 && (value < 0x10000 || value > 0x10FFFF)))
        return 0;
    if (value >= 0xD800 && value <= 0xDFFF)
        return 0;
    return length;
}

// Decodes the percent escapes of a path and checks what the decoded path may
// hold. An encoded separator, escape or drive colon would let two different
// texts name one file, so it is refused rather than interpreted.
bool check_path(std::string_view raw, std::string& decoded)
{
    decoded.clear();
    decoded.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (c != '%') {
            decoded.push_back(c);
            continue;
        }
        int high = i + 1 < raw.size() ? ascii::hex_digit_value(raw[i + 1]) : -1;
        int low = i + 2 < raw.size() ? ascii::hex_digit_value(raw[i + 2]) : -1;
        if (high < 0 || low < 0)
            return false;
        char d = static_cast<char>(high * 16 + low);
        if (d == '/' || d == '\\' || d == '%' || d == '?' || d == '#' || d == ':')
            return false;
        decoded.push_back(d);
        i += 2;
    }
    if (decoded.empty() || decoded[0] != '/' || !is_safe_text(decoded))
        return false;
    // Every segment between slashes: no "." or "..", none ending in a dot or
    // a blank (names the file system would read as another name).
    size_t start = 1;
    while (start <= decoded.size()) {
        size_t end = decoded.find('/', start);
        if (end == std::string::npos)
            end = decoded.size();
        std::string_view segment(decoded.data() + start, end - start);
        if (!segment.empty() && (segment.back() == '.' || segment.back() == ' '))
            return false;
        start = end + 1;
    }
    return true;
}

bool valid_host(std::string_view host)
{
    if (host.empty() || host.front() == '.' || host.back() == '.' || host.find("..") != std::string_view::npos)
        return false;
    for (char c : host) {
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
        if (!ok)
            return false;
    }
    return true;
}

// Reads a decimal number the way "%d" would at the start of text: optional
// blanks and sign, then digits; false when there are no digits.
bool scan_int(std::string_view text, size_t& pos, long long& value)
{
    while (pos < text.size() && (text[pos] == ' ' || (text[pos] >= '\t' && text[pos] <= '\r')))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    size_t digits = 0;
    value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        if (value < 1'000'000'000'000LL)
            value = value * 10 + (text[pos] - '0');
        ++pos;
        ++digits;
    }
    if (negative)
        value = -value;
    return digits > 0;
}

} // namespace

bool is_valid_utf8(std::string_view text)
{
    for (size_t i = 0; i < text.size();) {
        size_t length = utf8_sequence(text, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

bool is_safe_text(std::string_view text)
{
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 32 || c == 127 || c == '\\' || c == '"' || c == '<' || c == '>')
            return false;
    }
    return is_valid_utf8(text);
}

size_t utf16_length(std::string_view utf8)
{
    size_t units = 0;
    for (size_t i = 0; i < utf8.size();) {
        size_t length = utf8_sequence(utf8, i);
        if (length == 0) {
            ++units;
            ++i;
            continue;
        }
        units += length == 4 ? 2 : 1;
        i += length;
    }
    return units;
}

std::optional<Address> parse_address(std::string_view text, std::string_view ui_scheme)
{
    if (text.empty() || text.size() > max_address_length || !is_safe_text(text))
        return std::nullopt;
    size_t cut = text.find_first_of("?#");
    if (cut != std::string_view::npos)
        text = text.substr(0, cut);
    size_t marker = text.find("://");
    if (marker == std::string_view::npos)
        return std::nullopt;

    Address address;
    address.scheme = ascii::lowered(text.substr(0, marker));
    std::string_view rest = text.substr(marker + 3);
    size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    std::string_view raw_path = slash == std::string_view::npos ? std::string_view("/") : rest.substr(slash);

    if (address.scheme == "file") {
        // On this platform a file page is an absolute POSIX path: the
        // address has no authority and the path begins with "/".
        if (!authority.empty() || raw_path.size() < 2 || raw_path[0] != '/')
            return std::nullopt;
        address.file = true;
        if (!check_path(raw_path, address.path))
            return std::nullopt;
        return address;
    }

    uint16_t default_port = 0;
    if (address.scheme == "https" || (!ui_scheme.empty() && address.scheme == ascii::lowered(ui_scheme)))
        default_port = 443;
    else if (address.scheme == "http")
        default_port = 80;
    else
        return std::nullopt;

    if (authority.empty() || authority.find_first_of("@%") != std::string_view::npos)
        return std::nullopt;
    std::string_view host = authority;
    address.port = default_port;
    size_t colon = authority.find(':');
    if (colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        std::string_view digits = authority.substr(colon + 1);
        if (digits.empty() || digits.size() > 5)
            return std::nullopt;
        unsigned value = 0;
        for (char c : digits) {
            if (c < '0' || c > '9')
                return std::nullopt;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (value < 1 || value > 65535)
            return std::nullopt;
        address.port = static_cast<uint16_t>(value);
    }
    if (!valid_host(host))
        return std::nullopt;
    address.host = ascii::lowered(host);
    if (!check_path(raw_path, address.path))
        return std::nullopt;
    return address;
}

std::string web_host_with_scheme(std::string_view configured)
{
    if (configured.find("://") != std::string_view::npos)
        return std::string(configured);
    bool plain = configured == "localhost";
    if (!plain) {
        size_t pos = 0;
        long long a = 0, b = 0;
        if (scan_int(configured, pos, a) && pos < configured.size() && configured[pos] == '.') {
            ++pos;
            if (scan_int(configured, pos, b))
                plain = a == 127 || a == 10 || (a == 192 && b == 168) || (a == 172 && b >= 16 && b <= 31);
        }
    }
    return std::string(plain ? "http://" : "https://") + std::string(configured);
}

std::string with_valid_utf8(std::string_view text)
{
    if (is_valid_utf8(text))
        return std::string(text);
    std::string out;
    out.reserve(text.size() + 16);
    for (size_t i = 0; i < text.size();) {
        size_t length = utf8_sequence(text, i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

std::string file_address(std::string_view absolute_path)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    static constexpr std::string_view must_encode = "\"#%<>?[\\]^`{|}";
    std::string out = "file://";
    for (char ch : absolute_path) {
        auto c = static_cast<unsigned char>(ch);
        bool keep = c > 32 && c < 127 && must_encode.find(static_cast<char>(c)) == std::string_view::npos;
        if (keep) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 15]);
        }
    }
    return out;
}

} // namespace tillbay::bridge

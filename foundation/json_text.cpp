#include "foundation/json_text.h"

#include "base/ascii.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace tillbay::json {

namespace {

constexpr char hex_lower[] = "0123456789abcdef";
constexpr char hex_upper[] = "0123456789ABCDEF";

// The escape of one byte under the JSON string rules; empty when the byte is
// copied as it is.
std::string_view escape_of(unsigned char byte, char (&scratch)[7])
{
    switch (byte) {
    case '\t':
        return "\\t";
    case '\n':
        return "\\n";
    case '\r':
        return "\\r";
    case '"':
        return "\\\"";
    case '\\':
        return "\\\\";
    default:
        break;
    }
    if (byte >= 32)
        return {};
    scratch[0] = '\\';
    scratch[1] = 'u';
    scratch[2] = '0';
    scratch[3] = '0';
    scratch[4] = hex_lower[byte >> 4];
    scratch[5] = hex_lower[byte & 15];
    scratch[6] = 0;
    return { scratch, 6 };
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Where the value after the first "key" begins, or npos when the key is
// missing (or too long to be one the program asks for).
size_t after_key(std::string_view text, std::string_view key)
{
    if (key.size() > max_key_length)
        return std::string_view::npos;
    std::string pattern;
    pattern.reserve(key.size() + 2);
    pattern += '"';
    pattern += key;
    pattern += '"';
    // glibc's memmem is several times faster than string_view::find on the
    // 64 KiB answers the readers scan once per field.
    void const* hit = memmem(text.data(), text.size(), pattern.data(), pattern.size());
    if (!hit)
        return std::string_view::npos;
    return static_cast<size_t>(static_cast<char const*>(hit) - text.data()) + pattern.size();
}

} // namespace

std::string quote(std::string_view text)
{
    // The exact size first: the text may be a secret (a decrypted owner
    // answer), and a buffer that grows leaves copies of it behind.
    char scratch[7];
    size_t size = 2;
    for (char c : text) {
        auto escape = escape_of(static_cast<unsigned char>(c), scratch);
        size += escape.empty() ? 1 : escape.size();
    }
    std::string out;
    out.reserve(size);
    out += '"';
    for (char c : text) {
        auto escape = escape_of(static_cast<unsigned char>(c), scratch);
        if (escape.empty())
            out += c;
        else
            out += escape;
    }
    out += '"';
    return out;
}

std::string escape_bounded(char const* text, size_t buffer_size)
{
    std::string out;
    if (!text || buffer_size <= 7)
        return out;
    size_t const limit = buffer_size - 7;
    char scratch[7];
    // The size first, so that the output is filled without growing: the
    // text may carry a token or a password.
    size_t size = 0;
    for (char const* p = text; *p; ++p) {
        auto escape = escape_of(static_cast<unsigned char>(*p), scratch);
        size_t const piece = escape.empty() ? 1 : escape.size();
        if (size + piece > limit)
            break;
        size += piece;
    }
    out.reserve(size);
    for (char const* p = text; *p; ++p) {
        char const byte = *p;
        auto escape = escape_of(static_cast<unsigned char>(byte), scratch);
        size_t const piece = escape.empty() ? 1 : escape.size();
        if (out.size() + piece > limit)
            break;
        if (escape.empty())
            out += byte;
        else
            out += escape;
    }
    return out;
}

std::string guard_ampersand(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '&')
            out += "\\u0026";
        else
            out += c;
    }
    return out;
}

std::string inject_storeidx(std::string_view object_text, int storeidx)
{
    if (object_text.find("\"storeidx\"") != std::string_view::npos)
        return std::string(object_text);
    size_t brace = object_text.find('{');
    if (brace == std::string_view::npos)
        return std::string(object_text);
    std::string member = "\"storeidx\":" + std::to_string(storeidx);
    // An empty object takes the member without the separating comma: a
    // trailing comma would make the order text invalid JSON.
    size_t next = brace + 1;
    while (next < object_text.size() && is_blank(object_text[next]))
        ++next;
    if (next >= object_text.size() || object_text[next] != '}')
        member += ',';
    std::string out;
    out.reserve(object_text.size() + member.size());
    out.append(object_text.substr(0, brace + 1));
    out += member;
    out.append(object_text.substr(brace + 1));
    return out;
}

int int_field(std::string_view text, std::string_view key, int default_value)
{
    size_t at = after_key(text, key);
    if (at == std::string_view::npos)
        return default_value;
    while (at < text.size() && (is_blank(text[at]) || text[at] == ':' || text[at] == '"'))
        ++at;
    if (at >= text.size() || !(text[at] == '-' || (text[at] >= '0' && text[at] <= '9')))
        return default_value;
    bool negative = text[at] == '-';
    if (negative)
        ++at;
    // Base-10 string-to-long rules: stop at the first non-digit, saturate on
    // overflow; then clamp to the 32-bit range the callers store.
    long long value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        if (value <= (LLONG_MAX - 9) / 10)
            value = value * 10 + (text[at] - '0');
        ++at;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

bool text_field(std::string_view text, std::string_view key, std::string& out, size_t size)
{
    out.clear();
    size_t at = after_key(text, key);
    if (at == std::string_view::npos)
        return false;
    while (at < text.size() && (is_blank(text[at]) || text[at] == ':'))
        ++at;
    if (at >= text.size() || text[at] != '"')
        return false;
    ++at;
    size_t const room = size > 0 ? size - 1 : 0;
    // Reserved once, so that a secret value (a token, a device key, an owner
    // answer) never leaves a copy behind in a buffer the string outgrew.
    out.reserve(std::min(room, text.size() - at));
    while (at < text.size() && text[at] != '"' && out.size() < room) {
        char c = text[at++];
        if (c == '\\' && at < text.size()) {
            char escaped = text[at++];
            switch (escaped) {
            case 'n':
                c = '\n';
                break;
            case 'r':
                c = '\r';
                break;
            case 't':
                c = '\t';
                break;
            default:
                c = escaped;
                break;
            }
        }
        out += c;
    }
    return true;
}

std::string array_object(std::string_view text, std::string_view key, int index, size_t size)
{
    if (index < 0)
        return {};
    size_t at = after_key(text, key);
    if (at == std::string_view::npos)
        return {};
    at = text.find('[', at);
    if (at == std::string_view::npos)
        return {};
    ++at;
    for (int number = 0; auto object = next_array_object(text, at); ++number) {
        if (number == index) {
            size_t const room = size > 0 ? size - 1 : 0;
            return std::string(object->substr(0, room));
        }
    }
    return {};
}

std::optional<std::string_view> next_array_object(std::string_view text, size_t& at)
{
    int depth = 0;
    size_t start = 0;
    bool in_string = false;
    for (size_t i = at; i < text.size(); ++i) {
        char c = text[i];
        if (in_string) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                in_string = false;
            continue;
        }
        if (c == '"') {
            in_string = true;
        } else if (c == '{') {
            if (depth == 0)
                start = i;
            ++depth;
        } else if (c == '}') {
            // A stray closing brace at depth 0 belongs to no object: ignoring
            // it keeps the count from going negative on broken answers.
            if (depth == 0)
                continue;
            if (--depth == 0) {
                at = i + 1;
                return text.substr(start, i + 1 - start);
            }
        } else if (c == ']' && depth == 0) {
            at = i;
            return std::nullopt;
        }
    }
    at = text.size();
    return std::nullopt;
}

PreviewWriter::PreviewWriter(size_t capacity)
    : m_capacity(capacity)
{
}

bool PreviewWriter::append(std::string_view piece)
{
    if (m_text.size() + 2 + piece.size() >= m_capacity) {
        m_overflow = true;
        return false;
    }
    m_text.append(piece);
    return true;
}

void PreviewWriter::open_element(std::string_view type)
{
    std::string piece;
    piece.reserve(type.size() + 9);
    if (m_elements > 0)
        piece += ',';
    piece += "{\"t\":\"";
    piece += type;
    piece += '"';
    if (append(piece))
        ++m_elements;
}

void PreviewWriter::text_member(std::string_view name, std::string_view value)
{
    std::string escaped;
    escaped.reserve(value.size() < max_member_value ? value.size() : max_member_value);
    char scratch[7];
    size_t i = 0;
    for (; i < value.size(); ++i) {
        unsigned char byte = static_cast<unsigned char>(value[i]);
        std::string_view piece;
        char two[2] = { '\\', static_cast<char>(byte) };
        if (byte == '"' || byte == '\\') {
            piece = { two, 2 };
        } else if (byte < 32) {
            scratch[0] = '\\';
            scratch[1] = 'u';
            scratch[2] = '0';
            scratch[3] = '0';
            scratch[4] = hex_lower[byte >> 4];
            scratch[5] = hex_lower[byte & 15];
            piece = { scratch, 6 };
        } else {
            piece = { two + 1, 1 };
        }
        if (escaped.size() + piece.size() > max_member_value)
            break;
        escaped += piece;
    }
    // A value cut short must not end inside a UTF-8 sequence: the page would
    // receive a broken character, and a strict decoder may drop the whole view.
    if (i < value.size()) {
        size_t const end = escaped.size();
        size_t after_lead = end;
        while (after_lead > 0 && end - after_lead < 3 && (static_cast<unsigned char>(escaped[after_lead - 1]) & 0xC0) == 0x80)
            --after_lead;
        if (after_lead > 0) {
            unsigned char lead = static_cast<unsigned char>(escaped[after_lead - 1]);
            size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
            if (lead >= 0xC0 && end - (after_lead - 1) < need)
                escaped.resize(after_lead - 1);
        }
    }
    std::string piece;
    piece.reserve(name.size() + escaped.size() + 6);
    piece += ",\"";
    piece += name;
    piece += "\":\"";
    piece += escaped;
    piece += '"';
    append(piece);
}

void PreviewWriter::style_members(int align, int size, int bold)
{
    if (align == 0 && size == 0 && bold == 0)
        return;
    std::string piece = ",\"a\":" + std::to_string(align) + ",\"z\":" + std::to_string(size) + ",\"b\":" + std::to_string(bold);
    append(piece);
}

void PreviewWriter::append_raw(std::string_view piece)
{
    append(piece);
}

void PreviewWriter::rollback(Mark mark)
{
    if (mark.length <= m_text.size()) {
        m_text.resize(mark.length);
        m_elements = mark.elements;
    }
}

std::string percent_encode(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        unsigned char byte = static_cast<unsigned char>(c);
        bool keep = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9')
            || byte == '-' || byte == '_' || byte == '.' || byte == '~';
        if (keep) {
            out += c;
        } else {
            out += '%';
            out += hex_upper[byte >> 4];
            out += hex_upper[byte & 15];
        }
    }
    return out;
}

std::string percent_decode(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        if (c == '%' && i + 2 < bytes.size() && ascii::hex_digit_value(bytes[i + 1]) >= 0
            && ascii::hex_digit_value(bytes[i + 2]) >= 0) {
            out += static_cast<char>(ascii::hex_digit_value(bytes[i + 1]) * 16 + ascii::hex_digit_value(bytes[i + 2]));
            i += 2;
        } else if (c == '+') {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> base64_decode(std::string_view text)
{
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    unsigned bits = 0;
    int bit_count = 0;
    int sextets = 0;
    int pads = 0;
    for (char c : text) {
        if (c == '\r' || c == '\n' || c == ' ' || c == '\t')
            continue;
        if (c == '=') {
            if (++pads > 2)
                return std::nullopt;
            continue;
        }
        int value;
        if (c >= 'A' && c <= 'Z')
            value = c - 'A';
        else if (c >= 'a' && c <= 'z')
            value = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            value = c - '0' + 52;
        else if (c == '+')
            value = 62;
        else if (c == '/')
            value = 63;
        else
            return std::nullopt;
        if (pads > 0)
            return std::nullopt;
        bits = (bits << 6) | static_cast<unsigned>(value);
        bit_count += 6;
        ++sextets;
        if (bit_count >= 8) {
            bit_count -= 8;
            out += static_cast<char>((bits >> bit_count) & 0xFF);
        }
        bits &= (1u << bit_count) - 1;
    }
    // One character left over in the last group holds six bits, not a byte:
    // no encoder produces that, so the text was cut or damaged.
    if (sextets % 4 == 1)
        return std::nullopt;
    return out;
}

std::string base64_encode(std::string_view bytes)
{
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8)
            | static_cast<unsigned char>(bytes[i + 2]);
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += alphabet[v & 63];
    }
    size_t rest = bytes.size() - i;
    if (rest > 0) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2)
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += rest == 2 ? alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

} // namespace tillbay::json

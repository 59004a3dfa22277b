#include "door/json_value.h"

#include <cstdio>

namespace tillbay::door {

namespace {

class Reader {
public:
    explicit Reader(std::string_view text)
        : m_text(text)
    {
    }

    bool value(std::string& out, size_t depth)
    {
        if (depth > max_state_depth)
            return false;
        blanks();
        if (m_pos >= m_text.size())
            return false;
        char c = m_text[m_pos];
        if (c == '{')
            return object(out, depth);
        if (c == '[')
            return array(out, depth);
        if (c == '"')
            return string(out);
        if (c == '-' || (c >= '0' && c <= '9'))
            return number(out);
        for (std::string_view word : { "true", "false", "null" }) {
            if (m_text.substr(m_pos, word.size()) == word) {
                m_pos += word.size();
                out += word;
                return true;
            }
        }
        return false;
    }

    bool at_end()
    {
        blanks();
        return m_pos == m_text.size();
    }

private:
    void blanks()
    {
        while (m_pos < m_text.size()
            && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' || m_text[m_pos] == '\n' || m_text[m_pos] == '\r'))
            ++m_pos;
    }

    bool take(char c)
    {
        blanks();
        if (m_pos < m_text.size() && m_text[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }

    bool object(std::string& out, size_t depth)
    {
        ++m_pos;
        out += '{';
        if (take('}')) {
            out += '}';
            return true;
        }
        for (;;) {
            blanks();
            if (m_pos >= m_text.size() || m_text[m_pos] != '"' || !string(out))
                return false;
            if (!take(':'))
                return false;
            out += ':';
            if (!value(out, depth + 1))
                return false;
            if (take('}')) {
                out += '}';
                return true;
            }
            if (!take(','))
                return false;
            out += ',';
        }
    }

    bool array(std::string& out, size_t depth)
    {
        ++m_pos;
        out += '[';
        if (take(']')) {
            out += ']';
            return true;
        }
        for (;;) {
            if (!value(out, depth + 1))
                return false;
            if (take(']')) {
                out += ']';
                return true;
            }
            if (!take(','))
                return false;
            out += ',';
        }
    }

    bool digits()
    {
        size_t start = m_pos;
        while (m_pos < m_text.size() && m_text[m_pos] >= '0' && m_text[m_pos] <= '9')
            ++m_pos;
        return m_pos > start;
    }

    bool number(std::string& out)
    {
        size_t start = m_pos;
        if (m_text[m_pos] == '-')
            ++m_pos;
        if (m_pos < m_text.size() && m_text[m_pos] == '0')
            ++m_pos;
        else if (!digits())
            return false;
        if (m_pos < m_text.size() && m_text[m_pos] == '.') {
            ++m_pos;
            if (!digits())
                return false;
        }
        if (m_pos < m_text.size() && (m_text[m_pos] == 'e' || m_text[m_pos] == 'E')) {
            ++m_pos;
            if (m_pos < m_text.size() && (m_text[m_pos] == '+' || m_text[m_pos] == '-'))
                ++m_pos;
            if (!digits())
                return false;
        }
        out += m_text.substr(start, m_pos - start);
        return true;
    }

    static int hex(char c)
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    bool hex4(unsigned& value)
    {
        if (m_pos + 4 > m_text.size())
            return false;
        value = 0;
        for (int i = 0; i < 4; ++i) {
            int digit = hex(m_text[m_pos++]);
            if (digit < 0)
                return false;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        return true;
    }

    static void put_code_point(std::string& out, unsigned cp)
    {
        // The few characters that must not reach a script or an HTML
        // parser as they are leave as escapes.
        if (cp < 0x20 || cp == '<' || cp == 0x2028 || cp == 0x2029 || cp == 0x7F) {
            switch (cp) {
            case '\n':
                out += "\\n";
                return;
            case '\r':
                out += "\\r";
                return;
            case '\t':
                out += "\\t";
                return;
            default: {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", cp);
                out += buffer;
                return;
            }
            }
        }
        if (cp == '"' || cp == '\\') {
            out += '\\';
            out += static_cast<char>(cp);
            return;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    // One UTF-8 character of the raw text; false for bytes that do not form one.
    bool utf8(unsigned& cp)
    {
        auto byte = [&](size_t k) { return static_cast<unsigned char>(m_text[k]); };
        unsigned char c = byte(m_pos);
        size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        if (length == 0 || c > 0xF4 || m_pos + length > m_text.size())
            return false;
        cp = length == 1 ? c : length == 2 ? (c & 0x1F) : length == 3 ? (c & 0x0F) : (c & 0x07);
        for (size_t k = 1; k < length; ++k) {
            if ((byte(m_pos + k) & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (byte(m_pos + k) & 0x3F);
        }
        if ((length == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        m_pos += length;
        return true;
    }

    bool string(std::string& out)
    {
        ++m_pos;
        out += '"';
        for (;;) {
            if (m_pos >= m_text.size())
                return false;
            char c = m_text[m_pos];
            if (c == '"') {
                ++m_pos;
                out += '"';
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            unsigned cp = 0;
            if (c != '\\') {
                if (!utf8(cp))
                    return false;
                put_code_point(out, cp);
                continue;
            }
            if (++m_pos >= m_text.size())
                return false;
            char e = m_text[m_pos++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                cp = static_cast<unsigned char>(e);
                break;
            case 'b':
                cp = '\b';
                break;
            case 'f':
                cp = '\f';
                break;
            case 'n':
                cp = '\n';
                break;
            case 'r':
                cp = '\r';
                break;
            case 't':
                cp = '\t';
                break;
            case 'u': {
                if (!hex4(cp))
                    return false;
                if (cp >= 0xDC00 && cp <= 0xDFFF)
                    return false;
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    unsigned low = 0;
                    if (m_text.substr(m_pos, 2) != "\\u")
                        return false;
                    m_pos += 2;
                    if (!hex4(low) || low < 0xDC00 || low > 0xDFFF)
                        return false;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                break;
            }
            default:
                return false;
            }
            put_code_point(out, cp);
        }
    }

    std::string_view m_text;
    size_t m_pos = 0;
};

} // namespace

std::optional<std::string> canonical_json(std::string_view text)
{
    if (text.size() > max_state_bytes)
        return std::nullopt;
    Reader reader(text);
    std::string out;
    out.reserve(text.size());
    if (!reader.value(out, 1) || !reader.at_end())
        return std::nullopt;
    return out;
}

} // namespace tillbay::door

#include "orders/order_json.h"

#include "base/ascii.h"
#include "foundation/json_text.h"

#include <vector>

namespace tillbay::orders {

namespace {

// A small reader that checks the JSON grammar and reports where each
// top-level member of the object begins and ends.
class Scanner {
public:
    explicit Scanner(std::string_view text)
        : m_text(text)
    {
    }

    struct Member {
        size_t start = 0; // the key's opening quote
        size_t end = 0;   // just after the value
        std::string key;  // decoded
    };

    bool object_members(std::vector<Member>& members)
    {
        skip_blanks();
        if (!take('{'))
            return false;
        skip_blanks();
        if (take('}'))
            return finished();
        for (;;) {
            skip_blanks();
            Member member;
            member.start = m_at;
            if (!string(&member.key))
                return false;
            skip_blanks();
            if (!take(':'))
                return false;
            skip_blanks();
            if (!value(1))
                return false;
            member.end = m_at;
            members.push_back(std::move(member));
            skip_blanks();
            if (take(','))
                continue;
            if (take('}'))
                return finished();
            return false;
        }
    }

private:
    bool finished()
    {
        skip_blanks();
        return m_at == m_text.size();
    }
    bool take(char c)
    {
        if (m_at < m_text.size() && m_text[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }
    void skip_blanks()
    {
        while (m_at < m_text.size()
            && (m_text[m_at] == ' ' || m_text[m_at] == '\t' || m_text[m_at] == '\n' || m_text[m_at] == '\r'))
            ++m_at;
    }
    bool literal(std::string_view word)
    {
        if (m_text.substr(m_at, word.size()) != word)
            return false;
        m_at += word.size();
        return true;
    }
    bool digits()
    {
        size_t begin = m_at;
        while (m_at < m_text.size() && m_text[m_at] >= '0' && m_text[m_at] <= '9')
            ++m_at;
        return m_at > begin;
    }
    bool number()
    {
        take('-');
        if (take('0')) {
        } else if (!digits()) {
            return false;
        }
        if (take('.') && !digits())
            return false;
        if (m_at < m_text.size() && (m_text[m_at] == 'e' || m_text[m_at] == 'E')) {
            ++m_at;
            if (!take('+'))
                take('-');
            if (!digits())
                return false;
        }
        return true;
    }
    // A string; its decoded bytes go to out when given (\u escapes of
    // ASCII only are decoded: enough to recognise a key).
    bool string(std::string* out)
    {
        if (!take('"'))
            return false;
        while (m_at < m_text.size()) {
            unsigned char c = static_cast<unsigned char>(m_text[m_at++]);
            if (c == '"')
                return true;
            if (c < 0x20)
                return false;
            if (c != '\\') {
                if (out)
                    *out += static_cast<char>(c);
                continue;
            }
            if (m_at >= m_text.size())
                return false;
            char e = m_text[m_at++];
            if (e == 'u') {
                if (m_at + 4 > m_text.size())
                    return false;
                int code = 0;
                for (int i = 0; i < 4; ++i) {
                    int v = ascii::hex_digit_value(m_text[m_at + i]);
                    if (v < 0)
                        return false;
                    code = code * 16 + v;
                }
                m_at += 4;
                if (out)
                    *out += code < 0x80 ? static_cast<char>(code) : '?';
            } else if (std::string_view("\"\\/bfnrt").find(e) != std::string_view::npos) {
                if (out)
                    *out += e;
            } else {
                return false;
            }
        }
        return false;
    }
    bool value(int depth)
    {
        if (depth > max_order_json_depth || m_at >= m_text.size())
            return false;
        char c = m_text[m_at];
        if (c == '"')
            return string(nullptr);
        if (c == '{' || c == '[') {
            char close = c == '{' ? '}' : ']';
            ++m_at;
            skip_blanks();
            if (take(close))
                return true;
            for (;;) {
                skip_blanks();
                if (c == '{') {
                    if (!string(nullptr))
                        return false;
                    skip_blanks();
                    if (!take(':'))
                        return false;
                    skip_blanks();
                }
                if (!value(depth + 1))
                    return false;
                skip_blanks();
                if (take(','))
                    continue;
                return take(close);
            }
        }
        if (c == 't')
            return literal("true");
        if (c == 'f')
            return literal("false");
        if (c == 'n')
            return literal("null");
        return number();
    }

    std::string_view m_text;
    size_t m_at = 0;
};

} // namespace

std::optional<std::string> prepare_order_json(std::string_view text, int storeidx)
{
    std::vector<Scanner::Member> members;
    if (!Scanner(text).object_members(members))
        return std::nullopt;
    std::string out = "{\"storeidx\":" + std::to_string(storeidx);
    for (auto const& member : members) {
        if (member.key == "storeidx")
            continue;
        out += ',';
        out.append(text.substr(member.start, member.end - member.start));
    }
    out += '}';
    return json::guard_ampersand(out);
}

} // namespace tillbay::orders

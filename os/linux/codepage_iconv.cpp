#include "os/codepage.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iconv.h>

namespace tillbay::os::codepage {

namespace {

// The iconv name of a Windows code page number.
std::string iconv_name(int codepage)
{
    switch (codepage) {
    case utf8:
        return "UTF-8";
    case 936:
        return "GBK";
    case 950:
        return "BIG5";
    default: {
        char name[16];
        std::snprintf(name, sizeof name, "CP%d", codepage);
        return name;
    }
    }
}

// One conversion descriptor per code page and thread: opening one costs far
// more than converting a receipt.
class Converter {
public:
    Converter() = default;
    Converter(Converter const&) = delete;
    Converter& operator=(Converter const&) = delete;
    ~Converter() { close(); }

    iconv_t get(int codepage)
    {
        if (m_open && m_codepage == codepage)
            return m_cd;
        close();
        std::string name = iconv_name(codepage);
        m_cd = iconv_open(name.c_str(), "UTF-8");
        m_codepage = codepage;
        m_open = true;
        return m_cd;
    }

private:
    void close()
    {
        if (m_open && m_cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(m_cd);
        m_open = false;
    }

    iconv_t m_cd = reinterpret_cast<iconv_t>(-1);
    int m_codepage = 0;
    bool m_open = false;
};

thread_local Converter t_from_utf8;

bool is_ascii(std::string_view text)
{
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

// Length of the well-formed UTF-8 character at the start of text, or 0.
size_t utf8_length(std::string_view text)
{
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    if (text.empty())
        return 0;
    unsigned char lead = byte(0);
    size_t length = lead < 0x80 ? 1 : (lead >= 0xC2 && lead <= 0xDF) ? 2 : (lead >= 0xE0 && lead <= 0xEF) ? 3
        : (lead >= 0xF0 && lead <= 0xF4)                                  ? 4
                                                                          : 0;
    if (length == 0 || length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

// Runs iconv over the whole input; on a character it cannot take, writes
// the replacement and skips skip(in) bytes.
template<typename Skip>
std::string convert(iconv_t cd, std::string_view input, std::string_view replacement, Skip skip)
{
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    out.resize(input.size() * 2 + 16);
    char* in = const_cast<char*>(input.data());
    size_t in_left = input.size();
    char* at = out.data();
    size_t out_left = out.size();
    auto grow = [&] {
        size_t used = static_cast<size_t>(at - out.data());
        out.resize(out.size() * 2 + 16);
        at = out.data() + used;
        out_left = out.size() - used;
    };
    while (in_left > 0) {
        if (iconv(cd, &in, &in_left, &at, &out_left) != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG) {
            grow();
            continue;
        }
        // EILSEQ (a character the target lacks, or bytes that are not valid
        // input) and EINVAL (a sequence cut off at the end).
        while (out_left < replacement.size() + 8)
            grow();
        for (char c : replacement)
            *at++ = c;
        out_left -= replacement.size();
        // glibc's code page 949 reader can report a bad sequence after it has
        // already taken the last bytes, so the step never passes the end.
        size_t step = std::min(skip(std::string_view(in, in_left)), in_left);
        in += step;
        in_left -= step;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    while (iconv(cd, nullptr, nullptr, &at, &out_left) == static_cast<size_t>(-1) && errno == E2BIG)
        grow();
    out.resize(static_cast<size_t>(at - out.data()));
    return out;
}

} // namespace

bool supported(int codepage)
{
    if (codepage <= 0)
        return false;
    return t_from_utf8.get(codepage) != reinterpret_cast<iconv_t>(-1);
}

std::optional<std::string> from_utf8(int codepage, std::string_view utf8_text)
{
    if (codepage <= 0)
        return std::nullopt;
    iconv_t cd = t_from_utf8.get(codepage);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    if (is_ascii(utf8_text))
        return std::string(utf8_text);
    return convert(cd, utf8_text, "?", [](std::string_view rest) {
        size_t length = utf8_length(rest);
        return length ? length : size_t { 1 };
    });
}

} // namespace tillbay::os::codepage

#include "store/text_decoder.h"

#include "base/utf8.h"

#include <cerrno>
#include <iconv.h>

namespace tillbay::store {

namespace {

constexpr std::string_view utf8_bom = "\xEF\xBB\xBF";
constexpr std::string_view utf16le_bom = "\xFF\xFE";
constexpr std::string_view replacement_character = "\xEF\xBF\xBD"; // U+FFFD

// One conversion descriptor of the C library, closed when it goes.
class Converter {
public:
    explicit Converter(char const* from)
        : m_handle(iconv_open("UTF-8", from))
    {
    }
    ~Converter()
    {
        if (ok())
            iconv_close(m_handle);
    }
    Converter(Converter const&) = delete;
    Converter& operator=(Converter const&) = delete;

    bool ok() const { return m_handle != reinterpret_cast<iconv_t>(-1); }

    // Converts the whole input. Strict: fails at the first byte that does not
    // belong to the encoding. Otherwise each such byte becomes U+FFFD and is
    // counted in replaced.
    bool convert(std::string_view input, std::string& out, size_t* replaced)
    {
        iconv(m_handle, nullptr, nullptr, nullptr, nullptr);
        out.clear();
        out.reserve(input.size() + input.size() / 2 + 16);
        auto* in = const_cast<char*>(input.data());
        size_t in_left = input.size();
        char buffer[16384];
        while (in_left > 0) {
            char* next = buffer;
            size_t out_left = sizeof buffer;
            size_t result = iconv(m_handle, &in, &in_left, &next, &out_left);
            out.append(buffer, static_cast<size_t>(next - buffer));
            if (result != static_cast<size_t>(-1))
                continue;
            if (errno == E2BIG)
                continue;
            // EILSEQ: a byte that is not part of the encoding; EINVAL: the
            // input ends inside a character.
            if (!replaced)
                return false;
            ++*replaced;
            out.append(replacement_character);
            // The code page 949 reader can report a bad sequence after it has
            // taken the last bytes: then there is nothing left to skip.
            if (in_left > 0) {
                ++in;
                --in_left;
            }
            iconv(m_handle, nullptr, nullptr, nullptr, nullptr);
        }
        return true;
    }

private:
    iconv_t m_handle;
};

Result<DecodedText> unknown() { return Error::from_detail(std::string(unknown_encoding)); }

} // namespace

std::string_view encoding_name(Encoding encoding)
{
    switch (encoding) {
    case Encoding::Utf8Bom:
        return "utf8-bom";
    case Encoding::Utf16:
        return "utf16";
    case Encoding::Utf8:
        return "utf8";
    case Encoding::Cp949:
        return "cp949";
    case Encoding::Cp949Loose:
        return "cp949-loose";
    }
    return unknown_encoding;
}

Result<DecodedText> decode_text(std::string_view bytes, Leniency leniency)
{
    if (bytes.starts_with(utf8_bom)) {
        auto rest = bytes.substr(utf8_bom.size());
        if (!utf8::is_valid(rest))
            return unknown();
        return DecodedText { std::string(rest), Encoding::Utf8Bom };
    }
    if (bytes.starts_with(utf16le_bom)) {
        Converter converter("UTF-16LE");
        DecodedText decoded { {}, Encoding::Utf16 };
        if (!converter.ok() || !converter.convert(bytes.substr(utf16le_bom.size()), decoded.text, nullptr))
            return unknown();
        return decoded;
    }
    if (utf8::is_valid(bytes))
        return DecodedText { std::string(bytes), Encoding::Utf8 };

    Converter converter("CP949");
    if (!converter.ok())
        return unknown();
    DecodedText decoded { {}, Encoding::Cp949 };
    if (converter.convert(bytes, decoded.text, nullptr))
        return decoded;
    if (leniency == Leniency::Strict)
        return unknown();
    size_t replaced = 0;
    if (!converter.convert(bytes, decoded.text, &replaced) || replaced * loose_bytes_per_replacement > bytes.size())
        return unknown();
    decoded.encoding = Encoding::Cp949Loose;
    return decoded;
}

bool is_plain_text(std::string_view decoded) { return decoded.find('\0') == std::string_view::npos; }

} // namespace tillbay::store

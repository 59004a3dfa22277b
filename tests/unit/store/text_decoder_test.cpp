#include "store/text_decoder.h"

#include <gtest/gtest.h>

using namespace tillbay;
using namespace tillbay::store;
using namespace std::string_literals;

namespace {

// "상품명,수량" CR LF as Excel saves it on Korean Windows (code page 949), and
// "똠방각하", whose first character exists only in the code page's extension
// beyond EUC-KR.
constexpr char cp949_header[] = "\xBB\xF3\xC7\xB0\xB8\xED,\xBC\xF6\xB7\xAE\r\n";
constexpr char cp949_extended[] = "\x8C\x63\xB9\xE6\xB0\xA2\xC7\xCF";

TEST(TextDecoder, RecognisesEachEncoding)
{
    struct Case {
        char const* name;
        std::string bytes;
        Leniency leniency;
        std::string text;
        std::string_view encoding;
    };
    Case const cases[] = {
        { "empty", "", Leniency::Strict, "", "utf8" },
        { "plain ASCII", "a,b\r\n1,2\r\n", Leniency::Strict, "a,b\r\n1,2\r\n", "utf8" },
        { "UTF-8 without a mark", "상품명,수량\n", Leniency::Strict, "상품명,수량\n", "utf8" },
        { "UTF-8 with its mark", "\xEF\xBB\xBF상품명,수량\r\n", Leniency::Strict, "상품명,수량\r\n", "utf8-bom" },
        { "only the UTF-8 mark", "\xEF\xBB\xBF", Leniency::Strict, "", "utf8-bom" },
        { "UTF-16LE with its mark", "\xFF\xFE\x00\xAC,\x00\n\x00"s, Leniency::Strict, "가,\n", "utf16" },
        { "UTF-16LE surrogate pair", "\xFF\xFE\x3D\xD8\x00\xDE"s, Leniency::Strict, "\xF0\x9F\x98\x80", "utf16" },
        { "code page 949 from Excel", cp949_header, Leniency::Strict, "상품명,수량\r\n", "cp949" },
        { "code page 949 extension", cp949_extended, Leniency::Strict, "똠방각하", "cp949" },
        { "strict code page wins when loose", cp949_header, Leniency::Loose, "상품명,수량\r\n", "cp949" },
        { "a broken byte in a long loose text",
            std::string(cp949_header) + std::string(60, 'a') + "\xFF", Leniency::Loose,
            "상품명,수량\r\n" + std::string(60, 'a') + "\xEF\xBF\xBD", "cp949-loose" },
        { "a cut last character, loose", std::string(60, 'b') + "\xB0", Leniency::Loose,
            std::string(60, 'b') + "\xEF\xBF\xBD", "cp949-loose" },
    };
    for (auto const& c : cases) {
        auto decoded = decode_text(c.bytes, c.leniency);
        ASSERT_TRUE(decoded.ok()) << c.name;
        EXPECT_EQ(decoded.value().text, c.text) << c.name;
        EXPECT_EQ(encoding_name(decoded.value().encoding), c.encoding) << c.name;
    }
}

TEST(TextDecoder, RefusesWhatNoEncodingFits)
{
    struct Case {
        char const* name;
        std::string bytes;
        Leniency leniency;
    };
    Case const cases[] = {
        { "UTF-8 mark over code page 949 bytes", "\xEF\xBB\xBF"s + cp949_header, Leniency::Strict },
        { "UTF-8 mark over broken UTF-8, even loose", "\xEF\xBB\xBF\xC3"s, Leniency::Loose },
        { "UTF-16 with a lone surrogate", "\xFF\xFE\x00\xD8\x41\x00"s, Leniency::Strict },
        { "UTF-16 with an odd byte", "\xFF\xFE\x41\x00\x42"s, Leniency::Strict },
        { "a byte outside code page 949", std::string(cp949_header) + "\xFF", Leniency::Strict },
        { "a cut last character", "a\xB0"s, Leniency::Strict },
        { "a byte that leads nowhere in either", "\x80"s, Leniency::Strict },
        { "UTF-16 big-endian (not read)", "\xFE\xFF\xAC\x00"s, Leniency::Strict },
        { "loose, but mostly broken", std::string(40, '\xFF'), Leniency::Loose },
        { "loose, one broken byte in a short text", "ab\xFF"s, Leniency::Loose },
        // The code page reader takes the last two bytes and still reports a
        // fault: the replacement must not step past the end.
        { "a fault reported after the last bytes", "\xE3:\xFF\xFF\xFF\xA2\xE8"s, Leniency::Loose },
    };
    for (auto const& c : cases) {
        auto decoded = decode_text(c.bytes, c.leniency);
        ASSERT_FALSE(decoded.ok()) << c.name << " gave " << encoding_name(decoded.value().encoding);
        EXPECT_EQ(decoded.error().detail, unknown_encoding) << c.name;
        EXPECT_TRUE(decoded.error().message.empty()) << c.name;
    }
}

TEST(TextDecoder, TextWithANulIsNotPlainText)
{
    EXPECT_TRUE(is_plain_text("상품명,수량\r\n"));
    EXPECT_TRUE(is_plain_text(""));
    // A workbook's ZIP header decodes as code page 949 text but holds NULs.
    auto decoded = decode_text("PK\x03\x04\x14\x00\x00\x00"s);
    ASSERT_TRUE(decoded.ok());
    EXPECT_FALSE(is_plain_text(decoded.value().text));
}

} // namespace

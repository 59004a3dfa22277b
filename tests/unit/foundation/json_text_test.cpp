#include "foundation/json_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tillbay;
using namespace std::string_literals;

namespace {

struct Case {
    std::string input;
    std::string expected;
};

} // namespace

TEST(JsonQuote, EscapesExactlyTheControlBytesQuoteAndBackslash)
{
    std::vector<Case> cases = {
        { "", "\"\"" },
        { "plain", "\"plain\"" },
        { "a\tb\nc\rd", "\"a\\tb\\nc\\rd\"" },
        { "say \"hi\"", "\"say \\\"hi\\\"\"" },
        { "C:\\dir", "\"C:\\\\dir\"" },
        { "\x1b@", "\"\\u001b@\"" },
        { "\x01\x1f"s, "\"\\u0001\\u001f\"" },
        { "nul\0in"s, "\"nul\\u0000in\""s },
        { "\x7f", "\"\x7f\"" },
        { "a/b", "\"a/b\"" },
        // U+2028 and U+2029 travel unescaped, as the bytes they are.
        { "\xe2\x80\xa8\xe2\x80\xa9", "\"\xe2\x80\xa8\xe2\x80\xa9\"" },
        { "영수증", "\"영수증\"" },
        { "\xff\xfe broken utf-8", "\"\xff\xfe broken utf-8\"" },
    };
    for (auto const& c : cases)
        EXPECT_EQ(json::quote(c.input), c.expected) << c.input;
}

TEST(JsonEscapeBounded, StopsBeforeTheLimitAndNeverSplitsAnEscape)
{
    std::string quotes(100, '"');
    std::string out = json::escape_bounded(quotes.c_str(), 64);
    // 28 escaped quotes make 56 bytes; a 29th would pass the limit of 57.
    EXPECT_EQ(out.size(), 56u);
    std::string expected;
    for (int i = 0; i < 28; ++i)
        expected += "\\\"";
    EXPECT_EQ(out, expected);

    std::string letters(100, 'x');
    EXPECT_EQ(json::escape_bounded(letters.c_str(), 64), std::string(57, 'x'));

    // A six-byte escape that would cross the limit is left out whole.
    std::string tail = std::string(55, 'y') + "\x01" + "zz";
    EXPECT_EQ(json::escape_bounded(tail.c_str(), 64), std::string(55, 'y'));

    EXPECT_EQ(json::escape_bounded("a\tb", 64), "a\\tb");
    EXPECT_EQ(json::escape_bounded(nullptr, 64), "");
    EXPECT_EQ(json::escape_bounded("abc", 0), "");
    EXPECT_EQ(json::escape_bounded("abc", 7), "");
    EXPECT_EQ(json::escape_bounded("abc", 8), "a");
}

TEST(JsonGuards, AmpersandAndStoreNumber)
{
    EXPECT_EQ(json::guard_ampersand("{\"memo\":\"a&b&&\"}"), "{\"memo\":\"a\\u0026b\\u0026\\u0026\"}");
    EXPECT_EQ(json::guard_ampersand("no change"), "no change");

    std::vector<Case> cases = {
        { "{\"menus\":[]}", "{\"storeidx\":42,\"menus\":[]}" },
        { "  {\"a\":1}", "  {\"storeidx\":42,\"a\":1}" },
        { "{\"x\":{\"storeidx\":7}}", "{\"x\":{\"storeidx\":7}}" },
        // The search is plain: a string value that is exactly the quoted key counts too,
        { "{\"memo\":\"storeidx\"}", "{\"memo\":\"storeidx\"}" },
        // but an escaped quote breaks the pattern, and a bare word is not the key.
        { "{\"memo\":\"\\\"storeidx\\\"\"}", "{\"storeidx\":42,\"memo\":\"\\\"storeidx\\\"\"}" },
        { "{\"memo\":\"a storeidx\"}", "{\"storeidx\":42,\"memo\":\"a storeidx\"}" },
        { "[1,2]", "[1,2]" },
        { "", "" },
        // An empty object gets no trailing comma.
        { "{}", "{\"storeidx\":42}" },
        { "{ }", "{\"storeidx\":42 }" },
    };
    for (auto const& c : cases)
        EXPECT_EQ(json::inject_storeidx(c.input, 42), c.expected) << c.input;
    EXPECT_EQ(json::inject_storeidx("{}", -3), "{\"storeidx\":-3}");
}

TEST(JsonIntField, ReadsTheFirstOccurrenceAtAnyDepth)
{
    struct IntCase {
        std::string text;
        std::string key;
        int expected;
    };
    std::vector<IntCase> cases = {
        { "{\"resultCode\":\"-1\",\"resultCode\":0}", "resultCode", -1 },
        { "{\"resultCode\":\"0\"}", "resultCode", 0 },
        { "{\"a\": 12}", "a", 12 },
        { "{\"a\" : \n\t 12}", "a", 12 },
        { "{\"a\":12.9}", "a", 12 },
        { "{\"a\":+5}", "a", 99 },
        { "{\"a\":-}", "a", 0 },
        { "{\"a\":-x}", "a", 0 },
        { "{\"a\":null}", "a", 99 },
        { "{\"a\":true}", "a", 99 },
        { "{\"b\":1}", "a", 99 },
        { "{\"x\":{\"a\":3},\"a\":4}", "a", 3 },
        // A string value holding the quoted key matches too: callers choose unique keys.
        { "{\"memo\":\"\\\"a\\\": 5\",\"a\":6}", "a", 6 },
        { "{\"memo\":\"\"a\": 5\",\"a\":6}", "a", 5 },
        { "{\"a\":99999999999}", "a", 2147483647 },
        { "{\"a\":-99999999999}", "a", -2147483648 },
        { "{\"a\":123456789012345678901234567890}", "a", 2147483647 },
        { "{\"a\":2147483647}", "a", 2147483647 },
        { "{\"a\":-2147483648}", "a", -2147483648 },
        { "\"a\"", "a", 99 },
        { "\"a\":", "a", 99 },
        { "", "a", 99 },
    };
    for (auto const& c : cases)
        EXPECT_EQ(json::int_field(c.text, c.key, 99), c.expected) << c.text;

    std::string long_key(128, 'k');
    EXPECT_EQ(json::int_field("{\"" + long_key + "\":5}", long_key, 99), 99);
    std::string max_key(127, 'k');
    EXPECT_EQ(json::int_field("{\"" + max_key + "\":5}", max_key, 99), 5);
}

TEST(JsonTextField, UnescapesOnlyTheSimpleEscapes)
{
    struct TextCase {
        std::string text;
        size_t size;
        bool found;
        std::string expected;
    };
    std::vector<TextCase> cases = {
        { "{\"m\":\"hello\"}", 64, true, "hello" },
        { "{\"m\" : \"x\"}", 64, true, "x" },
        { "{\"m\":\"\"}", 64, true, "" },
        { "{\"m\":\"a\\nb\\rc\\td\"}", 64, true, "a\nb\rc\td" },
        { "{\"m\":\"q\\\"q\\\\b\\/s\"}", 64, true, "q\"q\\b/s" },
        { "{\"m\":\"\\u0026\"}", 64, true, "u0026" },
        { "{\"m\":\"한글\"}", 64, true, "한글" },
        { "{\"m\":12}", 64, false, "" },
        { "{\"m\":null}", 64, false, "" },
        { "{\"x\":1}", 64, false, "" },
        // Cut to size - 1 bytes.
        { "{\"m\":\"abcdef\"}", 4, true, "abc" },
        { "{\"m\":\"abcdef\"}", 1, true, "" },
        { "{\"m\":\"abcdef\"}", 0, true, "" },
        // Unterminated string: what is there is taken; a lone backslash at the end stays.
        { "{\"m\":\"abc", 64, true, "abc" },
        { "{\"m\":\"abc\\", 64, true, "abc\\" },
        { "{\"m\":", 64, false, "" },
        { "{\"m\"", 64, false, "" },
    };
    for (auto const& c : cases) {
        std::string out = "stale";
        EXPECT_EQ(json::text_field(c.text, "m", out, c.size), c.found) << c.text;
        EXPECT_EQ(out, c.expected) << c.text;
    }
}

TEST(JsonArrayObject, WalksObjectsAndIgnoresBracesInStrings)
{
    std::string text = "{\"resultCode\":0,\"orders\":[{\"id\":1,\"memo\":\"}{ \\\" ]\"},"
                       " {\"id\":2,\"sub\":{\"x\":[{}]}} ],\"after\":[{\"id\":3}]}";
    EXPECT_EQ(json::array_object(text, "orders", 0, 4096), "{\"id\":1,\"memo\":\"}{ \\\" ]\"}");
    EXPECT_EQ(json::array_object(text, "orders", 1, 4096), "{\"id\":2,\"sub\":{\"x\":[{}]}}");
    EXPECT_EQ(json::array_object(text, "orders", 2, 4096), "");
    EXPECT_EQ(json::array_object(text, "orders", -1, 4096), "");
    EXPECT_EQ(json::array_object(text, "after", 0, 4096), "{\"id\":3}");
    EXPECT_EQ(json::array_object(text, "missing", 0, 4096), "");
    EXPECT_EQ(json::array_object(text, "orders", 0, 5), "{\"id");

    struct Hostile {
        std::string text;
        std::string expected;
    };
    std::vector<Hostile> hostile = {
        { "\"k\":[", "" },
        { "\"k\":[{\"a\":1", "" },
        { "\"k\":[{\"a\":\"unterminated}]", "" },
        { "\"k\":[}{\"a\":1}]", "{\"a\":1}" },
        { "\"k\":[]", "" },
        { "\"k\":5, \"z\":[{\"a\":1}]", "{\"a\":1}" },
        { "\"k\"", "" },
        { "\"k\":[{\"a\":\"\\", "" },
    };
    for (auto const& c : hostile)
        EXPECT_EQ(json::array_object(c.text, "k", 0, 4096), c.expected) << c.text;
}

TEST(JsonPreviewWriter, BuildsElementsAndDropsWhatDoesNotFit)
{
    json::PreviewWriter writer(4096);
    writer.append_raw("[");
    writer.open_element("tx");
    writer.text_member("s", "영수증 \"A\"\\\n");
    writer.style_members(1, 1, 0);
    writer.append_raw("}");
    writer.open_element("nl");
    writer.style_members(0, 0, 0);
    writer.append_raw("}]");
    EXPECT_FALSE(writer.overflow());
    EXPECT_EQ(writer.text(), "[{\"t\":\"tx\",\"s\":\"영수증 \\\"A\\\"\\\\\\u000a\",\"a\":1,\"z\":1,\"b\":0},{\"t\":\"nl\"}]");

    // length + 2 + piece >= capacity is refused: with capacity 10, "abcdefg" (7) fits, "abcdefgh" (8) does not.
    json::PreviewWriter small(10);
    small.append_raw("abcdefgh");
    EXPECT_TRUE(small.overflow());
    EXPECT_EQ(small.text(), "");
    json::PreviewWriter fits(10);
    fits.append_raw("abcdefg");
    EXPECT_FALSE(fits.overflow());
    EXPECT_EQ(fits.text(), "abcdefg");

    // The escaped value is cut at 1,093 bytes, never inside an escape or a character.
    json::PreviewWriter big(8192);
    big.text_member("s", std::string(2000, 'x'));
    EXPECT_EQ(big.text(), ",\"s\":\"" + std::string(1093, 'x') + "\"");
    json::PreviewWriter escapes(8192);
    escapes.text_member("s", std::string(1092, 'x') + "\n");
    EXPECT_EQ(escapes.text(), ",\"s\":\"" + std::string(1092, 'x') + "\"");
    json::PreviewWriter hangul(8192);
    std::string korean;
    for (int i = 0; i < 400; ++i)
        korean += "가";
    hangul.text_member("s", korean);
    // 364 characters of three bytes make 1,092 bytes; the 365th would be cut in half.
    EXPECT_EQ(hangul.text().size(), 6 + 1092 + 1u);

    // A caller can roll back an element that did not fit whole; the comma rule follows.
    json::PreviewWriter rolled(40);
    rolled.open_element("a");
    rolled.append_raw("}");
    auto mark = rolled.mark();
    rolled.open_element("b");
    rolled.text_member("s", std::string(30, 'y'));
    EXPECT_TRUE(rolled.overflow());
    rolled.rollback(mark);
    rolled.open_element("c");
    rolled.append_raw("}");
    EXPECT_EQ(rolled.text(), "{\"t\":\"a\"},{\"t\":\"c\"}");
}

TEST(JsonPercent, EncodeAndDecode)
{
    EXPECT_EQ(json::percent_encode("aZ09-_.~"), "aZ09-_.~");
    EXPECT_EQ(json::percent_encode("a b&c=d/é"), "a%20b%26c%3Dd%2F%C3%A9");
    EXPECT_EQ(json::percent_encode("\x00\xff"s), "%00%FF");
    EXPECT_EQ(json::percent_encode("한"), "%ED%95%9C");

    std::vector<Case> cases = {
        { "a%20b", "a b" },
        { "a+b", "a b" },
        { "%ed%95%9C", "한" },
        { "100%", "100%" },
        { "%4", "%4" },
        { "%zz", "%zz" },
        { "%%41", "%A" },
        { "%2B", "+" },
        { "%00", "\0"s },
        { "", "" },
    };
    for (auto const& c : cases)
        EXPECT_EQ(json::percent_decode(c.input), c.expected) << c.input;
}

TEST(JsonBase64, RoundTripAndStrictFailures)
{
    std::vector<Case> vectors = {
        { "", "" },
        { "f", "Zg==" },
        { "fo", "Zm8=" },
        { "foo", "Zm9v" },
        { "foob", "Zm9vYg==" },
        { "fooba", "Zm9vYmE=" },
        { "foobar", "Zm9vYmFy" },
        { "\xff\xfe\x00"s, "//4A" },
    };
    for (auto const& c : vectors) {
        EXPECT_EQ(json::base64_encode(c.input), c.expected);
        auto decoded = json::base64_decode(c.expected);
        ASSERT_TRUE(decoded.has_value()) << c.expected;
        EXPECT_EQ(*decoded, c.input);
    }

    struct DecodeCase {
        std::string text;
        std::optional<std::string> expected;
    };
    std::vector<DecodeCase> cases = {
        { "Zm9v\r\nYmFy", "foobar" },
        { " Z m 9 v \t", "foo" },
        { "Zm8", "fo" },
        { "Zg", "f" },
        { "Zm9vY", std::nullopt },
        { "Zg===", std::nullopt },
        { "Zg==Zg==", std::nullopt },
        { "=Zm9v", std::nullopt },
        { "Zm9v!", std::nullopt },
        { "Zm-_", std::nullopt },
        { "Zm9v\x80", std::nullopt },
        { "==", "" },
    };
    for (auto const& c : cases)
        EXPECT_EQ(json::base64_decode(c.text), c.expected) << c.text;
}

#include "printing/json_reader.h"

#include <gtest/gtest.h>

using namespace tillbay::printing;

namespace {

TEST(JsonReader, MembersAreFoundOnlyAmongTheObjectsOwn)
{
    // The menu name spells the key of a top-level field, escaped quotes and
    // all; only the object's own member counts.
    std::string const data = R"({"menus":[{"mname":"x\",\"payamount\":99,\"","amount":5,"payamount":7}],)"
                             R"("note":"\"payamount\":1","payamount" : 12000 ,"shop\u006eame":"틸베이"})";
    EXPECT_EQ(json_reader::integer(json_reader::member(data, "payamount"), -1), 12000);
    EXPECT_EQ(json_reader::text(json_reader::member(data, "shopname"), 100), "틸베이");
    EXPECT_FALSE(json_reader::member(data, "amount"));
    auto menus = json_reader::elements(json_reader::member(data, "menus").value_or(""));
    ASSERT_EQ(menus.size(), 1u);
    EXPECT_EQ(json_reader::integer(json_reader::member(menus[0], "payamount"), -1), 7);
    EXPECT_EQ(json_reader::text(json_reader::member(menus[0], "mname"), 100), "x\",\"payamount\":99,\"");
}

TEST(JsonReader, Strings)
{
    struct Case {
        std::string raw;
        std::string text;
    };
    std::vector<Case> const cases {
        { R"("plain")", "plain" },
        { R"("a\"b\\c\/d")", "a\"b\\c/d" },
        { R"("line\nbreak\ttab")", "line\nbreak\ttab" },
        { R"("\u001bp\u0000")", std::string("\x1bp\0", 3) },
        { R"("\uD83D\uDE00")", "\xF0\x9F\x98\x80" },
        { R"("\uD83D")", "\xEF\xBF\xBD" },
        { R"("\uDE00x")", "\xEF\xBF\xBDx" },
        { R"("\u12")", "\xEF\xBF\xBD" "12" },
        { "12345", "12345" },
        { "-7", "-7" },
        { "true", "" },
        { "null", "" },
        { "{\"a\":1}", "" },
    };
    for (auto const& c : cases)
        EXPECT_EQ(json_reader::text(std::string_view(c.raw), 100), c.text) << c.raw;
    EXPECT_EQ(json_reader::text(std::string_view(R"("가나다")"), 7), "가나") << "a cut never splits a character";
    EXPECT_EQ(json_reader::text(std::nullopt, 10), "");
}

TEST(JsonReader, Integers)
{
    struct Case {
        std::string raw;
        long long value;
    };
    std::vector<Case> const cases {
        { "0", 0 },
        { "12000", 12000 },
        { "-350", -350 },
        { "\"42\"", 42 },
        { "\" 42\"", 42 },
        { "3.7", 3 },
        { "12345678901234", 12345678901234LL },
        { "99999999999999999999", INT64_MAX },
        { "-99999999999999999999", INT64_MIN },
        { "\"abc\"", -1 },
        { "true", -1 },
        { "", -1 },
    };
    for (auto const& c : cases)
        EXPECT_EQ(json_reader::integer(std::string_view(c.raw), -1), c.value) << c.raw;
}

TEST(JsonReader, MalformedTextReadsAsMissing)
{
    for (std::string text : std::vector<std::string> { "", "[]", "{", "{\"a\"", "{\"a\":}", "{\"a\":\"x}", "{\"a\":1 \"b\":2}", "{a:1}",
             "{\"a\":[1,2}", std::string(200, '[') }) {
        EXPECT_FALSE(json_reader::member(text, "b")) << text;
    }
    std::string deep = "{\"a\":" + std::string(100, '[') + std::string(100, ']') + ",\"b\":1}";
    EXPECT_FALSE(json_reader::member(deep, "b")) << "nesting beyond the limit is malformed";
    EXPECT_TRUE(json_reader::elements("[1,\"x\",{\"a\":[2]},[3]]").size() == 4);
    EXPECT_EQ(json_reader::elements("[1,2").size(), 2u) << "the elements before the text breaks off";
    EXPECT_EQ(json_reader::elements("[1,\"x").size(), 1u);
    EXPECT_TRUE(json_reader::elements("{}").empty());
}

} // namespace

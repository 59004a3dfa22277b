#include "door/json_value.h"

#include <gtest/gtest.h>

using tillbay::door::canonical_json;

TEST(CustomerStateJson, OneValueIsWrittenAnew)
{
    struct Case {
        std::string in;
        std::string out;
    } const cases[] = {
        { "{\"s\":\"idle\"}", "{\"s\":\"idle\"}" },
        { " { \"s\" : \"order\" , \"items\" : [ {\"name\":\"김밥\",\"qty\":2} ], \"total\" : -1.5e3 } ",
            "{\"s\":\"order\",\"items\":[{\"name\":\"김밥\",\"qty\":2}],\"total\":-1.5e3}" },
        { "[]", "[]" },
        { "\"x\"", "\"x\"" },
        { "true", "true" },
        { "0", "0" },
        // Escapes are made anew; "<" never leaves as it is.
        { "\"</script><img src=x>\"", "\"\\u003c/script>\\u003cimg src=x>\"" },
        { "\"\\u0041\\/\\n\\ud83d\\ude00\"", "\"A/\\n😀\"" },
        { "\"\xe2\x80\xa8\"", "\"\\u2028\"" },
    };
    for (auto const& c : cases)
        EXPECT_EQ(canonical_json(c.in).value_or("<refused>"), c.out) << c.in;
}

TEST(CustomerStateJson, AnythingElseIsRefused)
{
    std::string const refused[] = {
        "",
        "{\"s\":\"idle\"}); alert(1); (",
        "{\"s\":\"idle\"} {}",
        "{\"s\":idle}",
        "{'s':'idle'}",
        "[1,]",
        "{\"a\":1,}",
        "01",
        "1.",
        "-",
        "NaN",
        "\"\\x41\"",
        "\"\\ud83d\"",
        "\"\\ude00\"",
        "\"raw\nline\"",
        "\"\xc3(\"",
        "\"\xed\xa0\x80\"",
        std::string(17, '[') + std::string(17, ']'),
        "\"" + std::string(16 * 1024, 'a') + "\"",
    };
    for (auto const& text : refused)
        EXPECT_FALSE(canonical_json(text)) << text.substr(0, 40);
    EXPECT_TRUE(canonical_json(std::string(16, '[') + std::string(16, ']')));
}

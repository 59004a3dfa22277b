#include "base/ascii.h"

#include <gtest/gtest.h>

#include <string_view>

using namespace tillbay;

namespace {

TEST(Ascii, OnlyLatinCapitalsFold)
{
    EXPECT_EQ(ascii::lowered("HTTPS://Example.COM/A-Z_09"), "https://example.com/a-z_09");
    // UTF-8 bytes and the neighbours of 'A' and 'Z' stay as they are.
    EXPECT_EQ(ascii::lowered("@[`{\xC3\x89"), "@[`{\xC3\x89");
    EXPECT_TRUE(ascii::equals_ignoring_case("SeRvEr", "server"));
    EXPECT_FALSE(ascii::equals_ignoring_case("server", "serve"));
    EXPECT_FALSE(ascii::equals_ignoring_case("@", "`"));
    EXPECT_TRUE(ascii::starts_with_ignoring_case("HTTP://host", "http://"));
    EXPECT_FALSE(ascii::starts_with_ignoring_case("http:", "http://"));
    EXPECT_TRUE(ascii::starts_with_ignoring_case("", ""));
}

TEST(Ascii, HexDigitsOfEitherCase)
{
    struct Case {
        char c;
        int value;
    } cases[] = { { '0', 0 }, { '9', 9 }, { 'a', 10 }, { 'F', 15 }, { 'g', -1 }, { 'G', -1 }, { '/', -1 }, { ':', -1 },
        { '\0', -1 }, { '\xC3', -1 } };
    for (auto const& c : cases)
        EXPECT_EQ(ascii::hex_digit_value(c.c), c.value) << c.c;
}

TEST(Ascii, LeadingIntReadsLikeAtoiAndClamps)
{
    struct Case {
        std::string_view text;
        int value;
    } cases[] = { { "", 0 }, { "17", 17 }, { "  42", 42 }, { "-3", -3 }, { "12abc", 12 }, { "abc", 0 }, { "+8", 8 },
        { "99999999999999999999", 2147483647 }, { "-99999999999999999999", -2147483648 } };
    for (auto const& c : cases)
        EXPECT_EQ(ascii::leading_int(c.text), c.value) << c.text;
}

} // namespace

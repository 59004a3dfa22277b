#include "bridge/address.h"
#include "bridge/policy.h"

#include <gtest/gtest.h>

using namespace tillbay::bridge;

namespace {

struct ParseCase {
    char const* text;
    bool ok;
    char const* scheme = "";
    char const* host = "";
    int port = 0;
    char const* path = "";
};

TEST(AddressParser, AcceptsAndReducesAddresses)
{
    ParseCase const cases[] = {
        { "https://Shop.Example.COM/a/b.html?x=1#top", true, "https", "shop.example.com", 443, "/a/b.html" },
        { "HTTP://10.0.0.5:8080", true, "http", "10.0.0.5", 8080, "/" },
        { "http://h:65535/", true, "http", "h", 65535, "/" },
        { "https://h:1/x", true, "https", "h", 1, "/x" },
        { "twpos://ui.tillbay.invalid/merchant/menu.html", true, "twpos", "ui.tillbay.invalid", 443, "/merchant/menu.html" },
        { "file:///opt/tillbay/ui/login.html", true, "file", "", 0, "/opt/tillbay/ui/login.html" },
        { "file:///opt/%ED%95%9C/a%20b.html", true, "file", "", 0, "/opt/한/a b.html" },
        { "https://h/a//b", true, "https", "h", 443, "/a//b" },
        { "https://h/a.b/c", true, "https", "h", 443, "/a.b/c" },
        { "https://h?x", true, "https", "h", 443, "/" },
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.text);
        auto parsed = parse_address(c.text, ui_scheme);
        ASSERT_TRUE(parsed.has_value());
        EXPECT_EQ(parsed->scheme, c.scheme);
        EXPECT_EQ(parsed->host, c.host);
        EXPECT_EQ(parsed->port, c.port);
        EXPECT_EQ(parsed->path, c.path);
        EXPECT_EQ(parsed->file, std::string(c.scheme) == "file");
    }
}

TEST(AddressParser, RefusesAmbiguousOrHostileAddresses)
{
    std::string const long_address = "https://h/" + std::string(8192, 'a');
    std::string const refused[] = {
        "",
        "about:blank",
        "javascript:alert(1)",
        "ftp://h/x",
        "data://h/x",
        "https:///x",          // no host
        "https://user@h/x",    // credentials in the authority
        "https://h%2e/x",      // escape in the authority
        "https://h:0/x",
        "https://h:65536/x",
        "https://h:/x",
        "https://h:123456/x",
        "https://h:8a/x",
        "https://.h/x",
        "https://h./x",
        "https://a..b/x",
        "https://h_x/x",
        "https://h/a%2Fb",      // encoded slash
        "https://h/a%2fb",
        "https://h/a%5Cb",      // encoded backslash
        "https://h/a%25b",      // encoded percent
        "https://h/a%3Fb",
        "https://h/a%23b",
        "https://h/a%3Ab",
        "https://h/a%zz",
        "https://h/a%2",
        "https://h/../x",
        "https://h/a/./x",
        "https://h/a/..",
        "https://h/a./x",        // segment ending in a dot
        "https://h/a%20/x",      // segment ending in a blank
        "https://h/x.",
        "https://h/a%00b",
        "https://h/a%0Ab",
        "https://h/a\"b",
        "https://h/a<b",
        "https://h/a\\b",
        "https://h/a\x01" "b",
        "https://h/\xC3",        // broken UTF-8
        "https://h/%C3",         // broken UTF-8 after decoding
        "file://host/x.html",    // file with an authority
        "file:///",
        "file://",
        long_address,
    };
    for (auto const& text : refused) {
        SCOPED_TRACE(text.substr(0, 80));
        EXPECT_FALSE(parse_address(text, ui_scheme).has_value());
    }
    // The UI scheme is known only when it is named.
    EXPECT_FALSE(parse_address("twpos://ui.tillbay.invalid/x.html", {}).has_value());
}

TEST(AddressParser, TextTests)
{
    EXPECT_TRUE(is_safe_text(""));
    EXPECT_TRUE(is_safe_text("서울시 강남구 1-2"));
    EXPECT_FALSE(is_safe_text("a\tb"));
    EXPECT_FALSE(is_safe_text("a\x7f"));
    EXPECT_FALSE(is_safe_text("\xED\xA0\x80")); // a surrogate
    EXPECT_FALSE(is_safe_text("\xC0\xAF"));     // overlong
    EXPECT_FALSE(is_safe_text("\xF4\x90\x80\x80")); // above U+10FFFF

    EXPECT_EQ(utf16_length("abc"), 3u);
    EXPECT_EQ(utf16_length("한글"), 2u);
    EXPECT_EQ(utf16_length("\xF0\x9F\x98\x80"), 2u); // one emoji, a surrogate pair
    EXPECT_EQ(utf16_length("\xFF\xFE"), 2u);
}

TEST(AddressParser, WebHostScheme)
{
    struct {
        char const* configured;
        char const* expected;
    } const cases[] = {
        { "192.168.0.5:8080", "http://192.168.0.5:8080" },
        { "172.15.1.1", "https://172.15.1.1" },
        { "172.16.0.1", "http://172.16.0.1" },
        { "172.31.9.9", "http://172.31.9.9" },
        { "172.32.0.1", "https://172.32.0.1" },
        { "10.1.2.3", "http://10.1.2.3" },
        { "127.0.0.1:8443", "http://127.0.0.1:8443" },
        { "192.169.1.1", "https://192.169.1.1" },
        { "localhost", "http://localhost" },
        { "localhost:8080", "https://localhost:8080" },
        { "shop.example.com", "https://shop.example.com" },
        { "http://shop.example.com", "http://shop.example.com" },
        { "https://10.0.0.1", "https://10.0.0.1" },
    };
    for (auto const& c : cases)
        EXPECT_EQ(web_host_with_scheme(c.configured), c.expected) << c.configured;
}

// Only what a URL path must not hold is encoded: the delimiters a home
// folder like "/home/kim@shop" may hold stay as they are, as the web view
// itself reports them, and every address still decodes to its path.
TEST(AddressParser, FileAddressEncodesOnlyWhatItMust)
{
    struct Case {
        std::string path;
        std::string address;
    } const cases[] = {
        { "/home/user@example.com+a,b;c=d&e$f:g/x.html", "file:///home/user@example.com+a,b;c=d&e$f:g/x.html" },
        { "/opt/a'b(1)!*~_-/x.html", "file:///opt/a'b(1)!*~_-/x.html" },
        { "/home/점주/TillBay UI/x.html", "file:///home/%EC%A0%90%EC%A3%BC/TillBay%20UI/x.html" },
        { "/a[b]^`{c}|/x.html", "file:///a%5Bb%5D%5E%60%7Bc%7D%7C/x.html" },
        { "/a#b?c%d\"<>\\/x", "file:///a%23b%3Fc%25d%22%3C%3E%5C/x" },
    };
    for (auto const& c : cases) {
        EXPECT_EQ(file_address(c.path), c.address) << c.path;
        if (c.path.find_first_of("#?%\"<>\\") != std::string::npos)
            continue; // the strict parser refuses them decoded, as it should
        auto parsed = parse_address(c.address, ui_scheme);
        ASSERT_TRUE(parsed.has_value()) << c.address;
        EXPECT_EQ(parsed->path, c.path);
    }
}

TEST(AddressParser, InvalidUtf8BecomesReplacementCharacters)
{
    struct Case {
        std::string text;
        std::string expected;
    } const cases[] = {
        { "plain", "plain" },
        { "한글 메모", "한글 메모" },
        { "a\xFF" "b", "a\xEF\xBF\xBD" "b" },
        { "cut\xE2\x82", "cut\xEF\xBF\xBD\xEF\xBF\xBD" },
        { "over\xC0\xAF", "over\xEF\xBF\xBD\xEF\xBF\xBD" },
        { "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" },
        { "\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" },
        { "\xF0\x9F\x8D\x9C", "\xF0\x9F\x8D\x9C" },
    };
    for (auto const& c : cases) {
        EXPECT_EQ(with_valid_utf8(c.text), c.expected);
        EXPECT_TRUE(is_valid_utf8(with_valid_utf8(c.text)));
    }
}

TEST(AddressParser, FileAddressRoundTrips)
{
    std::string const paths[] = { "/opt/tillbay/ui/login.html", "/home/점주/TillBay UI/orders.html", "/tmp/a+b(1)/x.html" };
    for (auto const& path : paths) {
        auto address = file_address(path);
        EXPECT_TRUE(address.starts_with("file:///"));
        auto parsed = parse_address(address, ui_scheme);
        ASSERT_TRUE(parsed.has_value()) << address;
        EXPECT_TRUE(parsed->file);
        EXPECT_EQ(parsed->path, path);
    }
}

} // namespace

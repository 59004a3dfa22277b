// The profile reader and writer on settings texts and files.

#include "foundation/ini.h"
#include "os/fs.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <optional>
#include <string>

using namespace tillbay;

namespace {

struct FindCase {
    char const* what;
    std::string content;
    char const* section;
    char const* key;
    std::optional<std::string> expected;
};

TEST(Ini, FindValueFollowsTheProfileRules)
{
    std::vector<FindCase> const cases = {
        { "sections and keys ignore case", "[server]\r\nHOST = a.example\r\n", "SERVER", "host", "a.example" },
        { "blanks around the value go", "[S]\r\n  key \t=  v 1 \t\r\n", "S", "key", "v 1" },
        { "matching double quotes go", "[S]\r\nk=\"x y\"\r\n", "S", "k", "x y" },
        { "matching single quotes go", "[S]\r\nk='x'\r\n", "S", "k", "x" },
        { "a lone quote stays", "[S]\r\nk=\"\r\n", "S", "k", "\"" },
        { "unmatched quotes stay", "[S]\r\nk=\"x'\r\n", "S", "k", "\"x'" },
        { "an empty value is present", "[S]\r\nk=\r\n", "S", "k", "" },
        { "a line without = is no value", "[S]\r\nk\r\n", "S", "k", std::nullopt },
        { "the first = splits", "[S]\r\nurl=a=b\r\n", "S", "url", "a=b" },
        { "a longer key is another key", "[S]\r\nport2=5\r\n", "S", "port", std::nullopt },
        { "keys before any section belong to none", "port=1\r\n[S]\r\n", "S", "port", std::nullopt },
        { "another section hides nothing", "[A]\r\nk=1\r\n[B]\r\nk=2\r\n", "B", "k", "2" },
        { "the first of two keys wins", "[S]\r\nk=1\r\nK=2\r\n", "S", "k", "1" },
        { "a repeated section is searched too", "[A]\r\nx=1\r\n[B]\r\n[a]\r\ny=2\r\n", "A", "y", "2" },
        { "a byte-order mark is skipped", "\xEF\xBB\xBF[S]\nk=1", "S", "k", "1" },
        { "LF lines and no final line end", "[S]\nk=1\nj=2", "S", "j", "2" },
        { "text after the header's bracket", "[S] ; note\r\nk=1\r\n", "S", "k", "1" },
        { "blanks inside the brackets", "[ S ]\r\nk=1\r\n", "S", "k", "1" },
        { "an unclosed bracket is no header", "[S]\r\n[T\r\nk=1\r\n", "S", "k", "1" },
        { "bytes above 127 are kept", "[S]\r\nname=\xEA\xB0\x80\r\n", "S", "name", "\xEA\xB0\x80" },
        { "an empty text", "", "S", "k", std::nullopt },
    };
    for (auto const& c : cases) {
        auto value = ini::find_value(c.content, c.section, c.key);
        if (c.expected) {
            ASSERT_TRUE(value.has_value()) << c.what;
            EXPECT_EQ(*value, *c.expected) << c.what;
        } else {
            EXPECT_FALSE(value.has_value()) << c.what;
        }
    }
}

TEST(Ini, ParseIntTakesDecimalsAndSaturates)
{
    struct Case {
        char const* text;
        int expected;
    } const cases[] = {
        { "", -7 },
        { "  ", -7 },
        { "42", 42 },
        { " 42 ", 42 },
        { "+7", 7 },
        { "-100000", -100000 },
        { "12abc", 12 },
        { "abc", 0 },
        { "-", 0 },
        { "0x10", 0 },
        { "99999999999", INT_MAX },
        { "-99999999999", INT_MIN },
        { "2147483648", INT_MAX },
        { "-2147483648", INT_MIN },
    };
    for (auto const& c : cases)
        EXPECT_EQ(ini::parse_int(c.text, -7), c.expected) << '"' << c.text << '"';
}

struct EditCase {
    char const* what;
    std::string content;
    char const* section;
    char const* key;
    std::optional<std::string> value;
    std::string expected;
};

TEST(Ini, WithValueChangesOnlyTheKeysLine)
{
    std::vector<EditCase> const cases = {
        { "replaces the value, keeps the key's spelling, drops the blanks", "[UI]\r\n  Touch = on\r\nx=1\r\n", "ui",
            "touch", "auto", "[UI]\r\nTouch=auto\r\nx=1\r\n" },
        { "keeps comments and LF line ends", "; note\n[A]\n# c\na=1\nb=2\n", "A", "a", "3", "; note\n[A]\n# c\na=3\nb=2\n" },
        { "adds a key at the end of its section, before blank lines", "[UI]\r\na=1\r\n\r\n[B]\r\n", "UI", "touch", "on",
            "[UI]\r\na=1\r\ntouch=on\r\n\r\n[B]\r\n" },
        { "adds a key after a last line without line end", "[A]\r\na=1", "A", "b", "2", "[A]\r\na=1\r\nb=2\r\n" },
        { "adds a key under a header that ends the file", "[A]", "A", "b", "2", "[A]\r\nb=2\r\n" },
        { "a header ending in a lone CR gets only its LF", "[A]\r", "A", "b", "2", "[A]\r\nb=2\r\n" },
        { "adds a missing section at the end", "[A]\r\na=1\r\n", "B", "k", "v", "[A]\r\na=1\r\n\r\n[B]\r\nk=v\r\n" },
        { "creates the first section of an empty text", "", "B", "k", "v", "[B]\r\nk=v\r\n" },
        { "keeps a byte-order mark in front", "\xEF\xBB\xBF", "B", "k", "v", "\xEF\xBB\xBF[B]\r\nk=v\r\n" },
        { "changes the key where it is, in a repeated section", "[L]\r\nmode=pos\r\n[L]\r\nid=1\r\n", "L", "id", "2",
            "[L]\r\nmode=pos\r\n[L]\r\nid=2\r\n" },
        { "deletes every occurrence", "[L]\r\nid=1\r\nmode=pos\r\n[L]\r\nID=2\r\n", "L", "id", std::nullopt,
            "[L]\r\nmode=pos\r\n[L]\r\n" },
        { "deleting a missing key changes nothing", "[L]\r\nmode=pos", "L", "id", std::nullopt, "[L]\r\nmode=pos" },
        { "an empty value is a value", "[L]\r\nid=kim\r\n", "L", "id", "", "[L]\r\nid=\r\n" },
        { "a key in another section is left", "[A]\r\nk=1\r\n[B]\r\n", "B", "k", "2", "[A]\r\nk=1\r\n[B]\r\nk=2\r\n" },
    };
    for (auto const& c : cases) {
        std::optional<std::string_view> value;
        if (c.value)
            value = *c.value;
        EXPECT_EQ(ini::with_value(c.content, c.section, c.key, value), c.expected) << c.what;
    }
}

TEST(Ini, WrittenValuesReadBack)
{
    std::string content = "\xEF\xBB\xBF; installer notes\n[SERVER]\nhost = x\n[LOGIN]\r\nid=a";
    for (std::string value : { "kim", "", "가맹점 아이디", "a=b", "  padded" }) {
        content = ini::with_value(content, "LOGIN", "merchid", value);
        auto read = ini::find_value(content, "login", "MERCHID");
        ASSERT_TRUE(read.has_value());
        // Blanks at the ends do not survive the reader, as always.
        std::string expected = value == "  padded" ? "padded" : value;
        EXPECT_EQ(*read, expected);
        EXPECT_EQ(ini::find_value(content, "SERVER", "host"), "x");
        EXPECT_EQ(ini::find_value(content, "LOGIN", "id"), "a");
    }
}

TEST(Ini, RefusesNamesAndValuesThatWouldBreakTheFile)
{
    EXPECT_TRUE(ini::is_valid_section("PRINTER"));
    EXPECT_TRUE(ini::is_valid_key("merchant_keyboard"));
    EXPECT_TRUE(ini::is_valid_value("영수증 프린터 [1층]"));
    for (std::string_view bad : std::initializer_list<std::string_view> { "", "A]", "A\r\nB", " A", std::string_view("A\0B", 3) })
        EXPECT_FALSE(ini::is_valid_section(bad)) << bad;
    for (std::string_view bad : std::initializer_list<std::string_view> { "", "a=b", "[a", "a\nb", "a ", " a" })
        EXPECT_FALSE(ini::is_valid_key(bad)) << bad;
    for (std::string_view bad :
        std::initializer_list<std::string_view> { "x\r\n[APPKEY]\r\nkey=0", "x\r", std::string_view("x\0y", 3) })
        EXPECT_FALSE(ini::is_valid_value(bad));
}

class IniFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tb-ini-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        m_path = m_dir + "/tillbay.ini";
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string content() const
    {
        auto read = os::read_file(m_path, 1 << 24);
        return read.ok() ? read.value() : "<missing>";
    }

    std::string m_dir;
    std::string m_path;
};

TEST_F(IniFile, CreatesAMissingFileButNotToDelete)
{
    EXPECT_TRUE(ini::set_string(m_path, "LOGIN", "id", std::nullopt));
    EXPECT_FALSE(os::file_exists(m_path));
    EXPECT_TRUE(ini::set_string(m_path, "LOGIN", "id", "kim"));
    EXPECT_EQ(content(), "[LOGIN]\r\nid=kim\r\n");
    EXPECT_EQ(ini::get_string(m_path, "login", "ID"), "kim");
    EXPECT_TRUE(ini::set_string(m_path, "LOGIN", "id", std::nullopt));
    EXPECT_EQ(content(), "[LOGIN]\r\n");
    EXPECT_EQ(ini::get_string(m_path, "LOGIN", "id"), std::nullopt);
    EXPECT_EQ(ini::get_int(m_path, "TABLET", "port", 8787), 8787);
}

TEST_F(IniFile, FailedWritesLeaveTheFile)
{
    ASSERT_TRUE(os::write_file(m_path, "[LOGIN]\r\nid=kim\r\n").ok());

    // A value that would smuggle in another section is refused.
    EXPECT_FALSE(ini::set_string(m_path, "LOGIN", "id", "x\r\n[APPKEY]\r\nkey=00"));
    EXPECT_FALSE(ini::set_string("", "LOGIN", "id", "x"));
    EXPECT_EQ(content(), "[LOGIN]\r\nid=kim\r\n");

    // The replacement cannot be created: the temporary name is taken by a folder.
    ASSERT_TRUE(os::make_dir(m_path + ".tmp").ok());
    EXPECT_FALSE(ini::set_string(m_path, "LOGIN", "id", "lee"));
    EXPECT_EQ(content(), "[LOGIN]\r\nid=kim\r\n");
}

TEST_F(IniFile, AnOversizedFileReadsAsEmptyAndIsNeverRewritten)
{
    std::string big = "[LOGIN]\r\nid=kim\r\n" + std::string(ini::k_max_file_bytes, ';');
    ASSERT_TRUE(os::write_file(m_path, big).ok());
    EXPECT_EQ(ini::get_string(m_path, "LOGIN", "id"), std::nullopt);
    EXPECT_FALSE(ini::set_string(m_path, "LOGIN", "id", "lee"));
    EXPECT_EQ(content(), big);
}

TEST_F(IniFile, AFolderInPlaceOfTheFileIsNotOverwritten)
{
    ASSERT_TRUE(os::make_dir(m_path).ok());
    EXPECT_EQ(ini::get_string(m_path, "LOGIN", "id"), std::nullopt);
    EXPECT_FALSE(ini::set_string(m_path, "LOGIN", "id", "lee"));
    EXPECT_TRUE(std::filesystem::is_directory(m_path));
}

} // namespace

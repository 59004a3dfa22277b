// The line-preserving writer and the line-ending normaliser, on texts and on
// the real settings file.

#include "foundation/ini.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "os/fs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>

using namespace tillbay;

namespace {

struct LineCase {
    char const* what;
    std::string content;
    char const* section;
    char const* key;
    std::string value;
    std::string expected;
};

TEST(LinePreservingEdit, ChangesOneValueAndKeepsEveryOtherByte)
{
    std::vector<LineCase> const cases = {
        { "section in lower case, blanks before = stay", "[printer]\r\nwidth  =80\r\n", "PRINTER", "width", "58",
            "[printer]\r\nwidth  = 58\r\n" },
        { "indented key, trailing comment dropped with the old value", "[P]\r\n\t width = 80 ; mm\r\ncut = 1\r\n", "P",
            "width", "58", "[P]\r\n\t width = 58\r\ncut = 1\r\n" },
        { "an LF line stays an LF line", "[S]\nwidth=1\nx=2\n", "S", "width", "2", "[S]\nwidth= 2\nx=2\n" },
        { "an empty old value", "[S]\r\nwidth=\r\n", "S", "width", "2", "[S]\r\nwidth= 2\r\n" },
        { "the last line without line end", "[S]\r\nwidth=1", "S", "width", "2", "[S]\r\nwidth= 2" },
        { "a missing key goes right under the header", "[PRINTER]\r\nname = A\r\ncut = 1\r\n", "PRINTER", "width",
            "58", "[PRINTER]\r\nwidth = 58\r\nname = A\r\ncut = 1\r\n" },
        { "port2 and #port are other keys", "[S]\r\nport2 = 1\r\n#port = 2\r\n", "S", "port", "3",
            "[S]\r\nport = 3\r\nport2 = 1\r\n#port = 2\r\n" },
        { "keys match case-sensitively", "[S]\r\nWidth = 1\r\n", "S", "width", "2", "[S]\r\nwidth = 2\r\nWidth = 1\r\n" },
        { "the same key in an earlier section is left", "[A]\r\nwidth = 1\r\n[PRINTER]\r\nwidth = 2\r\n", "PRINTER",
            "width", "3", "[A]\r\nwidth = 1\r\n[PRINTER]\r\nwidth = 3\r\n" },
        { "the key in a later section is not this section's", "[PRINTER]\r\nname = A\r\n[KITCHEN]\r\nwidth = 2\r\n",
            "PRINTER", "width", "3", "[PRINTER]\r\nwidth = 3\r\nname = A\r\n[KITCHEN]\r\nwidth = 2\r\n" },
        { "a longer section name is another section", "[PRINTERS]\r\nwidth = 1\r\n", "PRINTER", "width", "2",
            "[PRINTERS]\r\nwidth = 1\r\n\r\n[PRINTER]\r\nwidth = 2\r\n" },
        { "a bracket inside a line starts no section", "[A]\r\nx=[PRINTER]\r\n", "PRINTER", "width", "2",
            "[A]\r\nx=[PRINTER]\r\n\r\n[PRINTER]\r\nwidth = 2\r\n" },
        { "a missing section is appended after a blank line", "[A]\r\na = 1\r\n", "DRAWER", "pin", "5",
            "[A]\r\na = 1\r\n\r\n[DRAWER]\r\npin = 5\r\n" },
        { "a file without final line end gets one first", "[A]\r\na = 1", "DRAWER", "pin", "5",
            "[A]\r\na = 1\r\n\r\n[DRAWER]\r\npin = 5\r\n" },
        { "an empty file", "", "LOCK", "mode", "1", "\r\n[LOCK]\r\nmode = 1\r\n" },
        { "a header that ends the file gets its line end first", "[A]\r\na = 1\r\n[PRINTER]", "PRINTER", "width", "58",
            "[A]\r\na = 1\r\n[PRINTER]\r\nwidth = 58\r\n" },
        { "a header ending in a lone CR at the end of the file", "[PRINTER]\r", "PRINTER", "width", "58",
            "[PRINTER]\r\nwidth = 58\r\n" },
        { "a header ending with its line end at the end of the file", "[PRINTER]\r\n", "PRINTER", "width", "58",
            "[PRINTER]\r\nwidth = 58\r\n" },
        { "a byte-order mark does not hide the first header", "\xEF\xBB\xBF[S]\r\nwidth=1\r\n", "S", "width", "2",
            "\xEF\xBB\xBF[S]\r\nwidth= 2\r\n" },
        { "a lone CR before the next header is kept", "[S]\r\nwidth=1\r[T]\r\n", "S", "width", "2",
            "[S]\r\nwidth= 2\r[T]\r\n" },
        { "a long value is written whole", "[KITCHEN]\r\n", "KITCHEN", "name", std::string(300, 'n'),
            "[KITCHEN]\r\nname = " + std::string(300, 'n') + "\r\n" },
    };
    for (auto const& c : cases)
        EXPECT_EQ(settings::line_preserving_edit(c.content, c.section, c.key, c.value), c.expected) << c.what;
}

TEST(LinePreservingEdit, WhatItWritesTheReaderFinds)
{
    std::string content = "[printer]\r\nWidth = 80\r\nname = A\r\n";
    content = settings::line_preserving_edit(content, "PRINTER", "width", "58");
    EXPECT_EQ(ini::find_value(content, "PRINTER", "width"), "58");
    content = settings::line_preserving_edit(content, "NOTIFY", "badgex", "-1200");
    EXPECT_EQ(ini::find_value(content, "NOTIFY", "badgex"), "-1200");
    content = settings::line_preserving_edit(content, "NOTIFY", "badgex", "40");
    EXPECT_EQ(ini::find_value(content, "NOTIFY", "badgex"), "40");
    EXPECT_EQ(ini::find_value(content, "PRINTER", "name"), "A");
}

TEST(NormalisedLineEndings, RewritesMarksAndLoneLineEndsOnly)
{
    struct Case {
        char const* what;
        std::string content;
        std::optional<std::string> expected;
    } const cases[] = {
        { "mark and LF", "\xEF\xBB\xBF[S]\nport=1\n", "[S]\r\nport=1\r\n" },
        { "CR LF without mark is left", "[S]\r\nport=1\r\n", std::nullopt },
        { "a mark alone on CR LF lines", "\xEF\xBB\xBF[S]\r\n", "[S]\r\n" },
        { "lone CR", "[S]\rport=1\r", "[S]\r\nport=1\r\n" },
        { "CR CR LF is a lone CR and a CR LF", "a\r\r\nb\n", "a\r\n\r\nb\r\n" },
        { "LF first", "\nab", "\r\nab" },
        { "no line end at all", "[S]", std::nullopt },
        { "a mark and nothing else", "\xEF\xBB\xBF", "" },
        { "shorter than 3 bytes", "\n\n", std::nullopt },
        { "bytes above 127 stay", "\xEA\xB0\x80\n", "\xEA\xB0\x80\r\n" },
        { "larger than the limit", std::string(settings::k_max_rewrite_bytes, 'a') + "\n", std::nullopt },
    };
    for (auto const& c : cases)
        EXPECT_EQ(settings::normalised_line_endings(c.content), c.expected) << c.what;
    std::string at_limit = std::string(settings::k_max_rewrite_bytes - 1, 'a') + "\n";
    EXPECT_TRUE(settings::normalised_line_endings(at_limit).has_value());
}

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tb-settings-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        paths::set_exe_dir_for_testing(m_dir);
        m_path = m_dir + "/tillbay.ini";
    }
    void TearDown() override
    {
        paths::set_exe_dir_for_testing({});
        std::filesystem::remove_all(m_dir);
    }

    void write(std::string const& content) { ASSERT_TRUE(os::write_file(m_path, content).ok()); }
    std::string content() const
    {
        auto read = os::read_file(m_path, 1 << 24);
        return read.ok() ? read.value() : "<missing>";
    }

    std::string m_dir;
    std::string m_path;
};

TEST_F(SettingsFile, LinePreservingWriteRewritesTheFile)
{
    write("; printer set up by the installer\r\n[printer]\r\nwidth  =80\r\n");
    EXPECT_TRUE(settings::write_line_preserving("PRINTER", "width", "58"));
    EXPECT_EQ(content(), "; printer set up by the installer\r\n[printer]\r\nwidth  = 58\r\n");
    EXPECT_EQ(settings::read_int("PRINTER", "width", 80), 58);
    EXPECT_FALSE(os::file_exists(m_path + ".tmp"));
}

TEST_F(SettingsFile, LinePreservingWriteNeverCreatesOrDamagesTheFile)
{
    EXPECT_FALSE(settings::write_line_preserving("PRINTER", "width", "58"));
    EXPECT_FALSE(os::file_exists(m_path));

    std::string const original = "[PRINTER]\r\nwidth = 80\r\n";
    write(original);
    // A printer name that would start a section of its own.
    EXPECT_FALSE(settings::write_line_preserving("PRINTER", "name", "x\r\n[APPKEY]\r\nkey=0"));
    EXPECT_FALSE(settings::write_line_preserving("PRINTER", "", "1"));
    EXPECT_FALSE(settings::write_line_preserving("PRI]NTER", "width", "1"));
    EXPECT_EQ(content(), original);

    ASSERT_TRUE(os::make_dir(m_path + ".tmp").ok());
    EXPECT_FALSE(settings::write_line_preserving("PRINTER", "width", "58"));
    EXPECT_EQ(content(), original);
    std::filesystem::remove(m_path + ".tmp");

    std::string const big = original + std::string(settings::k_max_rewrite_bytes, ';');
    write(big);
    EXPECT_FALSE(settings::write_line_preserving("PRINTER", "width", "58"));
    EXPECT_EQ(content(), big);
}

TEST_F(SettingsFile, ProfileWriteCreatesTheFile)
{
    EXPECT_TRUE(settings::write_profile("LOGIN", "mode", "merch"));
    EXPECT_EQ(content(), "[LOGIN]\r\nmode=merch\r\n");
    EXPECT_EQ(settings::read_text("login", "MODE", 32), "merch");
    EXPECT_TRUE(settings::write_profile("LOGIN", "mode", std::nullopt));
    EXPECT_EQ(settings::read_text("LOGIN", "mode", 32), "");
}

TEST_F(SettingsFile, NormaliserLeavesAGoodFileUntouched)
{
    write("[SERVER]\r\nport=9443\r\n");
    struct stat before {};
    ASSERT_EQ(::stat(m_path.c_str(), &before), 0);
    settings::normalise_line_endings(m_path);
    struct stat after {};
    ASSERT_EQ(::stat(m_path.c_str(), &after), 0);
    // Same inode: the file was not replaced.
    EXPECT_EQ(before.st_ino, after.st_ino);

    write("\xEF\xBB\xBF[SERVER]\nport=9443\n");
    settings::normalise_line_endings(m_path);
    EXPECT_EQ(content(), "[SERVER]\r\nport=9443\r\n");
}

} // namespace

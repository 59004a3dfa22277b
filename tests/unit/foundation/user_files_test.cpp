// The per-user preference files and the receipt history.

#include "foundation/paths.h"
#include "foundation/user_files.h"
#include "os/fs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>

using namespace tillbay;

namespace {

class UserFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tb-user-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        ASSERT_TRUE(os::make_dir(m_dir + "/exe").ok());
        paths::set_exe_dir_for_testing(m_dir + "/exe");
        for (char const* name : { "LOCALAPPDATA", "XDG_DATA_HOME", "HOME" }) {
            char const* value = std::getenv(name);
            m_saved.push_back({ name, value ? std::optional<std::string>(value) : std::nullopt });
        }
        ::setenv("LOCALAPPDATA", (m_dir + "/local").c_str(), 1);
        m_user = m_dir + "/local/TillBay/";
    }
    void TearDown() override
    {
        for (auto const& [name, value] : m_saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        paths::set_exe_dir_for_testing({});
        std::filesystem::remove_all(m_dir);
    }

    void put(std::string const& name, std::string const& content)
    {
        ASSERT_TRUE(os::make_dir(m_dir + "/local").ok());
        ASSERT_TRUE(os::make_dir(m_user).ok());
        ASSERT_TRUE(os::write_file(m_user + name, content).ok());
    }
    std::optional<std::string> get(std::string const& name) const
    {
        auto read = os::read_file(m_user + name, 1 << 24);
        return read.ok() ? std::optional<std::string>(read.value()) : std::nullopt;
    }

    std::string m_dir;
    std::string m_user;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST_F(UserFiles, FontSizes)
{
    EXPECT_EQ(userfiles::read_font_sizes(), "100,100,100");
    put("fontsize.txt", "");
    EXPECT_EQ(userfiles::read_font_sizes(), "100,100,100");
    put("fontsize.txt", std::string(50, '9'));
    EXPECT_EQ(userfiles::read_font_sizes(), std::string(31, '9'));

    ASSERT_TRUE(userfiles::write_font_sizes(" 9 0a,1x10, 100 ").ok());
    EXPECT_EQ(get("fontsize.txt"), "90,110,100");
    EXPECT_EQ(userfiles::read_font_sizes(), "90,110,100");
    ASSERT_TRUE(userfiles::write_font_sizes(std::string(40, '1')).ok());
    EXPECT_EQ(get("fontsize.txt"), std::string(24, '1'));
    // Nothing usable: the file stays as it was.
    ASSERT_TRUE(userfiles::write_font_sizes("큰 글씨").ok());
    EXPECT_EQ(get("fontsize.txt"), std::string(24, '1'));
}

TEST_F(UserFiles, WordFilesCompareTheirFirstBytes)
{
    struct Case {
        char const* file;
        std::optional<std::string> content;
        bool expected;
    } const cases[] = {
        { "theme.txt", std::nullopt, false },
        { "theme.txt", "dark", true },
        { "theme.txt", "darkness", true },
        { "theme.txt", "Dark", false },
        { "theme.txt", "light", false },
        { "sound.txt", std::nullopt, true },
        { "sound.txt", "off", false },
        { "sound.txt", "OFF", false },
        { "sound.txt", "Off\r\n", false },
        { "sound.txt", "of", true },
        { "sound.txt", "on", true },
        { "fullscreen.txt", std::nullopt, false },
        { "fullscreen.txt", "1", true },
        { "fullscreen.txt", "10", true },
        { "fullscreen.txt", "0", false },
        { "fullscreen.txt", "", false },
        { "fullscreen.txt", "x", false },
    };
    for (auto const& c : cases) {
        std::filesystem::remove(m_user + c.file);
        if (c.content)
            put(c.file, *c.content);
        bool value = std::string(c.file) == "theme.txt" ? userfiles::read_theme_dark()
            : std::string(c.file) == "sound.txt"        ? userfiles::read_sound_on()
                                                        : userfiles::read_fullscreen();
        EXPECT_EQ(value, c.expected) << c.file << " holding " << c.content.value_or("<nothing>");
    }

    ASSERT_TRUE(userfiles::write_theme(true).ok());
    EXPECT_EQ(get("theme.txt"), "dark");
    ASSERT_TRUE(userfiles::write_theme(false).ok());
    EXPECT_EQ(get("theme.txt"), "light");
    ASSERT_TRUE(userfiles::write_sound(false).ok());
    EXPECT_EQ(get("sound.txt"), "off");
    EXPECT_FALSE(userfiles::read_sound_on());
    ASSERT_TRUE(userfiles::write_fullscreen(true).ok());
    EXPECT_EQ(get("fullscreen.txt"), "1");
}

TEST_F(UserFiles, FailedWritesKeepTheOldFileAndSayWhy)
{
    put("theme.txt", "dark");
    ASSERT_TRUE(os::make_dir(m_user + "theme.txt.tmp").ok());
    auto theme = userfiles::write_theme(false);
    ASSERT_FALSE(theme.ok());
    EXPECT_EQ(theme.error().message, "화면 밝기를 저장하지 못했습니다");
    EXPECT_EQ(get("theme.txt"), "dark");

    put("history-7.json", "[1]");
    ASSERT_TRUE(os::make_dir(m_user + "history-7.json.tmp").ok());
    auto history = userfiles::save_history(7, "[1,2]");
    ASSERT_FALSE(history.ok());
    EXPECT_EQ(history.error().message, "영수증 이력을 저장하지 못했습니다");
    EXPECT_EQ(get("history-7.json"), "[1]");

    ASSERT_TRUE(os::make_dir(m_user + "sound.txt.tmp").ok());
    EXPECT_EQ(userfiles::write_sound(true).error().message, "알림음 설정을 저장하지 못했습니다");
    ASSERT_TRUE(os::make_dir(m_user + "fontsize.txt.tmp").ok());
    EXPECT_EQ(userfiles::write_font_sizes("1").error().message, "글자 크기를 저장하지 못했습니다");
    ASSERT_TRUE(os::make_dir(m_user + "layout-7.json.tmp").ok());
    EXPECT_EQ(userfiles::save_layout(7, "{}").error().message, "배치를 저장하지 못했습니다");
}

TEST_F(UserFiles, ReceiptHistory)
{
    EXPECT_EQ(userfiles::history_callback(7), "window.setHistory&&setHistory('')");

    ASSERT_TRUE(userfiles::save_history(7, "[{\"no\":1,\"memo\":\"a\\\"b\"}]").ok());
    EXPECT_EQ(get("history-7.json"), "[{\"no\":1,\"memo\":\"a\\\"b\"}]");
    EXPECT_FALSE(std::filesystem::exists(m_user + "history-7.json.tmp"));
    EXPECT_EQ(userfiles::history_callback(7),
        "window.setHistory&&setHistory(\"[{\\\"no\\\":1,\\\"memo\\\":\\\"a\\\\\\\"b\\\"}]\")");
    // Another store has its own file.
    EXPECT_EQ(userfiles::history_callback(8), "window.setHistory&&setHistory('')");

    // An empty text leaves the history alone.
    ASSERT_TRUE(userfiles::save_history(7, "").ok());
    EXPECT_TRUE(get("history-7.json").has_value());

    put("history-7.json", "");
    EXPECT_EQ(userfiles::history_callback(7), "window.setHistory&&setHistory('')");
    put("history-7.json", std::string(userfiles::k_history_limit_bytes, 'a'));
    EXPECT_EQ(userfiles::history_callback(7), "window.setHistory&&setHistory('')");
    put("history-7.json", std::string(userfiles::k_history_limit_bytes - 1, 'a'));
    EXPECT_EQ(userfiles::history_callback(7).size(), userfiles::k_history_limit_bytes - 1 + 33);
}

TEST_F(UserFiles, LayoutPerStoreWithTheOldSharedFileTakenOver)
{
    EXPECT_EQ(userfiles::read_layout(3), std::nullopt);

    put("layout.json", "{\"old\":1}");
    EXPECT_EQ(userfiles::read_layout(3), "{\"old\":1}");
    EXPECT_EQ(get("layout-3.json"), "{\"old\":1}");

    ASSERT_TRUE(userfiles::save_layout(3, "{\"new\":1}").ok());
    EXPECT_EQ(userfiles::read_layout(3), "{\"new\":1}");
    ASSERT_TRUE(userfiles::save_layout(3, "").ok());
    EXPECT_FALSE(get("layout-3.json").has_value());
    // A deleted layout stays deleted: the old shared file was taken over once.
    EXPECT_EQ(userfiles::read_layout(3), std::nullopt);
    EXPECT_FALSE(get("layout.json").has_value());
    EXPECT_EQ(userfiles::read_layout(5), std::nullopt) << "another store does not get it again";
    ASSERT_TRUE(userfiles::save_layout(3, "").ok());

    put("layout-4.json", "");
    EXPECT_EQ(userfiles::read_layout(4), std::nullopt);
    put("layout-4.json", std::string(userfiles::k_max_layout_bytes + 1, ' '));
    EXPECT_EQ(userfiles::read_layout(4), std::nullopt);
    put("layout-4.json", std::string(userfiles::k_max_layout_bytes, ' '));
    EXPECT_EQ(userfiles::read_layout(4)->size(), userfiles::k_max_layout_bytes);
}

TEST_F(UserFiles, WithoutAPerUserFolderFilesLieNextToTheProgram)
{
    for (char const* name : { "LOCALAPPDATA", "XDG_DATA_HOME", "HOME" })
        ::unsetenv(name);
    std::string exe = m_dir + "/exe/";
    EXPECT_EQ(userfiles::history_path(7), exe + "history.json");
    EXPECT_EQ(userfiles::layout_path(7), exe + "layout.json");

    ASSERT_TRUE(userfiles::save_layout(7, "{}").ok());
    EXPECT_EQ(userfiles::read_layout(7), "{}");
    ASSERT_TRUE(userfiles::write_theme(true).ok());
    EXPECT_TRUE(std::filesystem::exists(exe + "theme.txt"));
}

// The per-user folder holds orders, logs and the crash report: it and the
// files in it are its user's alone, also when an earlier build made the
// folder readable by others.
TEST_F(UserFiles, TheFolderAndItsFilesArePrivate)
{
    ::umask(022);
    auto mode_of = [](std::string const& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 07777u;
    };
    ASSERT_TRUE(userfiles::save_history(7, "[1]").ok());
    ASSERT_TRUE(userfiles::save_layout(7, "{}").ok());
    EXPECT_EQ(mode_of(m_user), 0700u);
    EXPECT_EQ(mode_of(m_user + "history-7.json"), 0600u);
    EXPECT_EQ(mode_of(m_user + "layout-7.json"), 0600u);

    ::chmod(m_user.c_str(), 0755);
    EXPECT_EQ(paths::user_dir(), m_user);
    EXPECT_EQ(mode_of(m_user), 0700u);
}

TEST_F(UserFiles, MerchantFileIsOnlyDeleted)
{
    userfiles::remove_merchant_file();
    put("merchant.txt", "old");
    userfiles::remove_merchant_file();
    EXPECT_FALSE(get("merchant.txt").has_value());
}

} // namespace

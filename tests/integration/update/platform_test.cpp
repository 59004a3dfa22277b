// The update against the reference platform as web host: a new UI version
// installs a release the next start uses, a newer program is downloaded,
// verified, staged and swapped in at the next start with the same arguments.

#include "process.h"
#include "tests/unit/update/fixture.h"
#include "update/manifest.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <regex>

#ifdef PLATFORM

using namespace tillbay;
using namespace tillbay::test;
namespace fs = std::filesystem;

namespace {

class PlatformUpdate : public ::testing::Test {
protected:
    void SetUp() override
    {
        write_files(m_dir / "ui", pages("p1"));
        m_platform = std::make_unique<Child>(std::vector<std::string> { PLATFORM, "serve", "--data", m_dir / "data",
            "--web-port", "0", "--api-port", "0", "--relay-port", "0", "--control-port", "0", "--plain", "--ui",
            m_dir / "ui" });
        ASSERT_TRUE(m_platform->wait_for("ready")) << m_platform->output();
        std::smatch match;
        auto const& out = m_platform->output();
        ASSERT_TRUE(std::regex_search(out, match, std::regex("web 127\\.0\\.0\\.1:([0-9]+)")));
        m_web = "http://127.0.0.1:" + match[1].str();
        ASSERT_TRUE(std::regex_search(out, match, std::regex("control 127\\.0\\.0\\.1:([0-9]+)")));
        m_control = "http://127.0.0.1:" + match[1].str();

        fs::create_directories(m_dir / "pos");
        fs::copy_file(PROBE_A, exe());
        set_web_host(m_web);
    }

    std::string exe() const { return m_dir / "pos/tillbay"; }
    void set_web_host(std::string const& web_host)
    {
        write(m_dir / "pos/tillbay.ini", "[SERVER]\r\nhost=127.0.0.1\r\nwebhost=" + web_host + "\r\n");
    }
    std::vector<std::string> env() const
    {
        return { "TILLBAY_UIROOT=" + (m_dir / "uiroot"), "TILLBAY_TESTPORT=1", "LOCALAPPDATA=" + (m_dir / "appdata") };
    }
    std::string pos(std::vector<std::string> args = {})
    {
        args.insert(args.begin(), exe());
        return run(args, env());
    }
    std::string publish(std::string const& json)
    {
        return run({ "/usr/bin/curl", "-s", "-XPOST", "-d", json, m_control + "/control/publish" });
    }
    std::string served_ui_version()
    {
        auto text = run({ "/usr/bin/curl", "-s", m_web + "/v2/pos/version.json" });
        return update::scan_version_manifest(text).ui_version;
    }
    std::string settings_text() const { return read(m_dir / "pos/tillbay.ini"); }

    TempDir m_dir;
    std::unique_ptr<Child> m_platform;
    std::string m_web;
    std::string m_control;
};

} // namespace

TEST_F(PlatformUpdate, ANewUiVersionIsUsedFromTheNextStart)
{
    auto v1 = served_ui_version();
    ASSERT_FALSE(v1.empty());
    auto first = pos({ "check" });
    EXPECT_NE(first.find("ui  leased 0"), std::string::npos) << first;
    EXPECT_NE(first.find("state [ui-fetch] [화면을 갱신하는 중입니다 (" + v1 + ")]"), std::string::npos) << first;
    EXPECT_NE(first.find("state [app-ready] [새 화면(" + v1 + ") 준비가 끝났습니다 — 다시 켜면 적용됩니다]"),
        std::string::npos)
        << first;
    auto second = pos();
    EXPECT_NE(second.find("ui " + v1 + " leased 1"), std::string::npos) << second;

    // Nothing new: the state is cleared and nothing is installed.
    auto current = pos({ "check" });
    EXPECT_NE(current.find("state [] []"), std::string::npos) << current;
    EXPECT_EQ(current.find("app-ready"), std::string::npos) << current;

    // A changed page on the web host and a new version name for it.
    write(m_dir / "ui/orders.html", "<p>orders v2</p>");
    auto published = publish(R"({"uiVersion":"v2-test"})");
    ASSERT_NE(published.find("v2-test"), std::string::npos) << published;
    auto check = pos({ "check" });
    EXPECT_NE(check.find("state [app-ready] [새 화면(v2-test) 준비가 끝났습니다"), std::string::npos) << check;
    EXPECT_NE(check.find("ui " + v1 + " leased 1"), std::string::npos) << "this run keeps its bundle";
    auto next = pos({ "hold" });
    EXPECT_NE(next.find("ui v2-test leased 1"), std::string::npos) << next;
    auto root = next.substr(next.find("holding ") + 8);
    root = root.substr(0, root.find('\n'));
    EXPECT_EQ(read(root + "/orders.html"), "<p>orders v2</p>");
}

TEST_F(PlatformUpdate, ANewerProgramIsStagedAndSwappedInWithTheSameArguments)
{
    auto published = publish(std::string(R"({"appVersion":"1.4.0","appFile":")") + PROBE_B + "\"}");
    ASSERT_NE(published.find("appSha256"), std::string::npos) << published;

    auto check = pos({ "check" });
    EXPECT_NE(check.find("state [app-fetch] [새 판(1.4.0)을 받는 중입니다 — 잠시만 기다려 주세요]"), std::string::npos)
        << check;
    EXPECT_NE(check.find("state [app-ready] [새 판(1.4.0)을 받았습니다 — 「지금 다시 켜기」를 누르면 적용됩니다]"),
        std::string::npos)
        << check;
    EXPECT_NE(check.find("toast [새 버전을 받았습니다. 다음에 프로그램을 켜면 적용됩니다.]"), std::string::npos) << check;
    EXPECT_EQ(check.find("ui-fetch"), std::string::npos) << "the bundle waits for a run without a newer program";
    ASSERT_TRUE(fs::exists(m_dir / "pos/tillbay2.new"));
    EXPECT_NE(settings_text().find("staged=1.4.0"), std::string::npos);

    auto restarted = pos({ "one", "two words", "" });
    EXPECT_NE(restarted.find("probe b"), std::string::npos) << restarted;
    EXPECT_EQ(restarted.find("probe a"), std::string::npos) << restarted;
    EXPECT_NE(restarted.find("argv [one] [two words] []"), std::string::npos) << restarted;
    EXPECT_TRUE(fs::exists(m_dir / "pos/tillbay2.old"));
    EXPECT_FALSE(fs::exists(m_dir / "pos/tillbay2.new"));
    EXPECT_NE(settings_text().find("applied=1.4.0"), std::string::npos) << settings_text();

    // The swapped-in program does not fetch the version it already applied.
    auto again = pos({ "check" });
    EXPECT_NE(again.find("probe b"), std::string::npos) << again;
    EXPECT_NE(again.find("state [app-fail] [새 판을 받지 못했습니다 — 잠시 뒤 다시]"), std::string::npos) << again;
    EXPECT_EQ(again.find("toast"), std::string::npos) << again;
}

TEST_F(PlatformUpdate, ACorruptedStagedProgramIsDeletedAtStart)
{
    publish(std::string(R"({"appVersion":"1.4.0","appFile":")") + PROBE_B + "\"}");
    auto check = pos({ "check" });
    ASSERT_TRUE(fs::exists(m_dir / "pos/tillbay2.new")) << check;
    {
        std::ofstream out(m_dir / "pos/tillbay2.new", std::ios::app | std::ios::binary);
        out << 'x';
    }
    auto start = pos({ "x" });
    EXPECT_NE(start.find("probe a"), std::string::npos) << start;
    EXPECT_FALSE(fs::exists(m_dir / "pos/tillbay2.new"));
    EXPECT_EQ(settings_text().find("staged="), std::string::npos) << settings_text();
    EXPECT_EQ(settings_text().find("applied="), std::string::npos) << settings_text();
}

TEST_F(PlatformUpdate, APlainHttpPublicHostIsRefused)
{
    set_web_host("http://pos.example.com");
    auto check = pos({ "check" });
    EXPECT_NE(check.find("probe a"), std::string::npos) << check;
    EXPECT_EQ(check.find("state ["), std::string::npos) << check;
    EXPECT_EQ(check.find("status ["), std::string::npos) << check;
}

#endif

// The PC preference commands against a fresh per-user folder, settings file
// and XDG config folder for each case: values survive a new family (a
// restart), refused values change nothing, the autostart entry is a valid
// desktop entry that follows a moved program, and the store position is
// checked before it goes into a request.

#include "foundation/paths.h"
#include "os/autostart.h"
#include "session/session.h"
#include "shell/preferences.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace tillbay;
using namespace tillbay::shell;

namespace {

struct RecordingPage final : bridge::Page {
    std::vector<std::string> calls;
    void callback(std::string_view name, std::string_view args) override
    {
        calls.push_back(std::string(name) + "(" + std::string(args) + ")");
    }
    void status(std::string_view message) override { calls.push_back("status:" + std::string(message)); }
    std::string last() const { return calls.empty() ? std::string {} : calls.back(); }
};

std::string read_all(std::filesystem::path const& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class Preferences : public ::testing::Test {
protected:
    Preferences()
    {
        char pattern[] = "/tmp/tb-prefs-XXXXXX";
        m_dir = ::mkdtemp(pattern);
        std::filesystem::create_directories(m_dir / "install");
        std::filesystem::create_directories(m_dir / "user");
        std::filesystem::create_directories(m_dir / "config");
        paths::set_exe_dir_for_testing((m_dir / "install").string() + "/");
        std::ofstream(m_dir / "install" / "tillbay.ini") << "[UI]\n";
        save_env("LOCALAPPDATA", (m_dir / "user").string());
        save_env("XDG_CONFIG_HOME", (m_dir / "config").string());
        executable = (m_dir / "install" / "tillbay").string();
        restart();
    }
    ~Preferences() override
    {
        family.reset();
        autostart.reset();
        session::reset();
        paths::set_exe_dir_for_testing({});
        for (auto const& [name, value] : m_saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    void save_env(std::string const& name, std::string const& value)
    {
        char const* old = std::getenv(name.c_str());
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    // A new family over the same files, as after a restart.
    void restart()
    {
        family.reset();
        autostart = os::desktop_autostart();
        PreferenceHooks hooks;
        hooks.own_executable = [this] { return executable; };
        hooks.owner_request = [this](std::string_view command) -> Result<std::string> {
            requests.emplace_back(command);
            return std::string("{}");
        };
        family = std::make_unique<PreferencesFamily>(*autostart, hooks);
    }
    std::string run(std::vector<std::string> fields)
    {
        page.calls.clear();
        bridge::Command command { std::move(fields), 1, false };
        EXPECT_EQ(family->handle(command, page), bridge::Handled::Yes);
        std::string all;
        for (auto const& call : page.calls)
            all += (all.empty() ? "" : " | ") + call;
        return all;
    }
    std::filesystem::path entry() const { return m_dir / "config" / "autostart" / "tillbay.desktop"; }

    std::filesystem::path m_dir;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
    std::string executable;
    std::unique_ptr<os::Autostart> autostart;
    std::unique_ptr<PreferencesFamily> family;
    std::vector<std::string> requests;
    RecordingPage page;
};

TEST_F(Preferences, ValuesSurviveARestartAndRefusedValuesChangeNothing)
{
    EXPECT_EQ(run({ "getsound" }), "setSoundOn(1)");
    EXPECT_EQ(run({ "gettouchmode" }), "setTouchMode(\"auto\")");
    EXPECT_EQ(run({ "getmerchantkbd" }), "setMerchantKeyboard(0,true)");
    EXPECT_EQ(run({ "getfontsize" }), "setFontSizes(\"100,100,100\")");

    EXPECT_EQ(run({ "setsound", "false" }), "setSoundOn(1)");
    EXPECT_EQ(run({ "setsound", "0" }), "setSoundOn(0)");
    EXPECT_EQ(run({ "settouchmode", "on" }), "setTouchMode(\"on\")");
    EXPECT_EQ(run({ "settouchmode", "yes" }), "");
    EXPECT_EQ(run({ "setmerchantkbd", "1" }), "setMerchantKeyboard(1,true)");
    EXPECT_EQ(run({ "setmerchantkbd", "2" }), "");
    EXPECT_EQ(run({ "setmerchantkbd", "0", "1" }), "");
    EXPECT_EQ(run({ "setsetup", "1" }), "setSetupDone(1)");
    EXPECT_EQ(run({ "setfontsize", " 120, 9a0,1x10 " }), "");

    restart();
    EXPECT_EQ(run({ "getsound" }), "setSoundOn(0)");
    EXPECT_EQ(run({ "gettouchmode" }), "setTouchMode(\"on\")");
    EXPECT_EQ(run({ "getmerchantkbd" }), "setMerchantKeyboard(1,true)");
    EXPECT_EQ(run({ "getsetup" }), "setSetupDone(1)");
    EXPECT_EQ(run({ "getfontsize" }), "setFontSizes(\"120,90,110\")");
}

TEST_F(Preferences, TheAutostartEntryIsValidAndFollowsAMovedProgram)
{
    EXPECT_EQ(run({ "getautostart" }), "setAutoStart(0)");
    // A folder name with a space, a quote, a dollar and a percent sign.
    std::filesystem::create_directories(m_dir / "my \"pos\" $HOME 100%");
    executable = (m_dir / "my \"pos\" $HOME 100%" / "tillbay").string();
    EXPECT_EQ(run({ "setautostart", "1" }), "status:컴퓨터를 켜면 POS 가 저절로 뜹니다 | setAutoStart(1)");
    ASSERT_TRUE(std::filesystem::exists(entry()));
    EXPECT_EQ(autostart->program().value(), executable);
    std::string validate = "desktop-file-validate '" + entry().string() + "' > '" + (m_dir / "validate.txt").string() + "' 2>&1";
    EXPECT_EQ(std::system(validate.c_str()), 0) << read_all(m_dir / "validate.txt") << read_all(entry());

    // The program moved: the next getautostart points the entry at it.
    executable = (m_dir / "moved" / "tillbay").string();
    restart();
    EXPECT_EQ(run({ "getautostart" }), "setAutoStart(1)");
    EXPECT_EQ(autostart->program().value(), executable);
    EXPECT_NE(read_all(entry()).find("/moved/tillbay"), std::string::npos);

    EXPECT_EQ(run({ "setautostart", "0" }), "status:자동 실행을 껐습니다 | setAutoStart(0)");
    EXPECT_FALSE(std::filesystem::exists(entry()));
    EXPECT_EQ(run({ "setautostart", "0" }), "status:자동 실행을 껐습니다 | setAutoStart(0)");
}

TEST_F(Preferences, TheStorePositionIsCheckedBeforeItIsSent)
{
    EXPECT_EQ(run({ "setgpspos", "서울 중구", "37.56", "126.97" }), "");
    EXPECT_TRUE(requests.empty()) << "no owner signed in";
    EXPECT_EQ(run({ "getownerauth" }), "setOwnerAuth('{}')");

    session::set_staff(30, 3, "테스트 매장", false);
    session::OwnerRecord owner;
    owner.devkey = SecretString(std::string(64, 'a'));
    owner.deviv = SecretString(std::string(32, 'b'));
    owner.idx = 7;
    owner.storeidx = 30;
    session::set_owner(owner);
    EXPECT_EQ(run({ "getownerauth" }), "setOwnerAuth(\"{\\\"idx\\\":7,\\\"storeidx\\\":30,\\\"devkey\\\":\\\"" + std::string(64, 'a') + "\\\"}\")");
    struct Case {
        char const* lat;
        char const* lng;
        bool sent;
    };
    Case const cases[] = {
        { "37.56", "126.97", true },
        { "-90", "180", true },
        { "90.5", "126.97", false },
        { "37.56", "-180.01", false },
        { "nan", "1", false },
        { "inf", "1", false },
        { "1e2", "1", false },
        { "37.5&x=1", "1", false },
        { "", "1", false },
    };
    for (auto const& c : cases) {
        requests.clear();
        run({ "setgpspos", "서울 & 중구=1'가", c.lat, c.lng });
        ASSERT_EQ(requests.size(), c.sent ? 1u : 0u) << c.lat << " " << c.lng;
        if (c.sent) {
            EXPECT_EQ(requests[0], std::string("cmd=50&storeidx=30&address=서울   중구 1 가&lat=") + c.lat + "&lng=" + c.lng);
            EXPECT_EQ(page.calls.front(), "status:주소를 수정했습니다");
        } else {
            EXPECT_EQ(page.last(), "status:주소를 저장하지 못했습니다");
        }
    }
}

} // namespace

#include "bridge/admission.h"
#include "door/customer_display.h"
#include "door/door_state.h"
#include "door/tablet_family.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "recording_page.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <fstream>

using namespace tillbay;
using test::RecordingPage;

namespace {

class FakeFirewall final : public os::firewall::Firewall {
public:
    os::firewall::State state;
    os::firewall::Change change = os::firewall::Change::Started;
    std::vector<std::string> asked;
    std::function<void(bool)> pending;

    os::firewall::State check(int port) override
    {
        asked.push_back("check " + std::to_string(port));
        return state;
    }
    os::firewall::Change open_port(int port, std::function<void(bool)> done) override
    {
        asked.push_back("open " + std::to_string(port));
        pending = std::move(done);
        return change;
    }
    os::firewall::Change close_ports(std::vector<int> const& ports, std::function<void(bool)> done) override
    {
        std::string text = "close";
        for (int p : ports)
            text += " " + std::to_string(p);
        asked.push_back(text);
        pending = std::move(done);
        return change;
    }
};

class FakeScreen final : public os::CustomerScreen {
public:
    std::vector<os::Monitor> list;
    bool open_now = false;
    std::string address;
    std::vector<std::string> did;

    std::vector<os::Monitor> monitors() override { return list; }
    bool open(os::ScreenRect const& r, os::WindowKind kind, std::string const& a) override
    {
        open_now = true;
        address = a;
        did.push_back("open " + std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x"
            + std::to_string(r.height) + (kind == os::WindowKind::Test ? " test" : ""));
        return true;
    }
    void move(os::ScreenRect const& r) override { did.push_back("move " + std::to_string(r.x)); }
    void close() override
    {
        open_now = false;
        did.push_back("close");
    }
    bool is_open() const override { return open_now; }
    std::string current_address() const override { return address; }
    void execute_script(std::string const& script) override { did.push_back("script " + script); }
};

class FamiliesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::temp_directory_path() / ("tb-door-families-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_dir);
        std::ofstream(m_dir / "tillbay.ini") << "[TABLET]\r\ntoken=PAIRTOKEN1\r\n";
        paths::set_exe_dir_for_testing(m_dir.string() + "/");
        door::reset_for_testing();
    }
    void TearDown() override
    {
        paths::set_exe_dir_for_testing("");
        std::filesystem::remove_all(m_dir);
    }

    bridge::Command command(std::string const& text, bool internal = false)
    {
        bridge::Command c;
        c.fields = bridge::split_fields(text);
        c.internal = internal;
        return c;
    }

    std::filesystem::path m_dir;
};

TEST_F(FamiliesTest, TabletStatusListsPrivateAddressesAndPairingLinks)
{
    FakeFirewall firewall;
    door::Door door({}, [](std::span<uint8_t>) { return false; }, {});
    std::vector<std::string> queued;
    door::TabletFamily family(door, firewall,
        { [] {
             return std::vector<std::array<uint8_t, 4>> { { 127, 0, 0, 1 }, { 192, 168, 0, 5 }, { 169, 254, 3, 3 },
                 { 8, 8, 8, 8 }, { 10, 0, 0, 2 }, { 192, 168, 0, 5 } };
         },
            [&](std::string c) { queued.push_back(std::move(c)); } });
    EXPECT_EQ(family.runs("gettablet"), bridge::Runs::OnLane);
    EXPECT_EQ(family.runs("custshow"), bridge::Runs::OnUiThread);
    door::append_log("192.168.0.7", "GET /state");

    RecordingPage page;
    ASSERT_EQ(family.handle(command("gettablet"), page), bridge::Handled::Yes);
    ASSERT_EQ(page.said.size(), 1u);
    std::string said = page.said[0];
    std::string log_at = door::log_entries()[0].at;
    EXPECT_EQ(said,
        "setTabletCfg({\"on\":0,\"running\":0,\"fw\":-1,\"port\":8787,\"token\":\"PAIRTOKEN1\","
        "\"addrs\":[\"192.168.0.5\",\"10.0.0.2\"],"
        "\"pair\":[\"http://192.168.0.5:8787/pair?t=PAIRTOKEN1\",\"http://10.0.0.2:8787/pair?t=PAIRTOKEN1\"],"
        "\"log\":[{\"at\":\""
            + log_at + "\",\"ip\":\"192.168.0.7\",\"what\":\"GET /state\"}],\"fwtool\":\"\",\"fwon\":0})");
}

TEST_F(FamiliesTest, SetTabletWritesTheNumberItReadAndIgnoresOthers)
{
    FakeFirewall firewall;
    door::Door door({}, [](std::span<uint8_t>) { return false; }, {});
    door::TabletFamily family(door, firewall, {});
    RecordingPage page;
    family.handle(command("settablet</>port</>09001"), page);
    EXPECT_EQ(settings::read_text("TABLET", "port", 16), "9001");
    family.handle(command("settablet</>port</>80"), page);
    family.handle(command("settablet</>port</>9002x"), page);
    family.handle(command("settablet</>port"), page);
    EXPECT_EQ(settings::read_text("TABLET", "port", 16), "9001");
    EXPECT_EQ(std::count(page.said.begin(), page.said.end(), "status:포트는 1024 에서 65535 사이의 숫자여야 합니다"), 2);
    EXPECT_EQ(page.said.back().substr(0, 13), "setTabletCfg(");
}

TEST_F(FamiliesTest, FirewallOutcomesComeBackAsTheProgramsOwnCommand)
{
    FakeFirewall firewall;
    firewall.state = { os::firewall::Tool::Ufw, true, 0 };
    door::Door door({}, [](std::span<uint8_t>) { return false; }, {});
    std::vector<std::string> queued;
    door::TabletFamily family(door, firewall, { {}, [&](std::string c) { queued.push_back(std::move(c)); } });
    RecordingPage page;
    family.handle(command("tabletfw"), page);
    ASSERT_TRUE(firewall.pending);
    firewall.pending(true);
    ASSERT_EQ(queued, (std::vector<std::string> { "tabletfwdone</>open</>1</>8787" }));

    // A page cannot pretend the firewall opened.
    EXPECT_EQ(family.handle(command(queued[0]), page), bridge::Handled::No);
    EXPECT_EQ(door::ports_we_opened(), std::vector<int> {});
    ASSERT_EQ(family.handle(command(queued[0], true), page), bridge::Handled::Yes);
    EXPECT_EQ(door::ports_we_opened(), std::vector<int> { 8787 });

    // Removal is for the ports the program opened, and only those.
    family.handle(command("tabletfwclose"), page);
    EXPECT_NE(std::find(firewall.asked.begin(), firewall.asked.end(), "close 8787"), firewall.asked.end());
    firewall.pending(false);
    family.handle(command(queued.back(), true), page);
    EXPECT_EQ(door::ports_we_opened(), std::vector<int> { 8787 });
    family.handle(command("tabletfwclose"), page);
    firewall.pending(true);
    family.handle(command(queued.back(), true), page);
    EXPECT_EQ(door::ports_we_opened(), std::vector<int> {});
    page.said.clear();
    family.handle(command("tabletfwclose"), page);
    EXPECT_EQ(page.said[0], "status:이 프로그램이 연 방화벽 규칙이 없습니다");

    firewall.change = os::firewall::Change::NoTool;
    page.said.clear();
    family.handle(command("tabletfw"), page);
    EXPECT_EQ(page.said[0].find("status:이 PC 에는 방화벽 도구(firewalld, ufw)가 없습니다"), 0u);
}

TEST_F(FamiliesTest, CustomerWindowFollowsTheMonitorsAndTheSetting)
{
    FakeScreen screen;
    screen.list = { { 0, 0, 1400, 900, true, "main" } };
    door::CustomerDisplay display(screen,
        { [] { return std::optional<std::string>("file:///ui/customer.html"); },
            [](std::string_view a) { return a == "file:///ui/customer.html"; }, false,
            [] { return std::string("틸웨 분식"); } });
    door::CustomerFamily family(display);
    RecordingPage page;

    display.apply();
    EXPECT_FALSE(screen.open_now);
    family.handle(command("getcust"), page);
    EXPECT_EQ(page.said.back(), "setCustCfg(1,0,0,\"\")");

    screen.list.push_back({ 1400, 0, 1024, 600, false, "" });
    display.monitors_changed();
    EXPECT_EQ(screen.did.back(), "open 1400,0 1024x600");
    family.handle(command("getcust"), page);
    EXPECT_EQ(page.said.back(), "setCustCfg(1,1,1,\"모니터 2 · 1024×600\")");

    // A state sent while the page loads reaches the door at once and the window once it has loaded.
    family.handle(command("custshow</>{\"s\":\"order\",\"total\":5000}"), page);
    EXPECT_EQ(door::customer_state(), "{\"s\":\"order\",\"total\":5000}");
    EXPECT_EQ(screen.did.size(), 1u);
    display.page_loaded("file:///ui/customer.html", true);
    ASSERT_EQ(screen.did.size(), 2u);
    EXPECT_EQ(screen.did[1],
        "script (function(){if(window!==window.top||location.href!==\"file:///ui/customer.html\")return;"
        "window.setShopName&&setShopName(\"틸웨 분식\");window.setCust&&setCust({\"s\":\"order\",\"total\":5000});})();");

    // Anything but one JSON value is refused and changes nothing.
    family.handle(command("custshow</>{\"s\":1});alert(1);({"), page);
    EXPECT_EQ(page.said.back(), "status:손님 화면에 보낼 내용이 올바르지 않습니다");
    EXPECT_EQ(door::customer_state(), "{\"s\":\"order\",\"total\":5000}");
    // A state holding the field separator arrives whole.
    family.handle(command("custshow</>{\"memo\":\"a</>b\"}"), page);
    EXPECT_EQ(door::customer_state(), "{\"memo\":\"a\\u003c/>b\"}");

    family.handle(command("setcust</>0"), page);
    EXPECT_FALSE(screen.open_now);
    EXPECT_EQ(page.said.back(), "setCustCfg(0,1,0,\"모니터 2 · 1024×600\")");
    family.handle(command("setcust</>1"), page);
    EXPECT_TRUE(screen.open_now);

    // Unplugged: the window closes at the next display change.
    screen.list.pop_back();
    display.monitors_changed();
    EXPECT_FALSE(screen.open_now);
    display.reset_to_idle();
    EXPECT_EQ(door::customer_state(), "{\"s\":\"idle\"}");
}

TEST(CustomerPlacement, FirstNonPrimaryMonitorOrTheTestWindow)
{
    std::vector<os::Monitor> none_primary { { 0, 0, 800, 600, false, "" }, { 800, 0, 1920, 1080, false, "" } };
    EXPECT_EQ(door::choose_placement(none_primary, false)->rect.x, 800);
    std::vector<os::Monitor> second_primary { { 0, 0, 800, 600, false, "" }, { 800, 0, 1920, 1080, true, "" } };
    EXPECT_EQ(door::choose_placement(second_primary, false)->rect.x, 0);
    EXPECT_FALSE(door::choose_placement({ { 0, 0, 800, 600, true, "" } }, false));
    auto test = door::choose_placement({}, true);
    ASSERT_TRUE(test);
    EXPECT_EQ(test->kind, os::WindowKind::Test);
    EXPECT_EQ(test->rect.width, 800);
}

} // namespace

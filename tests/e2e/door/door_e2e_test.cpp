// The tablet door and the customer display end to end. The program runs
// under Xvfb with its customer window in test mode (TILLBAY_CUSTWIN) and the
// door open on a loopback-reachable port, against the reference platform;
// headless Chromium plays a paired tablet.

#include "door_setup.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <iostream>
#include <string>

using namespace std::chrono_literals;

namespace {

std::string run(std::string const& command) { return e2e::command_output(command); }

class DoorEndToEnd : public e2e::ProgramTest<DoorEndToEnd> {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_NO_FATAL_FAILURE(e2e::set_up_installation(s_at, "door", e2e::ServedUi::Copy));
        s_port = e2e::switch_door_on(s_at);
        auto start = [] { return e2e::start_program(s_at, {}, { "TILLBAY_CUSTWIN=1" }); };
        ASSERT_NO_FATAL_FAILURE(start_to_sign_in(start));
        ASSERT_NO_FATAL_FAILURE(restart_if_updated(start));
        ASSERT_NO_FATAL_FAILURE(e2e::sign_in_counter(s_at));
        ASSERT_NO_FATAL_FAILURE(e2e::read_door_token(s_at, s_token));
    }

    static void TearDownTestSuite()
    {
        delete s_program;
        s_program = nullptr;
        s_at.platform.stop();
    }

    static std::string door(std::string const& path) { return e2e::http(s_port, "GET", path).body; }
    static std::string chromium(std::string const& args)
    {
        std::string profile = s_at.root + "/chromium";
        return run("chromium --headless --no-sandbox --disable-gpu --disable-background-networking --disable-extensions "
                   "--no-first-run --disable-sync --disable-features=Translate,MediaRouter --user-data-dir="
            + profile + " " + args + " 2>/dev/null");
    }

    static inline int s_port = 0;
    static inline std::string s_token;
};

TEST_F(DoorEndToEnd, CustShowReachesTheCustomerWindowAndTheDoor)
{
    ASSERT_TRUE(e2e::wait_for([] { return value_of("document.readyState", "/customer/eval") == "\"complete\""; }, 20s))
        << e2e::read_text(s_at.bridge_log);
    EXPECT_NE(e2e::read_text(s_at.bridge_log).find("CUST 손님 창 800x500 @40,40"), std::string::npos);
    // The customer page greets with the shop's name.
    EXPECT_TRUE(e2e::wait_for([] { return value_of("document.getElementById('idleShop').textContent", "/customer/eval") != "\"\""; }, 10s));

    EXPECT_EQ(value_of("TW.send('custshow',JSON.stringify({s:'pay',amount:12000,url:'https://pay.example/p/1',"
                       "expires:Date.now()+300000}))"),
        "true");
    EXPECT_TRUE(e2e::wait_for(
        [] { return value_of("document.getElementById('payAmount').textContent", "/customer/eval") == "\"12,000원\""; }, 10s));
    EXPECT_EQ(value_of("!!document.querySelector('#payQr svg')", "/customer/eval"), "true");
    std::string state = e2e::http(s_port, "GET", "/state?t=" + s_token).body;
    EXPECT_NE(state.find("\"s\":\"pay\""), std::string::npos) << state;
    EXPECT_NE(state.find("\"amount\":12000"), std::string::npos) << state;
    snapshot("01-customer-pay", "/customer/snapshot");

    value_of("TW.send('custshow',JSON.stringify({s:'order',items:[{name:'김치찌개',qty:2,price:9000},{name:'공기밥',qty:1,price:1000}],total:19000}))");
    EXPECT_TRUE(e2e::wait_for(
        [] { return value_of("document.getElementById('orderTotal').textContent", "/customer/eval") == "\"19,000원\""; }, 10s));
    snapshot("02-customer-order", "/customer/snapshot");
}

TEST_F(DoorEndToEnd, TheSettingsPanelShowsTheDoorAndItsPairingCode)
{
    value_of("openPosSettings('door');true");
    ASSERT_TRUE(e2e::wait_for([] { return value_of("document.getElementById('doorPill').textContent").find("열림") != std::string::npos; }, 15s))
        << value_of("document.getElementById('doorPill').textContent") << e2e::read_text(s_at.bridge_log);
    EXPECT_EQ(value_of("document.getElementById('doorToken').textContent"), "\"" + s_token + "\"");
    EXPECT_TRUE(e2e::wait_for([] { return value_of("document.getElementById('custPill').textContent") == "\"켜짐\""; }, 5s));
    snapshot("03-settings-door");
    value_of("TW.settings.close();true");
}

TEST_F(DoorEndToEnd, AChromiumTabletShowsTheKitchenListAndSendsCommands)
{
    if (run("command -v chromium").empty())
        GTEST_SKIP() << "chromium is not installed";
    auto created = e2e::http(s_at.control, "POST", "/control/orders",
        R"({"store":1,"kind":"table","table":5,"pay":"paid","lines":[{"mname":"떡볶이","qty":2,"price":5000}]})");
    ASSERT_EQ(created.status, 200) << created.body;
    long long orderidx = std::atoll(e2e::json_field(created.body, "orderidx").c_str());
    ASSERT_TRUE(e2e::wait_for([&] { return door("/kds/orders?t=" + s_token).find("떡볶이") != std::string::npos; }, 10s));

    std::string base = "http://127.0.0.1:" + std::to_string(s_port);
    // The pairing link leads to the chooser.
    std::string chooser = chromium("--virtual-time-budget=3000 --dump-dom '" + base + "/pair?t=" + s_token + "'");
    EXPECT_NE(chooser.find("주방 화면"), std::string::npos) << chooser.substr(0, 400);
    // The kitchen display shows the order within its polling period.
    std::string kds = chromium("--virtual-time-budget=4000 --dump-dom '" + base + "/merchant/kds.html?t=" + s_token + "'");
    EXPECT_NE(kds.find("data-orderidx=\"" + std::to_string(orderidx) + "\""), std::string::npos) << kds.substr(0, 2000);
    EXPECT_NE(kds.find("조리 시작"), std::string::npos);
    chromium("--virtual-time-budget=4000 --window-size=1280,800 --screenshot=" + s_at.artefacts
        + "/04-kds-tablet.png '" + base + "/merchant/kds.html?t=" + s_token + "'");
    chromium("--virtual-time-budget=4000 --window-size=390,844 --screenshot=" + s_at.artefacts + "/05-kds-phone.png '"
        + base + "/merchant/kds.html?t=" + s_token + "'");
    chromium("--virtual-time-budget=3000 --window-size=1280,800 --screenshot=" + s_at.artefacts + "/06-chooser.png '"
        + base + "/choose?t=" + s_token + "'");

    // "조리 시작" sends cookstart through the door (the request a tap makes); the POS
    // runs it as its own command...
    auto tap = e2e::http(s_port, "POST", "/act?t=" + s_token, "cookstart</>" + std::to_string(orderidx) + "</>0");
    EXPECT_EQ(tap.status, 200) << tap.body;
    std::string sent = "<<UI cookstart</>" + std::to_string(orderidx) + "</>0";
    EXPECT_TRUE(e2e::wait_for([&] { return e2e::read_text(s_at.bridge_log).find(sent) != std::string::npos; }, 5s))
        << e2e::read_text(s_at.bridge_log);
    // ...and the order action sends it to the platform as cmd 115.
    EXPECT_TRUE(e2e::wait_for(
        [&] { return e2e::http(s_at.control, "GET", "/control/requests?after=0").body.find("cmd=115") != std::string::npos; }, 10s))
        << e2e::http(s_at.control, "GET", "/control/requests?after=0").body.substr(0, 2000);
}

} // namespace

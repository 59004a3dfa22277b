// The tablet door and the customer display end to end. The program runs
// under Xvfb with its customer window in test mode (TILLBAY_CUSTWIN) and the
// door open on a loopback-reachable port, against the reference platform;
// headless Chromium plays a paired tablet.

#include "e2e_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <regex>
#include <string>

using namespace std::chrono_literals;

namespace {

std::string run(std::string const& command)
{
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

class DoorEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_NO_FATAL_FAILURE(e2e::set_up_installation(s_at, "door", e2e::ServedUi::Copy));
        s_port = e2e::free_port();
        {
            std::ofstream ini(s_at.pos + "/tillbay.ini", std::ios::app);
            ini << "\r\n[TABLET]\r\non=1\r\nport=" << s_port << "\r\n";
        }
        auto start = [] { return e2e::start_program(s_at, {}, { "TILLBAY_CUSTWIN=1" }); };
        s_program = start();
        ASSERT_TRUE(e2e::wait_for([] { return on_page(1); }, 45s)) << e2e::read_text(s_at.pos_log);
        if (e2e::wait_for([] { return e2e::read_text(s_at.bridge_log).find("UPD 상태 app-ready") != std::string::npos; }, 5s)) {
            delete s_program;
            s_program = start();
            ASSERT_TRUE(e2e::wait_for([] { return on_page(1); }, 45s));
        }
        ASSERT_TRUE(e2e::wait_for(
            [] { return value_of("typeof window.setLoginMode==='function'&&document.readyState==='complete'") == "true"; }, 10s));
        value_of("document.getElementById('tabPos').click();document.getElementById('userId').value='tillbay01';"
                 "document.getElementById('userPw').value='pos1234!';document.getElementById('loginForm').requestSubmit();true");
        ASSERT_TRUE(e2e::wait_for([] { return on_page(2); }, 20s)) << e2e::read_text(s_at.bridge_log);
        std::smatch m;
        std::string ini = e2e::read_text(s_at.pos + "/tillbay.ini");
        ASSERT_TRUE(std::regex_search(ini, m, std::regex("token=([A-Z2-9]{12})"))) << ini;
        s_token = m[1];
    }

    static void TearDownTestSuite()
    {
        delete s_program;
        s_program = nullptr;
        s_at.platform.stop();
    }

    static std::string doc() { return e2e::http(s_at.automation, "GET", "/doc").body; }
    static bool on_page(int page_class)
    {
        std::string d = doc();
        return e2e::json_field(d, "class") == std::to_string(page_class) && e2e::json_field(d, "ready") == "true";
    }
    static std::string value_of(std::string const& expression, std::string const& endpoint = "/eval")
    {
        return e2e::json_field(e2e::http(s_at.automation, "POST", endpoint, expression).body, "value");
    }
    static void snapshot(std::string const& name, std::string const& endpoint = "/snapshot")
    {
        auto answer = e2e::http(s_at.automation, "GET", endpoint);
        EXPECT_EQ(answer.status, 200);
        e2e::write_text(s_at.artefacts + "/" + name + ".png", answer.body);
    }
    static std::string door(std::string const& path) { return e2e::http(s_port, "GET", path).body; }
    static std::string chromium(std::string const& args)
    {
        std::string profile = s_at.root + "/chromium";
        return run("chromium --headless --no-sandbox --disable-gpu --disable-background-networking --disable-extensions "
                   "--no-first-run --disable-sync --disable-features=Translate,MediaRouter --user-data-dir="
            + profile + " " + args + " 2>/dev/null");
    }

    static inline e2e::Installation s_at;
    static inline e2e::Child* s_program = nullptr;
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

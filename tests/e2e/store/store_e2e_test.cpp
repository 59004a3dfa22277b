// The owner's back office end to end: the program signed in as the owner
// opens each back-office page through the navigation family, the page gets
// its data from the page-ready report, and a change made on a page (rename a
// category, mark a menu sold out, set the opening hours, reply to a review
// with "&" in it, add a staff member) reaches the platform, whose request log
// shows the decrypted owner command, and reads back after the page is opened
// again. Every page is photographed in both themes.

#include "e2e_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

// Pages and the command of the navigation family that opens each.
struct PageOpen {
    char const* page;
    char const* command;
};
PageOpen const pages[] = {
    { "menu.html", "storemenu" }, { "menu-edit.html", "openmerch</>menu-edit.html?mode=add" }, { "storegood.html", "storegood" },
    { "productadd.html", "productadd" }, { "productmodify.html", "editproduct</>501" }, { "products.html", "openmerch</>products.html" },
    { "delivery.html", "storebuy" }, { "storebuycancel.html", "storebuycancel" }, { "product-sales.html", "storebuysales" },
    { "sales.html", "storeacount" }, { "product-reviews.html", "storereview" }, { "info.html", "storemanager" },
    { "more.html", "storesetting" }, { "storehours.html", "storehours" }, { "storeseller.html", "storeseller" },
    { "policy.html", "storebiz" }, { "modypassword.html", "storepw" }, { "storepromo.html", "storepromo" },
    { "messages.html", "messagelist" }, { "claims.html", "openclaimlist" }, { "ai-instruct.html", "aisetting" },
    { "company-mall.html", "companymall" }, { "mallship.html", "storebulkship" }, { "productmgr.html", "storeproductmgr" },
};

class StoreEndToEnd : public e2e::ProgramTest<StoreEndToEnd> {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_NO_FATAL_FAILURE(e2e::set_up_installation(s_at, "store", e2e::ServedUi::Copy));
        auto start = [] { return e2e::start_program(s_at, {}); };
        ASSERT_NO_FATAL_FAILURE(start_to_sign_in(start));
        ASSERT_NO_FATAL_FAILURE(restart_if_updated(start));
        // The counter signs in, then the owner from the order board.
        ASSERT_NO_FATAL_FAILURE(e2e::sign_in_counter(s_at));
        ASSERT_NO_FATAL_FAILURE(e2e::sign_in_owner(s_at));
    }
    static void TearDownTestSuite()
    {
        delete s_program;
        s_program = nullptr;
        s_at.platform.stop();
    }

    using ProgramTest::on_page;
    static bool on_class_ready() { return e2e::json_field(doc(), "ready") == "true"; }
    static bool shown(std::string const& expression, std::chrono::milliseconds limit = 10s)
    {
        return e2e::wait_for([&] { return value_of(expression) == "true"; }, limit);
    }
    static void snapshot(std::string const& name)
    {
        // The theme's colours change with a short transition; let it end.
        std::this_thread::sleep_for(400ms);
        auto answer = e2e::http(s_at.automation, "GET", "/snapshot");
        EXPECT_EQ(answer.status, 200);
        e2e::write_text(s_at.artefacts + "/" + name + ".png", answer.body);
    }
    static std::string requests_after(long long seq)
    {
        return e2e::http(s_at.control, "GET", "/control/requests?after=" + std::to_string(seq)).body;
    }
    static long long last_seq()
    {
        std::string body = requests_after(0);
        long long seq = 0;
        for (size_t at = body.find("\"seq\":"); at != std::string::npos; at = body.find("\"seq\":", at + 6))
            seq = std::max(seq, std::atoll(body.c_str() + at + 6));
        return seq;
    }

    // Opens a page through its command and waits until it is ready.
    static bool open(PageOpen const& p) { return send_and_wait(p.command, p.page); }
    static bool send_and_wait(std::string const& command, std::string const& page)
    {
        value_of("tillwave.viewinfo(" + std::string("'") + command + "');true");
        return on_page(page);
    }
    // The page is on screen, ready, and its set-up has come (it takes
    // commands from then on).
    static bool on_page(std::string const& page)
    {
        return e2e::wait_for(
                   [&] {
                       std::string d = doc();
                       return d.find("/merchant/" + page) != std::string::npos && e2e::json_field(d, "ready") == "true";
                   },
                   8s)
            && shown("location.pathname==='/merchant/" + page + "'&&!!(window.TW&&(TW.M?TW.M.asked:TW.homeAsked))", 8s);
    }
    static PageOpen const& page(std::string const& name)
    {
        for (auto const& p : pages)
            if (name == p.page)
                return p;
        return pages[0];
    }
    // Fills the open dialog's fields and saves it.
    static void fill_dialog(std::vector<std::pair<std::string, std::string>> const& values)
    {
        std::string script = "(function(){var f=document.querySelector('.mdialog form');";
        for (auto const& [name, value] : values)
            script += "f.elements['" + name + "'].value=" + nlohmann_quote(value) + ";";
        script += "f.requestSubmit();return true;})()";
        EXPECT_EQ(value_of(script), "true");
    }
    static std::string nlohmann_quote(std::string const& text)
    {
        std::string out = "\"";
        for (char c : text) {
            if (c == '"' || c == '\\')
                out += '\\';
            out += c;
        }
        return out + "\"";
    }
};

#define OPEN(name) ASSERT_TRUE(open(page(name))) << name << " did not open: " << doc() << e2e::read_text(s_at.bridge_log)

TEST_F(StoreEndToEnd, RenameACategoryAndMarkAMenuSoldOut)
{
    OPEN("menu.html");
    ASSERT_TRUE(shown("!!document.querySelector('#categories .mrow[data-key=\"12\"]')")) << e2e::read_text(s_at.bridge_log);
    ASSERT_TRUE(shown("!!document.querySelector('#menus .mrow[data-key=\"101\"]')"));
    long long seq = last_seq();
    value_of("document.querySelector('#categories .mrow[data-key=\"12\"]').click();true");
    ASSERT_TRUE(shown("document.getElementById('menuTitle').textContent==='식사'"));
    value_of("document.getElementById('renameCategory').click();true");
    fill_dialog({ { "name", "정식 & 덮밥" } });
    ASSERT_TRUE(shown("document.querySelector('#categories .mrow[data-key=\"12\"] .title').textContent==='정식 & 덮밥'"));
    value_of("(function(){var i=document.querySelector('#menus .mrow[data-key=\"104\"] .switch input');i.click();return true;})()");
    ASSERT_TRUE(e2e::wait_for([&] { return requests_after(seq).find("cmd=16&storeidx=1&menuidx=104&value=1") != std::string::npos; }, 10s));
    std::string log = requests_after(seq);
    EXPECT_NE(log.find("cmd=35&storeidx=1&categoryidx=12&ctname=정식 %26 덮밥"), std::string::npos) << log;
    snapshot("menu-after-changes");

    // Opened again, the page shows what the platform now holds.
    OPEN("menu.html");
    ASSERT_TRUE(shown("document.querySelector('#categories .mrow[data-key=\"12\"] .title').textContent==='정식 & 덮밥'"));
    ASSERT_TRUE(shown("!!document.querySelector('#menus .mrow[data-key=\"101\"]')"));
    value_of("document.querySelector('#categories .mrow[data-key=\"12\"]').click();true");
    EXPECT_TRUE(shown("(function(){var i=document.querySelector('#menus .mrow[data-key=\"104\"] .switch input');return !!i&&i.checked;})()"));
}

TEST_F(StoreEndToEnd, SetOpeningHoursAndAddAStaffMember)
{
    OPEN("storehours.html");
    ASSERT_TRUE(shown("document.getElementById('opentime').value==='11:00'")) << e2e::read_text(s_at.bridge_log);
    long long seq = last_seq();
    value_of("document.getElementById('opentime').value='10:30';document.getElementById('closetime').value='22:00';"
             "document.querySelector('#holidays button:nth-child(1)').click();document.getElementById('hoursForm').requestSubmit();true");
    ASSERT_TRUE(e2e::wait_for([&] { return requests_after(seq).find("cmd=77&storeidx=1&opentime=10:30&closetime=22:00") != std::string::npos; }, 10s));
    EXPECT_NE(requests_after(seq).find("holidays=월,일"), std::string::npos) << requests_after(seq);
    value_of("document.getElementById('addStaff').click();true");
    fill_dialog({ { "name", "홀 직원" }, { "loginid", "hall01" }, { "passwd", "hall1234" } });
    ASSERT_TRUE(shown("document.getElementById('staff').textContent.indexOf('hall01')>=0")) << requests_after(seq);
    EXPECT_NE(requests_after(seq).find("cmd=78&storeidx=1&name=홀 직원&loginid=hall01&passwd=hall1234&role=staff"), std::string::npos);

    OPEN("storehours.html");
    EXPECT_TRUE(shown("document.getElementById('opentime').value==='10:30'&&document.getElementById('closetime').value==='22:00'"));
    EXPECT_TRUE(shown("document.querySelector('#holidays button:nth-child(1)').classList.contains('active')"));
    EXPECT_TRUE(shown("document.getElementById('staff').textContent.indexOf('홀 직원')>=0"));
}

TEST_F(StoreEndToEnd, AReplyHoldingAnAmpersandArrivesWhole)
{
    OPEN("product-reviews.html");
    ASSERT_TRUE(shown("document.querySelectorAll('#reviews .review').length>5")) << e2e::read_text(s_at.bridge_log);
    long long seq = last_seq();
    value_of("(function(){var b=Array.prototype.filter.call(document.querySelectorAll('#reviews .review button'),function(x){return x.textContent==='답글 달기';})[0];"
             "b.closest('.review').setAttribute('data-test','1');b.click();return true;})()");
    fill_dialog({ { "reply", "맛있게 드셔서 감사 & 또 오세요 = 환영" } });
    ASSERT_TRUE(shown("document.querySelector('.review[data-test]')==null||true"));
    ASSERT_TRUE(e2e::wait_for([&] { return requests_after(seq).find("reply=맛있게 드셔서 감사 %26 또 오세요 %3D 환영") != std::string::npos; }, 10s))
        << requests_after(seq);
    // The reply reads back whole, "&" and "=" included, after the page opens again.
    OPEN("product-reviews.html");
    EXPECT_TRUE(shown("document.getElementById('reviews').textContent.indexOf('맛있게 드셔서 감사 & 또 오세요 = 환영')>=0"));
    snapshot("reviews-after-reply");
}

TEST_F(StoreEndToEnd, EveryPageInBothThemes)
{
    for (auto const& p : pages) {
        OPEN(p.page);
        // Loaded: nothing waits with a spinner any more.
        EXPECT_TRUE(shown("document.querySelectorAll('[data-state=\"loading\"]').length===0", 10s)) << p.page;
        std::string name = std::string(p.page).substr(0, std::string(p.page).find('.'));
        snapshot(name + "-light");
        value_of("window.setTheme('dark');true");
        snapshot(name + "-dark");
        value_of("window.setTheme('light');true");
    }
}

// The order board, two back-office pages and back again through the
// history; the owner's home page between them.
TEST_F(StoreEndToEnd, FromTheOrderBoardToTheBackOfficeAndBack)
{
    value_of("tillwave.viewinfo('storepos');true");
    ASSERT_TRUE(e2e::wait_for([] { return on_page(2); }, 10s)) << doc();
    snapshot("nav-1-orders");
    ASSERT_TRUE(send_and_wait("gomain", "home.html")) << doc();
    ASSERT_TRUE(shown("document.querySelectorAll('#menuGroups .tile').length>20")) << e2e::read_text(s_at.bridge_log);
    snapshot("nav-2-home");
    ASSERT_TRUE(send_and_wait("storemenu", "menu.html"));
    snapshot("nav-3-menu");
    ASSERT_TRUE(send_and_wait("storehours", "storehours.html"));
    // The same page again is one history entry: back still reaches the menu.
    std::string before = e2e::json_field(doc(), "generation");
    value_of("tillwave.viewinfo('storehours');true");
    ASSERT_TRUE(e2e::wait_for([&] { return e2e::json_field(doc(), "generation") != before; }, 8s));
    ASSERT_TRUE(on_page("storehours.html"));
    value_of("document.getElementById('backBtn').click();true");
    ASSERT_TRUE(on_page("menu.html")) << doc();
    value_of("document.getElementById('backBtn').click();true");
    ASSERT_TRUE(on_page("home.html")) << doc();
    value_of("tillwave.viewinfo('back');true");
    EXPECT_TRUE(e2e::wait_for([] { return on_page(2); }, 10s)) << doc();
    snapshot("nav-4-orders-again");

    // A page the bundle lacks: the user is told, and pressing twice starts
    // one bundle fetch.
    long long seq = last_seq();
    value_of("tillwave.viewinfo('openmerch</>nosuch.html');tillwave.viewinfo('openmerch</>nosuch.html');true");
    EXPECT_TRUE(e2e::wait_for([] { return e2e::read_text(s_at.bridge_log).find("사본 없음 — 갱신을 다시 받는다: merchant/nosuch.html") != std::string::npos; }, 5s));
    EXPECT_TRUE(e2e::wait_for([&] { return requests_after(seq).find("/v2/pos/version.json") != std::string::npos; }, 15s)) << requests_after(seq);
    std::this_thread::sleep_for(2s);
    std::string fetched = requests_after(seq);
    size_t manifests = 0;
    // The manifest itself, not its signature beside it.
    std::string const manifest = "/v2/pos/version.json\"";
    for (size_t at = fetched.find(manifest); at != std::string::npos; at = fetched.find(manifest, at + 1))
        ++manifests;
    EXPECT_EQ(manifests, 1u) << fetched;
    EXPECT_TRUE(on_page(2));

    // "POS 설정" on the owner's home page opens the order board with its
    // settings panel at the PC's own section.
    ASSERT_TRUE(send_and_wait("gomain", "home.html")) << doc();
    value_of("tillwave.viewinfo('possettings');true");
    ASSERT_TRUE(shown("!!(window.TW&&TW.settings&&TW.settings.isOpen())&&!!document.getElementById('prefSound')", 15s))
        << doc() << e2e::read_text(s_at.bridge_log);
    EXPECT_TRUE(shown("document.getElementById('prefSound').classList.contains('on')"));
    value_of("document.getElementById('prefSound').click();document.getElementById('prefTouch').querySelector('[data-value=on]').click();true");
    EXPECT_TRUE(shown("!document.getElementById('prefSound').classList.contains('on')"));
    EXPECT_TRUE(shown("document.getElementById('prefTouch').querySelector('[data-value=on]').classList.contains('primary')"));
    snapshot("settings-pc");
    value_of("(function(){var b=document.getElementById('posSettingsBody');b.scrollTop=b.scrollHeight;return true;})()");
    EXPECT_TRUE(shown("document.querySelectorAll('#prefBadgeColour button').length>0"));
    snapshot("settings-pc-alert");
    value_of("document.getElementById('prefSound').click();document.getElementById('prefTouch').querySelector('[data-value=auto]').click();"
             "TW.settings.close();true");
    EXPECT_TRUE(shown("document.getElementById('prefSound').classList.contains('on')"));

    // A page name that is no page is refused where the user is.
    value_of("tillwave.viewinfo('openmerch</>../x.html');true");
    EXPECT_TRUE(e2e::wait_for([] { return e2e::read_text(s_at.bridge_log).find("열 수 없는 화면입니다") != std::string::npos; }, 5s));
    EXPECT_TRUE(on_page(2));
}

// A page's ".php" requests reach the web host through the relay with the
// cross-origin headers; what may not be relayed never reaches it.
TEST_F(StoreEndToEnd, PageApiRequestsGoThroughTheRelay)
{
    OPEN("menu.html");
    std::string const api = "twpos://api.tillbay.invalid";
    // "status content-type body" of a fetch made by the page; a body the
    // page can read at all shows that the cross-origin headers were right.
    auto fetched = [&](std::string const& call) {
        value_of("window.__r='';" + call
            + ".then(function(r){return r.text().then(function(t){window.__r=r.status+' '+"
              "r.headers.get('Content-Type')+' '+t;});})"
              ".catch(function(e){window.__r='-1 '+e;});true");
        std::string result;
        e2e::wait_for([&] { result = value_of("window.__r"); return result.size() > 2; }, 20s);
        return result;
    };
    std::string plain = fetched("fetch('/merchant/x_api.php?x=1')");
    EXPECT_EQ(plain.find("\"200 application/json"), 0u) << plain;
    EXPECT_NE(plain.find("/v2/merchant/x_api.php"), std::string::npos) << plain;
    std::string posted = fetched("fetch('/merchant/x_api.php',{method:'POST',headers:{'Content-Type':'text/plain'},body:'a=1&b=2'})");
    EXPECT_EQ(posted.find("\"200 "), 0u) << posted;
    EXPECT_NE(posted.find("POST"), std::string::npos) << posted;
    EXPECT_NE(posted.find("a=1&b=2"), std::string::npos) << posted;

    long long seq = last_seq();
    for (std::string path : { "/merchant/%2e%2e/admin.php", "/merchant/a.html", "/other/a.php", "/merchant/a.php?p=.." }) {
        std::string refused = fetched("fetch('" + api + path + "')");
        EXPECT_EQ(refused.find("\"403 "), 0u) << path << " " << refused;
        EXPECT_NE(refused.find("not relayed"), std::string::npos) << path << " " << refused;
    }
    std::string preflight = fetched("fetch('" + api + "/other/x.php',{method:'OPTIONS'})");
    EXPECT_EQ(preflight.find("\"204 text/plain; charset=utf-8 "), 0u) << preflight;
    EXPECT_EQ(requests_after(seq).find("x_api.php"), std::string::npos);
    EXPECT_EQ(requests_after(seq).find("admin.php"), std::string::npos);

    // A web host that takes the request and never answers: the page gets
    // 504 once the relay gives up, and the window answers all the while.
    auto fault = e2e::http(s_at.control, "POST", "/control/faults", R"({"listener":"web","kind":"silent"})");
    ASSERT_EQ(fault.status, 200) << fault.body;
    value_of("window.__r='';fetch('/merchant/x_api.php?silent=1').then(function(r){return r.text().then(function(t){"
             "window.__r=r.status+' '+t;});});true");
    auto asked = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(value_of("window.__r"), "\"\"");
    EXPECT_EQ(value_of("6*7"), "42");
    // A bridge command is answered meanwhile.
    value_of("document.documentElement.setAttribute('data-theme','x');TW.send('gettheme');true");
    EXPECT_TRUE(shown("document.documentElement.getAttribute('data-theme')==='light'", 3s));
    EXPECT_EQ(value_of("window.__r"), "\"\"");
    std::string silent;
    EXPECT_TRUE(e2e::wait_for([&] { silent = value_of("window.__r"); return silent.size() > 2; }, 25s));
    EXPECT_EQ(silent, "\"504 {\\\"ok\\\":false,\\\"why\\\":\\\"relay\\\"}\"");
    auto waited = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - asked).count();
    EXPECT_GE(waited, 7);
    EXPECT_LE(waited, 20);
    std::cout << "[ measured ] silent web host answered 504 after " << waited << " s\n";
}

} // namespace

#include "bridge_fixture.h"

#include "foundation/json_text.h"
#include "session/session.h"

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

using namespace tillbay;
using namespace tillbay::bridge;
using namespace tillbay::bridge::testing;

namespace {

class BridgeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WebViewHostConfig config;
        config.page_file = [](std::string_view name) -> std::optional<std::string> {
            return "/opt/tillbay/ui/" + std::string(name);
        };
        config.before_login_page = [this] { ++login_resets; };
        config.request_drain = [this] { ++drain_requests; };
        host = std::make_unique<WebViewHost>(policy, port, config);
        for (size_t i = 0; i < family_count; ++i)
            bridge().set_family(static_cast<FamilySlot>(i), nullptr);
    }

    Bridge& bridge() { return host->bridge(); }

    // A complete, successful main-frame navigation, with the page set-up it
    // queues drained.
    void load(std::string const& address)
    {
        ++navigation;
        ASSERT_EQ(host->on_navigation_starting({ address, true, navigation, false }), Verdict::Allow);
        port.address = address;
        host->on_content_loading(navigation, false);
        host->on_navigation_completed(navigation, true);
        bridge().drain();
        port.scripts.clear();
    }

    void post(std::string text, std::string source = {})
    {
        WebMessage message;
        message.is_string = true;
        message.text = std::move(text);
        message.source = source.empty() ? port.address : std::move(source);
        host->on_web_message(message);
    }

    LogCapture logs;
    PagePolicy policy = make_policy();
    FakePort port;
    std::atomic<int> drain_requests { 0 };
    int login_resets = 0;
    uint64_t navigation = 100;
    std::unique_ptr<WebViewHost> host;
};

TEST_F(BridgeTest, NavigationKeepsTheDocumentRecord)
{
    EXPECT_EQ(host->on_navigation_starting({ "https://evil.example.com/", true, 1, true }), Verdict::Deny);
    EXPECT_EQ(logs.blocks("navigation"), 1);
    EXPECT_EQ(host->document().generation, 0u);

    EXPECT_EQ(host->on_navigation_starting({ orders_url, true, 7, false }), Verdict::Allow);
    EXPECT_EQ(host->document().generation, 1u);
    EXPECT_FALSE(host->document().ready);
    EXPECT_EQ(host->document().expected_address, orders_url);

    // Content for another navigation, an error page, or an address other
    // than the expected one leaves the page not ready.
    port.address = orders_url;
    host->on_content_loading(6, false);
    host->on_content_loading(7, true);
    EXPECT_FALSE(host->document().ready);
    port.address = login_url;
    host->on_content_loading(7, false);
    host->on_navigation_completed(7, true);
    EXPECT_FALSE(host->document().ready);
    EXPECT_EQ(bridge().queued_commands(), 0u);

    port.address = orders_url;
    host->on_navigation_completed(7, false);
    EXPECT_FALSE(host->document().ready);
    host->on_navigation_completed(7, true);
    EXPECT_TRUE(host->document().ready);
    EXPECT_EQ(bridge().queued_commands(), 1u);
    EXPECT_GT(drain_requests.load(), 0);

    EXPECT_EQ(host->on_new_window("https://shop.example.com/"), Verdict::Deny);
    EXPECT_EQ(host->on_download("https://shop.example.com/a.zip"), Verdict::Deny);
    EXPECT_EQ(host->on_permission_request(), Verdict::Deny);
    EXPECT_EQ(logs.blocks("new window"), 1);
    EXPECT_EQ(logs.blocks("download"), 1);
}

TEST_F(BridgeTest, FramesFollowTheTopDocument)
{
    load(menu_url);
    EXPECT_EQ(host->on_navigation_starting({ panel_url, false, 0, false }), Verdict::Allow);
    EXPECT_EQ(host->on_navigation_starting({ "twpos://ui.tillbay.invalid/orders/list.html", false, 0, false }), Verdict::Deny);
    EXPECT_EQ(logs.blocks("frame navigation"), 1);
    // A frame navigation never touches the record of the top document.
    EXPECT_TRUE(host->document().ready);
    EXPECT_EQ(host->document().generation, 1u);
}

TEST_F(BridgeTest, HostileMessagesAreRefusedAtReceipt)
{
    RecordingFamily everything({ "getorders", "qrpng", "save" });
    bridge().set_family(FamilySlot::Order, &everything);
    load(orders_url);

    WebMessage object;
    object.is_string = false;
    object.source = orders_url;
    host->on_web_message(object);
    EXPECT_EQ(logs.blocks("non-string message"), 1);

    post(std::string(max_message_bytes + 1, 'a'));
    post("save</>" + std::string("a\0b", 3));
    WebMessage flagged;
    flagged.is_string = true;
    flagged.source = orders_url;
    flagged.size_or_nul = true;
    host->on_web_message(flagged);
    EXPECT_EQ(logs.blocks("message size or NUL"), 3);

    // 4 Mi UTF-16 units are allowed at receipt even when the UTF-8 text is
    // longer; the byte limit of the admission check then decides.
    std::string korean;
    for (size_t i = 0; i < 100'000; ++i)
        korean += "가";
    post("qrpng</>" + korean);

    post("GetOrders");
    post("save</>" + std::string(300'000, 'x'));
    EXPECT_EQ(logs.blocks("message"), 2);

    WebMessage from_frame;
    from_frame.is_string = true;
    from_frame.text = "getorders";
    from_frame.source = panel_url;
    from_frame.main_frame = false;
    host->on_web_message(from_frame);
    post("getorders", "file:///opt/tillbay/ui/other.html");
    EXPECT_EQ(logs.blocks(""), 2);

    bridge().drain();
    ASSERT_EQ(everything.offered.size(), 1u);
    EXPECT_EQ(everything.offered[0].fields[0], "qrpng");
}

TEST_F(BridgeTest, MessageOfALeftDocumentIsDroppedAtTheDrain)
{
    RecordingFamily orders({ "getorders" });
    bridge().set_family(FamilySlot::Order, &orders);
    load(orders_url);
    post("getorders");
    EXPECT_EQ(bridge().queued_page_messages(), 1u);

    // The page navigates away before the drain runs.
    ++navigation;
    ASSERT_EQ(host->on_navigation_starting({ menu_url, true, navigation, false }), Verdict::Allow);
    port.address = menu_url;
    host->on_content_loading(navigation, false);
    bridge().drain();
    EXPECT_TRUE(orders.offered.empty());
    EXPECT_EQ(logs.blocks("stale document"), 1);

    // A message waiting while the new page is still loading is dropped too.
    load(orders_url);
    post("getorders");
    ++navigation;
    ASSERT_EQ(host->on_navigation_starting({ orders_url, true, navigation, false }), Verdict::Allow);
    bridge().drain();
    EXPECT_TRUE(orders.offered.empty());
    EXPECT_EQ(logs.blocks(""), 1);
}

TEST_F(BridgeTest, AddressChangedInsideTheDocumentIsStale)
{
    load(orders_url);
    port.address = orders_url + "#settings";
    post("getorders", orders_url);
    EXPECT_EQ(logs.blocks("stale document"), 1);
    EXPECT_EQ(bridge().queued_page_messages(), 0u);
}

TEST_F(BridgeTest, TheQueueHoldsAtMost256PageMessages)
{
    RecordingFamily orders({ "getorders" });
    bridge().set_family(FamilySlot::Order, &orders);
    load(orders_url);
    std::string before = logs.text();
    for (int i = 0; i < 300; ++i)
        post("getorders</>" + std::to_string(i));
    EXPECT_EQ(bridge().queued_page_messages(), max_queued_page_messages);
    EXPECT_EQ(logs.text(), before); // the lost ones leave no line
    // The program's own commands are never limited.
    bridge().queue_internal("getorders</>own");
    EXPECT_EQ(bridge().queued_commands(), max_queued_page_messages + 1);

    bridge().drain();
    ASSERT_EQ(orders.offered.size(), max_queued_page_messages + 1);
    EXPECT_EQ(orders.offered[0].fields[1], "0");
    EXPECT_EQ(orders.offered[255].fields[1], "255");
    EXPECT_EQ(orders.offered[256].fields[1], "own");
    EXPECT_TRUE(orders.offered[256].internal);
    EXPECT_FALSE(orders.offered[0].internal);
    EXPECT_EQ(bridge().queued_page_messages(), 0u);
}

TEST_F(BridgeTest, FamiliesAreTriedInOrderAndUnknownCommandsAnswered)
{
    std::vector<Offered> order;
    RecordingFamily login({ "login" }, &order);
    RecordingFamily first({ "shared" }, &order);
    RecordingFamily second({ "shared", "only2" }, &order);
    bridge().set_family(FamilySlot::Login, &login);
    bridge().set_family(FamilySlot::Pc, &first);
    bridge().set_family(FamilySlot::History, &second);
    load(menu_url);

    post("shared</>a</></>");
    post("only2");
    post("zzz_unknown");
    bridge().drain();
    ASSERT_EQ(first.offered.size(), 1u);
    EXPECT_EQ(first.offered[0].fields, (std::vector<std::string> { "shared", "a", "", "" }));
    EXPECT_EQ(first.offered[0].generation, host->document().generation);
    EXPECT_TRUE(second.offered.size() == 1 && second.offered[0].fields[0] == "only2");
    ASSERT_EQ(port.scripts.size(), 1u);
    EXPECT_NE(port.scripts[0].find(json::quote("아직 붙이지 않은 기능입니다 (zzz_unknown)")), std::string::npos);
}

TEST_F(BridgeTest, TrustedCommandsSkipAdmissionButInternalOnesNeverReachFamilies)
{
    RecordingFamily pc({ "setfull", "getlayout", "navdone" });
    bridge().set_family(FamilySlot::Pc, &pc);
    load(login_url);
    post("getlayout"); // not for the login page
    EXPECT_EQ(logs.blocks("document capability"), 1);
    bridge().queue_internal("setfull");      // F11
    bridge().queue_internal("\x01navdone</>999");
    bridge().queue_internal("\x01nosuchthing");
    bridge().drain();
    ASSERT_EQ(pc.offered.size(), 1u);
    EXPECT_EQ(pc.offered[0].fields[0], "setfull");
    EXPECT_TRUE(pc.offered[0].internal);
}

TEST_F(BridgeTest, PageCallbacksReachOnlyTheirDocument)
{
    load(orders_url);
    DocumentPage page = bridge().current_page();
    page.callback("setOrderList", "[1,2]");
    ASSERT_EQ(port.scripts.size(), 1u);
    EXPECT_EQ(port.scripts[0],
        "(function(){if(window!==window.top||location.href!==\"" + orders_url
            + "\")return;window.setOrderList&&setOrderList([1,2])\n})();");

    // After a navigation the old document's answers are dropped silently.
    load(menu_url);
    page.callback("setOrderList", "[3]");
    page.status("늦은 답");
    EXPECT_TRUE(port.scripts.empty());

    // Nothing runs while the new page is loading, on a page without the
    // bridge, or without a web view.
    ++navigation;
    ASSERT_EQ(host->on_navigation_starting({ address_url, true, navigation, false }), Verdict::Allow);
    bridge().page_callback("window.a&&a()");
    port.address = address_url;
    host->on_navigation_completed(navigation, true);
    bridge().page_callback("window.a&&a()");
    port.web_view = false;
    bridge().status("x");
    EXPECT_TRUE(port.scripts.empty());
}

// A server text with a broken byte reaches the page with U+FFFD in its
// place: the web view refuses a script that is not valid UTF-8 as a whole.
TEST_F(BridgeTest, CallbacksAndStatusMessagesLeaveAsValidUtf8)
{
    load(orders_url);
    bridge().current_page().callback("setOrderList", "\"{\\\"memo\\\":\\\"덜 맵게\xFF부탁\xC3\\\"}\"");
    bridge().status("김치\xE2\x82찌개");
    ASSERT_EQ(port.scripts.size(), 2u);
    for (auto const& script : port.scripts)
        EXPECT_TRUE(is_valid_utf8(script)) << script;
    EXPECT_NE(port.scripts[0].find("덜 맵게\xEF\xBF\xBD부탁\xEF\xBF\xBD"), std::string::npos) << port.scripts[0];
    EXPECT_NE(port.scripts[1].find("김치\xEF\xBF\xBD\xEF\xBF\xBD찌개"), std::string::npos) << port.scripts[1];
}

TEST_F(BridgeTest, StatusMessages)
{
    load(menu_url);
    bridge().status("저장했습니다 \"1\"");
    ASSERT_EQ(port.scripts.size(), 1u);
    EXPECT_NE(port.scripts[0].find("(function(m){  if(window.setStatus) return setStatus(m);  if(window.TW && "
                                   "TW.toast) return TW.toast(m);  window.chrome.webview.postMessage('needbox</>'+m);})("
                                   "\"저장했습니다 \\\"1\\\"\")"),
        std::string::npos);

    // The address page has no bridge: the message is written into it.
    load(address_url);
    bridge().status("주소를 골라 주세요");
    ASSERT_EQ(port.scripts.size(), 1u);
    EXPECT_EQ(port.scripts[0],
        "(function(){if(location.href!==\"" + address_url
            + "\")return;var n=document.getElementById('pcAddressStatus');if(!n){n=document.createElement('div');"
              "n.id='pcAddressStatus';document.body.appendChild(n);}n.textContent=\"주소를 골라 주세요\";})();");
}

TEST_F(BridgeTest, BackFromTheAddressPageOpensTheInfoPage)
{
    std::vector<std::string> routed;
    BridgeHooks hooks;
    hooks.route_page = [&](std::string_view name) { routed.emplace_back(name); };
    bridge().set_hooks(hooks);
    RecordingFamily nav({ "back" });
    bridge().set_family(FamilySlot::Nav, &nav);
    load(address_url);
    post("back");
    post("setgpspos</>서울 중구 세종대로 110</>37.56</>126.97");
    bridge().drain();
    EXPECT_EQ(routed, std::vector<std::string> { "info.html" });
    EXPECT_TRUE(nav.offered.empty());
}

TEST_F(BridgeTest, PushEventsComeFirstAndReentryIsRefused)
{
    std::vector<std::string> seen;
    RecordingFamily orders({ "a", "b", "c" });
    orders.on_handle = [&](bridge::Command const& command, bridge::Page&) {
        seen.emplace_back(command.name());
        if (command.name() == "a") {
            // A message box runs a nested main loop; a second drain request
            // arriving there must not run commands inside this one.
            bridge().queue_internal("c");
            bridge().drain();
            seen.emplace_back("after nested drain");
        }
    };
    bridge().set_family(FamilySlot::Order, &orders);
    load(orders_url);
    bridge().set_push_handler([&](std::vector<OrderNotice> notices) {
        std::string batch = "notices";
        for (auto const& notice : notices)
            batch += " " + std::to_string(notice.orderidx);
        seen.push_back(batch);
    });
    bridge().queue_internal("a");
    bridge().queue_internal("b");
    bridge().queue_push_event({ 7, 1, "NEWORDER" });
    bridge().queue_push_event({ 7, 2, "PAYING" });
    bridge().drain();
    // Every notice waiting at the drain goes to the board in one batch, ahead of the commands.
    EXPECT_EQ(seen, (std::vector<std::string> { "notices 1 2", "a", "after nested drain", "b", "c" }));
}

TEST_F(BridgeTest, AThrowingHandlerDoesNotSilenceTheBridge)
{
    RecordingFamily orders({ "boom", "fine" });
    orders.on_handle = [](bridge::Command const& command, bridge::Page&) {
        if (command.name() == "boom")
            throw std::runtime_error("boom");
    };
    bridge().set_family(FamilySlot::Order, &orders);
    load(orders_url);
    LogCapture logs;
    bridge().queue_internal("boom");
    bridge().queue_internal("fine");
    EXPECT_NO_THROW(bridge().drain());
    EXPECT_EQ(orders.offered.size(), 2u);
    EXPECT_NE(logs.text().find("UI 명령 처리 실패: boom"), std::string::npos);
    bridge().queue_internal("fine");
    bridge().drain();
    EXPECT_EQ(orders.offered.size(), 3u);
}

TEST_F(BridgeTest, WorkersQueueFromAnyThread)
{
    RecordingFamily orders({ "work" });
    bridge().set_family(FamilySlot::Order, &orders);
    load(orders_url);
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([this] {
            for (int i = 0; i < 200; ++i)
                bridge().queue_internal("work");
        });
    for (auto& worker : workers)
        worker.join();
    bridge().drain();
    EXPECT_EQ(orders.offered.size(), 800u);
}

TEST_F(BridgeTest, InternalCommands)
{
    std::vector<std::pair<bool, long long>> kitchen;
    std::vector<std::string> updates;
    bool signed_in = false;
    BridgeHooks hooks;
    hooks.kitchen_print_result = [&](bool ok, long long code) { kitchen.emplace_back(ok, code); };
    hooks.update_state = [&](std::string_view state, std::string_view text, bridge::Page&) {
        updates.push_back(std::string(state) + "|" + std::string(text));
    };
    hooks.signed_in = [&]() -> std::optional<SignedInStore> {
        return signed_in ? std::optional<SignedInStore>(SignedInStore { "가게", 12 }) : std::nullopt;
    };
    bridge().set_hooks(hooks);
    load(orders_url);
    uint64_t generation = host->document().generation;

    bridge().queue_internal("\x01printresult</>1</>주방 출력 완료</>345");
    bridge().queue_internal("\x01printresult</>0);alert(1);(</>실패</>0");
    bridge().queue_internal("\x01printresult</>1");
    bridge().drain();
    ASSERT_EQ(port.scripts.size(), 4u);
    EXPECT_NE(port.scripts[1].find("window.setPrintLinkResult&&setPrintLinkResult(1,\"주방 출력 완료\")"), std::string::npos);
    EXPECT_NE(port.scripts[3].find("setPrintLinkResult(0,\"실패\")"), std::string::npos);
    EXPECT_EQ(kitchen, (std::vector<std::pair<bool, long long>> { { true, 345 } }));
    port.scripts.clear();

    bridge().queue_internal("\x01printlinks</>" + std::to_string(generation) + "</>window.x&&x(\"a</>b\")");
    bridge().queue_internal("\x01printlinks</>" + std::to_string(generation - 1) + "</>window.y&&y()");
    bridge().drain();
    ASSERT_EQ(port.scripts.size(), 1u);
    EXPECT_NE(port.scripts[0].find("window.x&&x(\"a</>b\")"), std::string::npos);
    port.scripts.clear();

    bridge().queue_internal("\x01toast</>새 버전을 받았습니다. a</>b");
    bridge().queue_internal("\x01updstate</></>최신판");
    bridge().drain();
    ASSERT_EQ(port.scripts.size(), 1u);
    EXPECT_NE(port.scripts[0].find("\"새 버전을 받았습니다. a</>b\""), std::string::npos);
    EXPECT_EQ(updates, std::vector<std::string> { "|최신판" });
    EXPECT_NE(logs.text().find("UPD 상태 정상 — 최신판"), std::string::npos);

    bridge().queue_internal("\x01navrefresh");
    bridge().drain();
    signed_in = true;
    bridge().queue_internal("\x01navrefresh");
    bridge().drain();
    EXPECT_EQ(port.navigations, (std::vector<std::string> { login_url, orders_url }));
    EXPECT_EQ(login_resets, 1);
}

TEST_F(BridgeTest, PageSetUpAfterEachNavigation)
{
    std::vector<std::string> steps;
    bool signed_in = true;
    int first_run = 1;
    BridgeHooks hooks;
    hooks.send_version_line = [&](bridge::Page& page) {
        steps.emplace_back("version");
        page.callback("setVersion", "\"v1.3.191\"");
    };
    hooks.settings_problem_host = [&]() -> std::optional<std::string> { return "api.example.com"; };
    hooks.take_first_run_request = [&] { return std::exchange(first_run, 0); };
    hooks.signed_in = [&]() -> std::optional<SignedInStore> {
        if (!signed_in)
            return std::nullopt;
        return SignedInStore { "빵집 \"하나\"", 12 };
    };
    hooks.web_host_text = [] { return std::string("shop.example.com"); };
    hooks.send_order_request_context = [&](bridge::Page&) { steps.emplace_back("context"); };
    hooks.start_or_report_push_channel = [&](bridge::Page&) { steps.emplace_back("push"); };
    hooks.refresh_order_board = [&](DocumentPage const&) { steps.emplace_back("board"); };
    bridge().set_hooks(hooks);
    RecordingFamily pc({ "getlayout" });
    pc.on_handle = [&](bridge::Command const&, bridge::Page&) { steps.emplace_back("getlayout"); };
    bridge().set_family(FamilySlot::Pc, &pc);

    ++navigation;
    ASSERT_EQ(host->on_navigation_starting({ orders_url, true, navigation, false }), Verdict::Allow);
    port.address = orders_url;
    host->on_navigation_completed(navigation, true);
    bridge().drain();
    EXPECT_EQ(steps, (std::vector<std::string> { "version", "context", "push", "board", "getlayout" }));
    ASSERT_EQ(port.scripts.size(), 5u);
    EXPECT_NE(port.scripts[1].find("설정 파일을 읽지 못했습니다 (지금 서버 api.example.com) — tillbay.ini 를 확인해 주십시오"),
        std::string::npos);
    EXPECT_NE(port.scripts[2].find("window.openPrinterSetup&&openPrinterSetup()"), std::string::npos);
    EXPECT_NE(port.scripts[3].find("window.setStoreName&&setStoreName(\"빵집 \\\"하나\\\"\")"), std::string::npos);
    EXPECT_NE(port.scripts[4].find("window.setPayBase&&setPayBase(\"shop.example.com\",12)"), std::string::npos);

    // A navdone of an older document does nothing; the address page gets no
    // set-up; signed out, the set-up stops before the store steps.
    steps.clear();
    bridge().queue_internal("\x01navdone</>1");
    load(address_url);
    signed_in = false;
    load(menu_url);
    EXPECT_EQ(steps, std::vector<std::string> { "version" });
}

} // namespace

namespace {

// A family whose "slow" command blocks and so runs on the lane.
class LaneFamily final : public bridge::Family {
public:
    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override
    {
        if (command.name() != "slow" && command.name() != "quick")
            return bridge::Handled::No;
        {
            std::lock_guard guard(lock);
            threads[std::string(command.name())] = std::this_thread::get_id();
        }
        page.callback("done", json::quote(std::string(command.name())));
        return bridge::Handled::Yes;
    }
    bridge::Runs runs(std::string_view name) const override
    {
        return name == "slow" ? bridge::Runs::OnLane : bridge::Runs::OnUiThread;
    }
    std::mutex lock;
    std::map<std::string, std::thread::id> threads;
};

TEST_F(BridgeTest, BlockingCommandsRunOnTheLaneAndAnswerThroughTheUiThread)
{
    Lane lane;
    lane.start();
    bridge().set_lane(&lane);
    LaneFamily family;
    bridge().set_family(FamilySlot::Order, &family);
    load(orders_url);

    post("slow");
    post("quick");
    bridge().drain();
    ASSERT_TRUE(lane.wait_idle(5000));
    ASSERT_EQ(family.threads.size(), 2u);
    EXPECT_NE(family.threads["slow"], std::this_thread::get_id());
    EXPECT_EQ(family.threads["quick"], std::this_thread::get_id());
    // The lane's answer waits in the bridge queue until the UI thread drains it.
    ASSERT_EQ(port.scripts.size(), 1u);
    EXPECT_NE(port.scripts[0].find("done(\"quick\")"), std::string::npos);
    bridge().drain();
    ASSERT_EQ(port.scripts.size(), 2u);
    EXPECT_NE(port.scripts[1].find("done(\"slow\")"), std::string::npos);

    // An answer for a page that has been left is dropped.
    post("slow");
    bridge().drain();
    ASSERT_TRUE(lane.wait_idle(5000));
    load(orders_url);
    bridge().drain();
    EXPECT_TRUE(port.scripts.empty());
    bridge().set_lane(nullptr);
}

TEST_F(BridgeTest, AnswersBoundToASignInAreDroppedAfterItEnds)
{
    load(orders_url);
    session::set_staff(7, 1, "가게", false);
    auto page = DocumentPage::current_while_signed_in(bridge(), session::epoch());
    std::thread([&] { page.callback("setOrderList", "\"[7]\""); }).join();
    session::clear_staff();
    session::set_staff(8, 2, "다른 가게", false);
    std::thread([&] { page.callback("setOrderList", "\"[7 again]\""); }).join();
    bridge().drain();
    EXPECT_TRUE(port.scripts.empty());

    auto now = DocumentPage::current_while_signed_in(bridge(), session::epoch());
    std::thread([&] { now.callback("setOrderList", "\"[8]\""); }).join();
    bridge().drain();
    ASSERT_EQ(port.scripts.size(), 1u);
    EXPECT_NE(port.scripts[0].find("setOrderList(\"[8]\")"), std::string::npos);
    session::reset();
}

} // namespace

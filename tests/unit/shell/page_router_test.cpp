// The page routing and the `nav` family with a recording page and recording
// hooks: the service and sign-in gates, the page names, the mode, the
// history that only committed documents enter, `back`, old store pages, and
// the commands that open the local pages.

#include "shell/nav_family.h"
#include "shell/page_router.h"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

using namespace tillbay;
using namespace tillbay::shell;

namespace {

constexpr char const* origin = "twpos://ui.tillbay.invalid";

struct RecordingPage final : bridge::Page {
    std::vector<std::string> calls;
    void callback(std::string_view name, std::string_view args) override
    {
        calls.push_back(std::string(name) + "(" + std::string(args) + ")");
    }
    void status(std::string_view message) override { calls.push_back("status:" + std::string(message)); }
};

class Routing : public ::testing::Test {
protected:
    Routing()
        : router(RouterHooks {
              [this] { return block; },
              [this] { return staff; },
              [this] { return owner; },
              [this] { return web_host; },
              [this](std::string_view path, bridge::Page&) {
                  checked.emplace_back(path);
                  return bundle.contains(std::string(path));
              },
              [this](std::string_view address) { return refused_by_policy.empty() || std::string(address).find(refused_by_policy) == std::string::npos; },
              [this](std::string const& address) { navigations.push_back(address); },
              [this](std::string_view name) { navigations.push_back("local:" + std::string(name)); },
              origin,
          })
        , family(router, [this] { return staff; })
    {
    }

    // A navigation the router started reaches the screen.
    void commit_last() { router.committed(navigations.back()); }
    std::vector<std::string> history() const { return router.history().entries(); }
    void run(std::vector<std::string> fields)
    {
        bridge::Command command { std::move(fields), 1, false };
        (void)family.handle(command, page);
    }

    bridge::ServiceBlock block;
    bool staff = true;
    bool owner = true;
    std::string web_host = "https://web.example.com";
    std::set<std::string> bundle { "merchant/home.html", "merchant/menu.html", "merchant/kds.html", "merchant/info.html",
        "merchant/sales.html", "tstorehtml/old.html" };
    std::string refused_by_policy;
    std::vector<std::string> checked;
    std::vector<std::string> navigations;
    RecordingPage page;
    PageRouter router;
    NavFamily family;
};

TEST_F(Routing, GatesRefuseWithTheirTextsInOrder)
{
    struct Case {
        char const* what;
        std::string page;
        std::string mode;
        bridge::ServiceBlock block;
        bool staff, owner;
        std::string web_host;
        std::vector<std::string> calls; // empty: the page opens
    };
    bridge::ServiceBlock merchant_closed { 1, 0, 0, 0, "점검 중", "오늘 밤 10시까지 점검합니다" };
    bridge::ServiceBlock food_closed { 0, 1, 0, 0, "음식 점검", "" };
    bridge::ServiceBlock pos_closed { 0, 0, 0, 1, "", "" };
    std::vector<std::string> owner_needed { "setLoginBusy(0)", "status:가맹점 로그인이 필요합니다" };
    std::vector<Case> cases {
        { "owner page without the owner", "menu.html", "", {}, true, false, web_host, owner_needed },
        { "home needs the owner too", "home.html", "", {}, true, false, web_host, owner_needed },
        { "kitchen display with the POS alone", "kds.html", "", {}, true, false, web_host, {} },
        { "kitchen display without the POS", "kds.html", "", {}, false, true, web_host, { "setLoginBusy(0)", "status:로그인이 필요합니다" } },
        { "all closed shows the notice", "menu.html", "", merchant_closed, true, true, web_host, { "setLoginBusy(0)", "status:오늘 밤 10시까지 점검합니다" } },
        { "home opens while all is closed", "home.html", "", merchant_closed, true, true, web_host, {} },
        { "food mode while food is closed", "menu.html", "food", food_closed, true, true, web_host, { "setLoginBusy(0)", "status:음식 점검" } },
        { "shop mode while only food is closed", "menu.html", "shop", food_closed, true, true, web_host, {} },
        { "kitchen display under POS maintenance", "kds.html", "", pos_closed, true, true, web_host, { "setLoginBusy(0)", "status:서비스 점검중입니다" } },
        { "no web host", "menu.html", "", {}, true, true, "", { "status:서버 주소를 알 수 없습니다" } },
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.what);
        page.calls.clear();
        navigations.clear();
        block = c.block;
        staff = c.staff;
        owner = c.owner;
        web_host = c.web_host;
        router.set_pending_mode(c.mode);
        router.route(c.page, page);
        EXPECT_EQ(page.calls, c.calls);
        EXPECT_EQ(navigations.size(), c.calls.empty() ? 1u : 0u);
    }
}

TEST_F(Routing, PageNamesThatCouldLeaveTheFolderOrBreakTheAddressAreRefused)
{
    for (std::string name : std::vector<std::string> { "a..html", "../menu.html", "a/b.html", "a\\b.html", "c:menu.html", "menu.bak.html",
             "menu.html?x=1.5", "", "?x=1", "menu.html#top", "menu.html?q=a b", "menu.html?q=\"x\"",
             std::string(56, 'm') + ".html" }) {
        SCOPED_TRACE(name);
        page.calls.clear();
        router.route(name, page);
        EXPECT_EQ(page.calls, std::vector<std::string> { "status:열 수 없는 화면입니다" });
    }
    EXPECT_TRUE(navigations.empty());
    EXPECT_TRUE(checked.empty()) << "the bundle is never asked about a refused name";
    EXPECT_TRUE(valid_page_name(std::string(55, 'm') + ".html"));
}

TEST_F(Routing, TheModeGoesIntoTheAddressOnceAndNeverOutlivesARefusedRouting)
{
    run({ "openmerch", "menu.html", "food" });
    EXPECT_EQ(navigations.back(), std::string(origin) + "/merchant/menu.html?twmode=food");
    run({ "openmerch", "menu.html?tab=2", "shop" });
    EXPECT_EQ(navigations.back(), std::string(origin) + "/merchant/menu.html?tab=2&twmode=shop");
    run({ "openmerch", "menu.html", "drinks" });
    EXPECT_EQ(navigations.back(), std::string(origin) + "/merchant/menu.html");

    // A routing refused at the sign-in gate spends the mode as well: the
    // next, unrelated page is neither gated by it nor opened in it.
    owner = false;
    run({ "openmerch", "sales.html", "food" });
    EXPECT_TRUE(router.pending_mode().empty());
    owner = true;
    block.food = 1;
    navigations.clear();
    router.route("sales.html", page);
    ASSERT_EQ(navigations.size(), 1u);
    EXPECT_EQ(navigations.back(), std::string(origin) + "/merchant/sales.html");
}

TEST_F(Routing, APageTheBundleLacksIsCheckedAndNotOpened)
{
    router.route("reviews.html?x=1", page);
    EXPECT_EQ(checked, std::vector<std::string> { "merchant/reviews.html" });
    EXPECT_TRUE(navigations.empty());
    EXPECT_TRUE(history().empty());
}

TEST_F(Routing, OnlyCommittedDocumentsEnterTheHistory)
{
    router.route("home.html", page);
    EXPECT_TRUE(history().empty()) << "asked for, not yet shown";
    commit_last();
    EXPECT_EQ(history(), std::vector<std::string> { "home.html" });

    // The page policy would refuse it: nothing is navigated, nothing entered.
    refused_by_policy = "/merchant/menu.html";
    router.route("menu.html", page);
    EXPECT_EQ(navigations.size(), 1u);
    refused_by_policy.clear();

    // The engine shows another document instead: no entry either.
    router.route("sales.html", page);
    router.committed("file:///opt/pos/orders.html");
    router.committed(std::string(origin) + "/merchant/sales.html");
    EXPECT_EQ(history(), std::vector<std::string> { "home.html" });

    // So `back` from the next page returns to the page that really stood before it.
    router.route("menu.html", page);
    commit_last();
    run({ "back" });
    EXPECT_EQ(navigations.back(), std::string(origin) + "/merchant/home.html");
    commit_last();
    EXPECT_EQ(history(), std::vector<std::string> { "home.html" });
}

// A page's ready report adds to the history only what routing did not: the
// page it routed to (with its query) is not entered twice.
TEST_F(Routing, AReadyReportEntersOnlyWhatRoutingDidNot)
{
    router.route("menu.html?mode=add", page);
    commit_last();
    router.record("menu.html", false);
    EXPECT_EQ(history(), std::vector<std::string> { "menu.html?mode=add" });
    router.record("old.html", true);
    router.record("old.html", true);
    router.record("../x.html", false);
    router.record("a/../b.html", true);
    EXPECT_EQ(history(), (std::vector<std::string> { "menu.html?mode=add", "old:old.html" }));
    run({ "back" });
    EXPECT_EQ(navigations.back(), std::string(origin) + "/merchant/menu.html?mode=add");
}

TEST_F(Routing, BackAfterTwoPagesReopensTheFirstAndBackOnTheFirstOpensTheBoard)
{
    run({ "openmerch", "home.html" });
    commit_last();
    run({ "storemenu" });
    commit_last();
    EXPECT_EQ(history(), (std::vector<std::string> { "home.html", "menu.html" }));
    run({ "back" });
    EXPECT_EQ(navigations.back(), std::string(origin) + "/merchant/home.html");
    commit_last();
    EXPECT_EQ(history(), std::vector<std::string> { "home.html" });
    run({ "gohome" });
    EXPECT_EQ(navigations.back(), "local:orders.html");
    EXPECT_TRUE(history().empty());
}

TEST_F(Routing, ABackThatIsRefusedKeepsTheHistory)
{
    router.route("home.html", page);
    commit_last();
    router.route("menu.html", page);
    commit_last();
    owner = false;
    run({ "back" });
    EXPECT_EQ(page.calls.back(), "status:가맹점 로그인이 필요합니다");
    EXPECT_EQ(history(), (std::vector<std::string> { "home.html", "menu.html" }));
}

TEST_F(Routing, TheSamePageTwiceIsOneEntryAndThe31stPageDropsTheOldest)
{
    for (int round = 0; round < 2; ++round) {
        router.route("home.html", page);
        commit_last();
    }
    EXPECT_EQ(history(), std::vector<std::string> { "home.html" });
    router.history().clear();
    for (int i = 1; i <= 31; ++i) {
        std::string name = "p" + std::to_string(i) + ".html";
        bundle.insert("merchant/" + name);
        router.route(name, page);
        commit_last();
    }
    ASSERT_EQ(history().size(), max_history);
    EXPECT_EQ(history().front(), "p2.html");
    EXPECT_EQ(history().back(), "p31.html");
}

TEST_F(Routing, OldStorePagesComeBackThroughTheirOwnFolder)
{
    router.route("home.html", page);
    commit_last();
    router.open_old_page("old.html?id=3", page);
    EXPECT_EQ(navigations.back(), std::string(origin) + "/tstorehtml/old.html?id=3");
    EXPECT_EQ(checked.back(), "tstorehtml/old.html");
    commit_last();
    router.route("menu.html", page);
    commit_last();
    EXPECT_EQ(history(), (std::vector<std::string> { "home.html", "old:old.html?id=3", "menu.html" }));
    run({ "back" });
    EXPECT_EQ(navigations.back(), std::string(origin) + "/tstorehtml/old.html?id=3");

    for (std::string path : std::vector<std::string> { "../merchant/menu.html", "a//b.html", "./a.html", "a b.html", "" }) {
        page.calls.clear();
        router.open_old_page(path, page);
        EXPECT_EQ(page.calls, std::vector<std::string> { "status:열 수 없는 화면입니다" }) << path;
    }
}

TEST_F(Routing, TheLocalPageCommandsClearTheHistoryAndSetTheFirstRunRequest)
{
    router.route("home.html", page);
    commit_last();
    staff = false;
    run({ "openpos" });
    EXPECT_EQ(page.calls.back(), "status:로그인이 필요합니다");
    EXPECT_EQ(history().size(), 1u);
    staff = true;
    run({ "openpos" });
    EXPECT_EQ(navigations.back(), "local:orders.html");
    EXPECT_TRUE(history().empty());

    run({ "posprinter" });
    EXPECT_EQ(navigations.back(), "local:orders.html");
    EXPECT_EQ(router.take_first_run_request(), 1);
    EXPECT_EQ(router.take_first_run_request(), 0) << "taken once";
    run({ "possettings" });
    EXPECT_EQ(router.take_first_run_request(), 2);
    staff = false;
    run({ "storepos" });
    EXPECT_EQ(navigations.back(), "local:orders.html");
}

TEST_F(Routing, FamilyCommandsAndThePageTable)
{
    run({ "gomain" });
    EXPECT_EQ(navigations.back(), std::string(origin) + "/merchant/home.html");
    commit_last();
    size_t before = navigations.size();
    run({ "gomain" });
    EXPECT_EQ(navigations.size(), before) << "home.html is already the newest page";

    run({ "openmerch" });
    EXPECT_EQ(navigations.size(), before);
    run({ "categorymanage" });
    EXPECT_EQ(navigations.back(), std::string(origin) + "/merchant/menu.html");
    EXPECT_EQ(page_for_command("storekds"), "kds.html");
    EXPECT_EQ(page_for_command("gomessagelist"), "messages.html");
    EXPECT_EQ(page_for_command("storeproductmgr"), "productmgr.html");
    EXPECT_FALSE(page_for_command("logout").has_value());

    bridge::Command logout { { "logout" }, 1, false };
    EXPECT_EQ(family.handle(logout, page), bridge::Handled::No) << "logout stays the login family's";
}

} // namespace

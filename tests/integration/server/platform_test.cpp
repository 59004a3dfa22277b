// Sign-in, store calls and owner calls against the reference platform
// (tillbay-platform), over TLS pinned to the platform's own certificate as
// its "init" writes the settings file.

#include "peer.h"

#include "foundation/json_text.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "os/fs.h"
#include "server/api.h"
#include "server/login_family.h"
#include "session/session.h"
#include "server/transport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

using namespace tillbay;

namespace {

peers::Platform* g_platform = nullptr;
peers::TempDir* g_appdata = nullptr;

struct RecordingPage : bridge::Page {
    std::vector<std::string> calls;
    void callback(std::string_view name, std::string_view args) override
    {
        calls.push_back(std::string(name) + "(" + std::string(args) + ")");
    }
    void status(std::string_view message) override { calls.push_back("status:" + std::string(message)); }
};

class PlatformCalls : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        g_appdata = new peers::TempDir;
        ::setenv("LOCALAPPDATA", g_appdata->path().c_str(), 1);
        g_platform = new peers::Platform;
        if (!g_platform->start())
            return;
        ASSERT_TRUE(g_platform->configure_pos());
        ASSERT_TRUE(settings::server().tls);
        ASSERT_EQ(transport::pin().size(), 64u) << "the platform's settings pin its certificate";
    }
    static void TearDownTestSuite()
    {
        delete g_platform;
        g_platform = nullptr;
        paths::set_exe_dir_for_testing("");
        delete g_appdata;
    }
    void SetUp() override
    {
        if (g_platform->api_port <= 0)
            GTEST_SKIP() << "tillbay-platform is not built";
        session::reset();
        g_platform->requests_after(0, &m_seq);
    }
    void TearDown() override
    {
        session::reset();
        api::set_waits_for_testing({});
    }

    std::vector<std::string> run(std::vector<std::string> fields)
    {
        RecordingPage page;
        EXPECT_EQ(m_family.handle(bridge::Command { std::move(fields), 1, false }, page), bridge::Handled::Yes);
        return page.calls;
    }
    // What the platform received since the last look.
    std::vector<std::string> received() { return g_platform->requests_after(m_seq, &m_seq); }

    server::LoginHooks hooks()
    {
        server::LoginHooks h;
        h.navigate = [this](std::string_view page) { pages.emplace_back(page); };
        return h;
    }

    long long m_seq = 0;
    std::vector<std::string> pages;
    server::LoginFamily m_family { hooks() };
};

TEST_F(PlatformCalls, StaffAndOwnerSignInWithCallsBothWays)
{
    auto const& p = *g_platform;
    std::string const store = std::to_string(p.storeidx);

    EXPECT_TRUE(run({ "login", p.staff_id, p.staff_password, "1" }).empty());
    EXPECT_EQ(pages, (std::vector<std::string> { "orders.html" }));
    auto staff = session::staff();
    ASSERT_TRUE(staff.signed_in);
    EXPECT_EQ(staff.storeidx, p.storeidx);
    EXPECT_GT(staff.useridx, 0);
    EXPECT_FALSE(staff.shop_name.empty());
    std::string const staff_token = session::access_token().str();
    ASSERT_FALSE(staff_token.empty());

    auto board = api::store_call("cmd=110&storeidx=" + store);
    ASSERT_TRUE(board.ok()) << board.error().message;
    EXPECT_TRUE(board.value().accepted()) << board.value().message;

    auto seen = received();
    ASSERT_EQ(seen.size(), 2u);
    // The sign-in goes without a token, the board call with the staff's.
    EXPECT_EQ(seen[0].rfind("5 0 cmd=100&id=" + p.staff_id + "&pw=", 0), 0u) << seen[0];
    EXPECT_EQ(seen[0].find("token="), std::string::npos);
    EXPECT_EQ(seen[1], "5 " + std::to_string(staff.useridx) + " cmd=110&storeidx=" + store + "&token=" + staff_token);

    // The owner signs in over the staff of the same store.
    auto merch = run({ "merchlogin", p.owner_id, p.owner_password });
    ASSERT_EQ(merch.size(), 2u) << (merch.empty() ? "" : merch[0]);
    EXPECT_EQ(merch[0].rfind("setMerchState(1," + store + ",", 0), 0u) << merch[0];
    EXPECT_EQ(merch[1], "status:가맹점 로그인 완료");
    auto owner = session::owner();
    ASSERT_TRUE(owner.signed_in());
    std::string const owner_token = session::access_token().str();
    EXPECT_FALSE(owner_token.empty());
    EXPECT_NE(owner_token, staff_token);

    auto dash = run({ "getmaindash" });
    ASSERT_FALSE(dash.empty());
    EXPECT_EQ(dash[0].rfind("setMainDash(\"{", 0), 0u) << dash[0];

    seen = received();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], "1 0 cmd=12&id=" + p.owner_id + "&password=" + p.owner_password);
    EXPECT_EQ(seen[1], "3 " + std::to_string(owner.idx) + " cmd=91&storeidx=" + store);
    EXPECT_EQ(seen[2], "3 " + std::to_string(owner.idx) + " cmd=55&storeidx=" + store);

    // Back to the staff member's own token.
    EXPECT_EQ(run({ "merchlogout" }), (std::vector<std::string> { "setMerchState(0,0,'')" }));
    EXPECT_EQ(session::access_token().str(), staff_token);
    board = api::store_call("cmd=110&storeidx=" + store);
    ASSERT_TRUE(board.ok()) << board.error().message;
    EXPECT_TRUE(board.value().accepted()) << board.value().message;
    EXPECT_EQ(received().back(), "5 " + std::to_string(staff.useridx) + " cmd=110&storeidx=" + store + "&token=" + staff_token);

    // A wrong password is the platform's refusal, shown as the page's error.
    auto refused = run({ "login", p.staff_id, "wrong-password" });
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].rfind("setLoginError(\"", 0), 0u);
    EXPECT_EQ(session::access_token().str(), staff_token);
}

TEST_F(PlatformCalls, OwnerSignInFromSignedOutMakesTheStaffStateAndSignsAllOut)
{
    auto const& p = *g_platform;
    EXPECT_TRUE(run({ "merchlogin", p.owner_id, p.owner_password, "go" }).empty());
    EXPECT_EQ(pages, (std::vector<std::string> { "home.html" }));
    auto staff = session::staff();
    EXPECT_TRUE(staff.owner_made);
    EXPECT_EQ(staff.storeidx, p.storeidx);
    EXPECT_FALSE(staff.shop_name.empty());
    ASSERT_FALSE(session::access_token().empty());

    // Store calls now travel with the owner token.
    auto shop = api::store_call("cmd=53&storeidx=" + std::to_string(p.storeidx));
    ASSERT_TRUE(shop.ok()) << shop.error().message;
    EXPECT_TRUE(shop.value().accepted()) << shop.value().message;

    EXPECT_EQ(run({ "merchlogout" }), (std::vector<std::string> { "status:가맹점 로그아웃 — POS 도 닫았습니다" }));
    EXPECT_FALSE(session::staff_signed_in());
    EXPECT_TRUE(session::access_token().empty());

    // Signed out: nothing but the sign-in leaves the PC.
    received();
    auto after = api::store_call("cmd=110&storeidx=" + std::to_string(p.storeidx));
    ASSERT_FALSE(after.ok());
    EXPECT_EQ(after.error().message, "로그인이 풀렸습니다 — POS 를 껐다 켜 주세요");
    EXPECT_TRUE(received().empty());
}

TEST_F(PlatformCalls, SilentClosingAndGarbageServers)
{
    auto const& p = *g_platform;
    run({ "login", p.staff_id, p.staff_password });
    ASSERT_TRUE(session::staff_signed_in());
    std::string const board = "cmd=110&storeidx=" + std::to_string(p.storeidx);
    auto fault = [&](char const* kind, int cmd) {
        auto answer = g_platform->control("POST", "/control/faults",
            std::string("{\"listener\":\"api\",\"kind\":\"") + kind + "\",\"cmd\":" + std::to_string(cmd) + ",\"count\":1}");
        ASSERT_EQ(answer.find("error"), std::string::npos) << answer;
    };

    auto failure = [](auto const& result) { return result.ok() ? std::string("(answered)") : result.error().message; };
    fault("silent", 110);
    auto started = std::chrono::steady_clock::now();
    auto silent = api::store_call(board);
    auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(failure(silent), "응답이 없습니다 (시간 초과)");
    // The full first-answer wait of a store call, not a shortened one.
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(waited).count(), api::store_answer_ms - 100);

    fault("close", 110);
    EXPECT_EQ(failure(api::store_call(board)), "연결이 끊겼습니다");

    // Bytes that are not an answer: received, but no code the caller accepts.
    fault("garbage", 110);
    auto garbage = api::store_call(board);
    ASSERT_TRUE(garbage.ok());
    EXPECT_FALSE(garbage.value().accepted());

    // The owner's exchange has texts of its own.
    ASSERT_FALSE(run({ "merchlogin", p.owner_id, p.owner_password }).empty());
    api::set_waits_for_testing({ 5000, 8000, 4000, 1500 });
    fault("close", 55);
    EXPECT_EQ(failure(api::owner_call("cmd=55&storeidx=" + std::to_string(p.storeidx))), "서버가 연결을 끊었습니다");
    fault("silent", 55);
    EXPECT_EQ(failure(api::owner_call("cmd=55&storeidx=" + std::to_string(p.storeidx))), "서버 응답이 없습니다");

    // And afterwards the server answers as before.
    auto again = api::store_call(board);
    ASSERT_TRUE(again.ok());
    EXPECT_TRUE(again.value().accepted());
}

TEST_F(PlatformCalls, NoSecretReachesALog)
{
    auto const& p = *g_platform;
    run({ "login", p.staff_id, p.staff_password, "1" });
    ASSERT_TRUE(session::staff_signed_in());
    std::string const staff_token = session::access_token().str();
    ASSERT_FALSE(run({ "merchlogin", p.owner_id, p.owner_password }).empty());
    auto owner = session::owner();
    ASSERT_TRUE(owner.signed_in());
    std::vector<std::string> secrets { p.staff_password, p.owner_password, staff_token,
        session::access_token().str(), owner.devkey.str(), owner.deviv.str(), settings::app_key().str(),
        settings::app_iv().str(), settings::server_header().str() };
    // A failed sign-in and a refused owner request write their lines too.
    run({ "login", p.staff_id, p.staff_password + "x" });
    run({ "getmaindash" });
    run({ "merchlogout" });
    run({ "logout" });

    int files = 0;
    for (auto const& entry : std::filesystem::recursive_directory_iterator(g_appdata->path())) {
        if (!entry.is_regular_file())
            continue;
        ++files;
        auto text = os::read_file(entry.path().string(), 16 << 20);
        ASSERT_TRUE(text.ok());
        for (auto const& secret : secrets) {
            ASSERT_FALSE(secret.empty());
            EXPECT_EQ(text.value().find(secret), std::string::npos) << entry.path() << " holds a secret";
        }
    }
    EXPECT_GT(files, 0) << "the transport log should have been written";
}

} // namespace

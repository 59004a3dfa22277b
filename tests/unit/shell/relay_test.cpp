// The page API relay's decisions, answers and workers, and the reading of
// the configured web host, without a web view or a network.

#include "shell/relay.h"
#include "shell/web_host.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace tillbay;
using namespace tillbay::shell;
using namespace tillbay::shell::relay;
namespace http = os::http;

namespace {

constexpr char const* ui = "twpos://ui.tillbay.invalid";
constexpr char const* api = "twpos://api.tillbay.invalid";

Incoming incoming(std::string path, std::string method = "GET")
{
    Incoming in;
    in.address = std::string(api) + path;
    in.method = std::move(method);
    return in;
}

TEST(RelayPaths, OnlyPhpPagesOfTheFourFoldersPass)
{
    struct Case {
        char const* path;
        bool allowed;
    };
    Case const cases[] = {
        { "/merchant/menu_api.php?x=1", true },
        { "/shared/a.php", true },
        { "/tstorehtml/a.php", true },
        { "/aitwmem/x.php", true },
        { "/merchant/a.php?q=%2e%2e&r=%2F", true }, // encoded forms in the query are the web host's business
        { "/merchant/../admin.php", false },
        { "/merchant/a.php?p=..", false },
        { "/merchant/a.html", false },
        { "/merchant/a.PHP", false },
        { "/other/a.php", false },
        { "/merchantx/a.php", false },
        { "/x.php", false },
        { "/merchant/%2e%2e/admin.php", false },
        { "/merchant/%2E%2e/admin.php", false },
        { "/merchant/.%2e/admin.php", false },
        { "/merchant/a%2fb.php", false },
        { "/merchant/a%2Fb.php", false },
        { "/merchant/a%5cb.php", false },
        { "/merchant/a\\b.php", false },
        { "/merchant/a b.php", false },
        { "/merchant/a\x01.php", false },
        { "", false },
    };
    for (auto const& c : cases)
        EXPECT_EQ(allowed_path(c.path), c.allowed) << c.path;
    EXPECT_EQ(server_path("/merchant/menu_api.php?x=1"), "/v2/merchant/menu_api.php?x=1");
    EXPECT_EQ(server_path("/shared/a.php"), "/v2/shared/a.php");
    EXPECT_EQ(server_path("/tstorehtml/a.php"), "/tstorehtml/a.php");
    EXPECT_EQ(server_path("/aitwmem/x.php"), "/aitwmem/x.php");
    EXPECT_EQ(relayed_path(std::string(api) + "/merchant/a.php?x", api), "/merchant/a.php?x");
    EXPECT_FALSE(relayed_path(std::string(ui) + "/merchant/a.php", api).has_value());
    EXPECT_FALSE(relayed_path(std::string(api) + ".evil/merchant/a.php", api).has_value());
}

TEST(RelayDecisions, WhatIsAnsweredAtOnceAndWhatIsRelayed)
{
    auto preflight = decide(incoming("/anything", "OPTIONS"), ui, api);
    ASSERT_TRUE(preflight.answer);
    EXPECT_EQ(preflight.answer->status, 204);
    EXPECT_EQ(preflight.answer->reason, "No Content");
    EXPECT_EQ(preflight.answer->body, "");
    std::vector<std::pair<std::string, std::string>> headers {
        { "Content-Type", "text/plain; charset=utf-8" },
        { "Cache-Control", "no-store" },
        { "Access-Control-Allow-Origin", ui },
        { "Access-Control-Allow-Methods", "GET, POST, OPTIONS" },
        { "Access-Control-Allow-Headers", "Content-Type, X-Requested-With" },
        { "Access-Control-Max-Age", "600" },
        { "Timing-Allow-Origin", ui },
        { "Vary", "Origin" },
    };
    EXPECT_EQ(preflight.answer->headers, headers);

    auto refused = decide(incoming("/merchant/a.html"), ui, api);
    ASSERT_TRUE(refused.answer);
    EXPECT_EQ(refused.answer->status, 403);
    EXPECT_EQ(refused.answer->body, "not relayed");
    EXPECT_EQ(refused.logged_path, "/merchant/a.html");

    for (char const* method : { "PUT", "DELETE", "PATCH", "TRACE", "get" }) {
        auto other = decide(incoming("/merchant/a.php", method), ui, api);
        ASSERT_TRUE(other.answer) << method;
        EXPECT_EQ(other.answer->status, 405) << method;
    }

    Incoming big = incoming("/merchant/upload.php", "POST");
    big.body_cut = true;
    auto too_big = decide(big, ui, api);
    ASSERT_TRUE(too_big.answer);
    EXPECT_EQ(too_big.answer->status, 413);
    EXPECT_EQ(too_big.answer->body, "{\"ok\":false,\"why\":\"size\"}");

    Incoming post = incoming("/merchant/a.php?x=1", "POST");
    post.content_type = "application/x-www-form-urlencoded";
    post.body = "a=1";
    auto relayed = decide(post, ui, api);
    ASSERT_FALSE(relayed.answer);
    EXPECT_EQ(relayed.request.method, http::Method::Post);
    EXPECT_EQ(relayed.request.path, "/v2/merchant/a.php?x=1");
    EXPECT_EQ(relayed.request.content_type, "application/x-www-form-urlencoded");
    EXPECT_EQ(relayed.request.body, "a=1");
    EXPECT_EQ(relayed.request.timeout_ms, 8000);
    EXPECT_EQ(relayed.request.max_bytes, max_answer_body);
    EXPECT_EQ(relayed.logged_path, "/merchant/a.php");

    // A content type that could carry a second header is dropped; a GET
    // without a method is a GET, and its body is not sent.
    Incoming injected = incoming("/merchant/a.php", "");
    injected.content_type = "text/plain\r\nX-Evil: 1";
    injected.body = "ignored";
    auto cleaned = decide(injected, ui, api);
    ASSERT_FALSE(cleaned.answer);
    EXPECT_EQ(cleaned.request.method, http::Method::Get);
    EXPECT_EQ(cleaned.request.content_type, "");
    EXPECT_EQ(cleaned.request.body, "");
    EXPECT_EQ(decide(incoming("/merchant/a.php", "HEAD"), ui, api).request.method, http::Method::Head);

    Incoming elsewhere;
    elsewhere.address = std::string(ui) + "/merchant/a.php";
    EXPECT_EQ(decide(elsewhere, ui, api).answer->status, 400);
}

TEST(RelayAnswers, TheWebHostsAnswerPassesAndFailuresBecome504Or502)
{
    http::Response found { 200, "text/html; charset=euc-kr", "<b>x</b>" };
    auto ok = answer_for(found, ui);
    EXPECT_EQ(ok.status, 200);
    EXPECT_EQ(ok.reason, "OK");
    EXPECT_EQ(ok.content_type, "text/html; charset=euc-kr");
    EXPECT_EQ(ok.headers.front(), (std::pair<std::string, std::string> { "Content-Type", "text/html; charset=euc-kr" }));
    EXPECT_EQ(ok.body, "<b>x</b>");

    auto missing = answer_for(http::Response { 404, "", "{\"ok\":false}" }, ui);
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.reason, "Relayed");
    EXPECT_EQ(missing.content_type, "application/json; charset=utf-8");
    EXPECT_EQ(missing.body, "{\"ok\":false}");

    auto odd_type = answer_for(http::Response { 200, "text/plain\x01", "" }, ui);
    EXPECT_EQ(odd_type.content_type, "application/json; charset=utf-8");

    auto failure = [](http::Failure kind) {
        return Error::with_message("x", "detail", static_cast<int>(kind));
    };
    for (auto kind : { http::Failure::Connect, http::Failure::Timeout, http::Failure::Transfer, http::Failure::Aborted }) {
        auto answer = answer_for(Result<http::Response>(failure(kind)), ui);
        EXPECT_EQ(answer.status, 504);
        EXPECT_EQ(answer.reason, "Gateway Timeout");
        EXPECT_EQ(answer.body, "{\"ok\":false,\"why\":\"relay\"}");
    }
    auto too_large = answer_for(Result<http::Response>(failure(http::Failure::TooLarge)), ui);
    EXPECT_EQ(too_large.status, 502);
    EXPECT_EQ(too_large.body, "{\"ok\":false,\"why\":\"size\"}");
}

// A web host that holds every request until it is let go.
struct HeldWebHost {
    std::mutex lock;
    std::condition_variable cv;
    bool released = false;
    std::atomic<int> seen { 0 };

    Relay::Send send()
    {
        return [this](http::Request const& request) -> Result<http::Response> {
            ++seen;
            std::unique_lock guard(lock);
            cv.wait(guard, [&] { return released; });
            return http::Response { 200, "text/plain", request.path };
        };
    }
    void release()
    {
        std::lock_guard guard(lock);
        released = true;
        cv.notify_all();
    }
};

TEST(RelayWorkers, AnswerOffTheCallingThreadAndStopWithoutAnsweringTheWaiting)
{
    HeldWebHost host;
    Relay relay(host.send(), ui, api, 2);
    relay.start();
    std::mutex lock;
    std::vector<std::pair<int, std::thread::id>> answers;
    auto done = [&](Answer answer) {
        std::lock_guard guard(lock);
        answers.emplace_back(answer.status, std::this_thread::get_id());
    };

    // Answered at once, on this thread.
    relay.submit(incoming("/other/a.php"), done);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], std::make_pair(403, std::this_thread::get_id()));

    // A failed expectation below must not leave the workers held: the
    // relay's destructor joins them.
    struct ReleaseAtEnd {
        HeldWebHost& host;
        ~ReleaseAtEnd() { host.release(); }
    } release_at_end { host };

    // Two requests occupy both workers; more wait; beyond the limit: busy.
    for (size_t i = 0; i < 2; ++i)
        relay.submit(incoming("/merchant/a.php?n=" + std::to_string(i)), done);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (host.seen < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(host.seen.load(), 2);
    for (size_t i = 0; i < max_waiting; ++i)
        relay.submit(incoming("/merchant/b.php?n=" + std::to_string(i)), done);
    relay.submit(incoming("/merchant/over.php"), done);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[1].first, 503);
    EXPECT_EQ(host.seen.load(), 2);
    EXPECT_EQ(relay.pending(), 2 + max_waiting);

    // Stopping drops the waiting requests; the two on the web host finish.
    std::thread stopper([&] { relay.stop(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    host.release();
    stopper.join();
    {
        std::lock_guard guard(lock);
        ASSERT_EQ(answers.size(), 4u);
        EXPECT_EQ(answers[2].first, 200);
        EXPECT_NE(answers[2].second, std::this_thread::get_id());
        EXPECT_EQ(host.seen.load(), 2);
        answers.clear();
    }

    // After the stop every request is answered at once.
    relay.submit(incoming("/merchant/late.php"), done);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].first, 503);
}

TEST(WebHostEndpoint, SchemeHostAndPortFromTheSetting)
{
    struct Case {
        char const* text;
        bool ok;
        char const* host;
        int port;
        http::Security security;
    };
    using S = http::Security;
    Case const cases[] = {
        { "https://web.example.com", true, "web.example.com", 443, S::Secure },
        { "HTTP://web.example.com:8080/some/path", true, "web.example.com", 8080, S::Plain },
        { "web.example.com", true, "web.example.com", 443, S::Secure },
        { "localhost:8080", true, "localhost", 8080, S::Plain },
        { "LocalHost", true, "LocalHost", 80, S::Plain },
        { "localhost.example.com", true, "localhost.example.com", 443, S::Secure },
        { "127.0.0.1:9000", true, "127.0.0.1", 9000, S::Plain },
        { "10.1.2.3", true, "10.1.2.3", 80, S::Plain },
        { "192.168.0.10/v2", true, "192.168.0.10", 80, S::Plain },
        { "172.31.0.1", true, "172.31.0.1", 80, S::Plain },
        { "172.32.0.1", true, "172.32.0.1", 443, S::Secure },
        { "10.example.com", true, "10.example.com", 443, S::Secure },
        { "https://[::1]:8443", true, "[::1]", 8443, S::Secure },
        { "web.example.com:65535", true, "web.example.com", 65535, S::Secure },
        { "web.example.com:65536", false, "", 0, S::Secure },
        { "web.example.com:70000", false, "", 0, S::Secure },
        { "web.example.com:0", false, "", 0, S::Secure },
        { "web.example.com:", false, "", 0, S::Secure },
        { "web.example.com:80a", false, "", 0, S::Secure },
        { "user@web.example.com", false, "", 0, S::Secure },
        { "", false, "", 0, S::Secure },
        { "https://", false, "", 0, S::Secure },
        { "https://[::1", false, "", 0, S::Secure },
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.text);
        auto endpoint = web_host_endpoint(c.text);
        ASSERT_EQ(endpoint.ok(), c.ok);
        if (!c.ok) {
            EXPECT_EQ(endpoint.error().message, unknown_web_host_text);
            continue;
        }
        EXPECT_EQ(endpoint.value().host, c.host);
        EXPECT_EQ(endpoint.value().port, c.port);
        EXPECT_EQ(endpoint.value().security, c.security);
    }
}

} // namespace

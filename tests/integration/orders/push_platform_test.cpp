// The order push channel and the order board against the reference
// platform over TLS: a payment announced on the relay brings a prepaid order
// into the kitchen list cache, and a relay that goes away is retried with
// growing pauses until it is back, when the store registers again.

#include "door/door_state.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "orders/order_board.h"
#include "peer.h"
#include "server/push_channel.h"
#include "session/session.h"
#include "server/signin.h"
#include "server/transport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

using namespace tillbay;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

class NullPage final : public bridge::Page {
public:
    void callback(std::string_view, std::string_view) override { }
    void status(std::string_view) override { }
};

struct Record {
    std::mutex lock;
    std::vector<push::OrderEvent> events;
    std::vector<std::pair<push::ChannelState, std::string>> states;
    std::vector<Clock::time_point> connecting_at;
    int connected = 0;
};

template<typename F>
bool eventually(F check, std::chrono::milliseconds limit)
{
    auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        if (check())
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

class PushAgainstPlatform : public ::testing::Test {
protected:
    void SetUp() override
    {
        program = peers::Platform::binary();
        if (program.empty())
            GTEST_SKIP() << "tillbay-platform is not built";
        pos = dir.file("pos");
        data = dir.file("data");
        api = peers::free_port();
        relay = peers::free_port();
        web = peers::free_port();
        control = peers::free_port();
        ASSERT_TRUE(peers::shell(program + " init " + pos + " --data " + data + " --api-port " + std::to_string(api)
            + " --relay-port " + std::to_string(relay) + " --web-port " + std::to_string(web)));
        ASSERT_TRUE(serve());
        paths::set_exe_dir_for_testing(pos + "/");
        settings::read_server_settings();
        auto const& server = settings::server();
        ASSERT_EQ(server.relayport, relay);
        transport::configure(server.tls, server.tlsfp, server.host);
        auto staff = signin::staff(api::configured_endpoint(), "tillbay01", "pos1234!");
        ASSERT_TRUE(staff.ok()) << staff.error().message;
        session::set_staff(staff.value().storeidx, staff.value().useridx, staff.value().shop_name, false);
    }
    void TearDown() override
    {
        channel.stop();
        channel.set_backoff_scale_for_testing(1.0);
        session::reset();
    }

    bool serve()
    {
        return platform.start({ program, "serve", "--data", data, "--api-port", std::to_string(api), "--relay-port",
                   std::to_string(relay), "--web-port", std::to_string(web), "--control-port", std::to_string(control),
                   "--ping-interval", "300" })
            && !platform.wait_for_line("ready", 20000).empty() && (platform.drain(), true);
    }

    std::string control_call(std::string const& method, std::string const& path, std::string const& body = {})
    {
        std::string file = dir.file("body.json");
        std::string command = "curl -s -m 10 -X " + method + " http://127.0.0.1:" + std::to_string(control) + path;
        if (!body.empty()) {
            FILE* f = std::fopen(file.c_str(), "w");
            std::fputs(body.c_str(), f);
            std::fclose(f);
            command += " -H 'Content-Type: application/json' --data-binary @" + file;
        }
        std::string out;
        if (FILE* p = ::popen(command.c_str(), "r")) {
            char buffer[4096];
            size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
                out.append(buffer, n);
            ::pclose(p);
        }
        return out;
    }

    void start_channel()
    {
        push::ChannelConfig config;
        config.host = settings::server().host;
        config.port = settings::server().relayport;
        config.header = settings::relay_header();
        config.storeidx = session::storeidx();
        config.callbacks.event = [this](push::OrderEvent const& e) {
            std::lock_guard g(record.lock);
            record.events.push_back(e);
        };
        config.callbacks.connected = [this] {
            std::lock_guard g(record.lock);
            ++record.connected;
        };
        config.callbacks.state = [this](push::ChannelState s, std::string const& text) {
            std::lock_guard g(record.lock);
            record.states.emplace_back(s, text);
            if (s == push::ChannelState::Connecting)
                record.connecting_at.push_back(Clock::now());
        };
        ASSERT_TRUE(channel.start(config));
        ASSERT_TRUE(eventually([&] { std::lock_guard g(record.lock); return record.connected == 1; }, 10s));
        // The relay takes a registration as complete after a short quiet spell.
        ASSERT_TRUE(eventually(
            [&] { return control_call("GET", "/control/relay?store=1").find("\"subscribers\":1") != std::string::npos; }, 5s));
    }

    bool saw_event(long long orderidx, std::string const& name)
    {
        std::lock_guard g(record.lock);
        for (auto const& e : record.events)
            if (e.orderidx == orderidx && e.event == name)
                return true;
        return false;
    }

    peers::TempDir dir;
    peers::Child platform;
    std::string program, pos, data;
    int api = 0, relay = 0, web = 0, control = 0;
    push::PushChannel channel;
    Record record;
};

TEST_F(PushAgainstPlatform, PaymentEventBringsAPrepaidOrderIntoTheKitchen)
{
    start_channel();
    orders::OrderBoard board;
    NullPage page;
    std::string created = control_call("POST", "/control/orders",
        R"({"store":1,"kind":"pickup","pay":"prepaid","lines":[{"mname":"김밥","qty":2,"price":4000}]})");
    long long orderidx = std::atoll(created.c_str() + created.find(':') + 1);
    ASSERT_GT(orderidx, 0) << created;
    std::string key = "\"orderidx\":" + std::to_string(orderidx) + ",";

    ASSERT_TRUE(eventually([&] { return saw_event(orderidx, "NEWORDER"); }, 5s));
    ASSERT_TRUE(board.refresh(page));
    EXPECT_EQ(door::kitchen_list().find(key), std::string::npos) << "an unpaid prepaid order is not the kitchen's yet";

    control_call("POST", "/control/payments", "{\"orderidx\":" + std::to_string(orderidx) + ",\"result\":\"paid\"}");
    ASSERT_TRUE(eventually([&] { return saw_event(orderidx, "PAYING"); }, 5s));
    ASSERT_TRUE(board.refresh(page));
    EXPECT_NE(door::kitchen_list().find(key), std::string::npos) << door::kitchen_list();
}

TEST_F(PushAgainstPlatform, RelayThatGoesAwayIsRetriedWithGrowingPausesUntilItIsBack)
{
    double scale = 0.1; // 100, 200, 400, 800 ms
    channel.set_backoff_scale_for_testing(scale);
    start_channel();
    // Pings come every 300 ms and are answered; the link stays up.
    std::this_thread::sleep_for(1s);
    {
        std::lock_guard g(record.lock);
        EXPECT_EQ(record.connected, 1);
    }
    platform.stop();
    ASSERT_TRUE(eventually([&] { std::lock_guard g(record.lock); return record.connecting_at.size() >= 6; }, 15s));
    {
        std::lock_guard g(record.lock);
        // connecting_at[0] was the first connection; [1] follows the lost link at once.
        for (size_t i = 2; i < 6; ++i) {
            auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(record.connecting_at[i] - record.connecting_at[i - 1]);
            EXPECT_GE(gap.count(), 1000 * scale * (1 << (i - 2)) * 0.9) << "pause " << i;
        }
        bool lost = false;
        for (auto const& [state, text] : record.states)
            lost = lost || (state == push::ChannelState::Failed && text == "연결이 끊겼습니다");
        EXPECT_TRUE(lost);
    }
    ASSERT_TRUE(serve());
    EXPECT_TRUE(eventually([&] { std::lock_guard g(record.lock); return record.connected == 2; }, 10s));
    EXPECT_TRUE(eventually(
        [&] { return control_call("GET", "/control/relay?store=1").find("\"subscribers\":1") != std::string::npos; }, 5s));
    // And events flow again.
    std::string created = control_call("POST", "/control/orders",
        R"({"store":1,"kind":"table","table":2,"pay":"paid","lines":[{"mname":"라면","qty":1,"price":5000}]})");
    long long orderidx = std::atoll(created.c_str() + created.find(':') + 1);
    EXPECT_TRUE(eventually([&] { return saw_event(orderidx, "NEWORDER"); }, 5s));
}

} // namespace

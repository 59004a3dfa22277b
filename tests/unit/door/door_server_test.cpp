#include "door/door_server.h"
#include "door/door_state.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "os/net.h"
#include "os/stream_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace tillbay;
using namespace std::chrono_literals;

namespace {

// A loopback client: connects, sends, and reads until the server closes.
struct Client {
    os::net::Fd fd;
    explicit Client(int port)
    {
        auto outcome = os::net::connect_tcp("127.0.0.1", port, 2000);
        fd = std::move(outcome.socket);
        (void)os::net::set_nonblocking(fd.get(), false);
    }
    void send(std::string const& bytes) { (void)os::net::send_all(fd.get(), bytes, 2000); }
    std::string read_all(int timeout_ms = 3000)
    {
        std::string out;
        char buffer[4096];
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (std::chrono::steady_clock::now() < deadline) {
            if (os::net::wait(fd.get(), os::net::Direction::Read, 100) != os::net::Ready::Yes)
                continue;
            auto n = os::net::recv_some(fd.get(), buffer);
            if (!n.ok() || n.value() == 0)
                break;
            out.append(buffer, n.value());
        }
        return out;
    }
};

class SettingsFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::temp_directory_path() / ("tb-door-server-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_dir);
        std::ofstream(m_dir / "tillbay.ini") << "[TABLET]\r\n";
        paths::set_exe_dir_for_testing(m_dir.string() + "/");
        door::reset_for_testing();
    }
    void TearDown() override
    {
        paths::set_exe_dir_for_testing("");
        std::filesystem::remove_all(m_dir);
    }
    std::filesystem::path m_dir;
};

door::RandomSource good_random()
{
    return [](std::span<uint8_t> out) {
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = static_cast<uint8_t>(i + 3);
        return true;
    };
}

door::Door::Config loopback()
{
    door::Door::Config config;
    config.bind_address = "127.0.0.1";
    return config;
}

TEST_F(SettingsFolder, OpensOnceAndAnswersOverTheLoopback)
{
    door::Door door({}, good_random(), loopback());
    ASSERT_TRUE(door.open(0).ok());
    int port = door.bound_port();
    ASSERT_GT(port, 0);
    // A second open while running changes nothing.
    EXPECT_TRUE(door.open(port + 1).ok());
    EXPECT_EQ(door.bound_port(), port);
    EXPECT_EQ(door.token(), "DEFGHJKLMNPQ");
    EXPECT_EQ(settings::read_text("TABLET", "token", 64), "DEFGHJKLMNPQ");

    Client client(port);
    client.send("GET /ping HTTP/1.1\r\nHost: pos\r\n\r\n");
    std::string answer = client.read_all();
    EXPECT_EQ(answer.substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_NE(answer.find("\"ok\":1"), std::string::npos);

    // Closing wakes the server thread even while a client holds a connection.
    Client idle(port);
    idle.send("GET /sta");
    auto started = std::chrono::steady_clock::now();
    door.close();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    EXPECT_FALSE(door.running());
    EXPECT_EQ(door.bound_port(), 0);
}

TEST_F(SettingsFolder, WithoutARandomSourceThereIsNoTokenAndNoDoor)
{
    door::Door door({}, [](std::span<uint8_t>) { return false; }, loopback());
    auto opened = door.open(0);
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error().message, "태블릿 열쇠를 만들지 못해 문을 열지 않았습니다 — 잠시 뒤 다시 켜 주세요");
    EXPECT_FALSE(door.running());
    EXPECT_EQ(door.token(), "");
    EXPECT_EQ(settings::read_text("TABLET", "token", 64), "");
    // A stored token is used as it is; renewing needs the random source.
    ASSERT_TRUE(settings::write_profile("TABLET", "token", "Stored-Token_1"));
    EXPECT_EQ(door.token(), "Stored-Token_1");
    EXPECT_FALSE(door.renew_token().ok());
    EXPECT_EQ(door.token(), "Stored-Token_1");
}

TEST_F(SettingsFolder, AShortOrBrokenStoredTokenIsReplaced)
{
    ASSERT_TRUE(settings::write_profile("TABLET", "token", "SHORT"));
    door::Door door({}, good_random(), loopback());
    EXPECT_EQ(door.token(), "DEFGHJKLMNPQ");
    EXPECT_EQ(settings::read_text("TABLET", "token", 64), "DEFGHJKLMNPQ");
    ASSERT_TRUE(door.renew_token().ok());
}

TEST_F(SettingsFolder, APortInUseIsNamedInTheMessage)
{
    auto taken = os::net::listen_tcp("127.0.0.1", 0, 1);
    ASSERT_TRUE(taken.ok());
    int port = os::net::local_port(taken.value().get());
    door::Door door({}, good_random(), loopback());
    auto opened = door.open(port);
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error().message, "태블릿 문을 못 열었습니다 — 포트 " + std::to_string(port) + " 이 이미 쓰이고 있습니다");
    EXPECT_FALSE(door.running());

    ASSERT_TRUE(settings::write_profile("TABLET", "port", "80"));
    EXPECT_EQ(door::configured_port(), 8787);
    ASSERT_TRUE(settings::write_profile("TABLET", "port", "70000"));
    EXPECT_EQ(door::configured_port(), 8787);
    ASSERT_TRUE(settings::write_profile("TABLET", "port", "9001"));
    EXPECT_EQ(door::configured_port(), 9001);
}

// A handler that answers each connection with what it received, once it holds "!".
struct EchoHandler final : os::net::StreamHandler {
    std::optional<std::string> on_input(os::net::Peer const&, std::string_view received, os::net::Input input) override
    {
        if (input == os::net::Input::More && received.find('!') == std::string_view::npos)
            return std::nullopt;
        std::string tag = input == os::net::Input::TimedOut ? "late:" : "got:";
        return tag + std::string(received);
    }
    std::string busy_answer() override { return "busy"; }
};

TEST(StreamServer, BoundsConnectionsAndGivesEachADeadline)
{
    EchoHandler handler;
    os::net::ServerLimits limits;
    limits.max_connections = 2;
    limits.deadline_ms = 600;
    limits.evict_after_ms = 60000;
    auto started = os::net::StreamServer::start("127.0.0.1", 0, 16, limits, handler);
    ASSERT_TRUE(started.ok());
    auto& server = *started.value();

    Client a(server.port()), b(server.port());
    a.send("a");
    b.send("b");
    std::this_thread::sleep_for(100ms);
    Client c(server.port());
    c.send("c!");
    EXPECT_EQ(c.read_all(), "busy");
    // The two slow ones get their late answer at the deadline.
    EXPECT_EQ(a.read_all(), "late:a");
    EXPECT_EQ(b.read_all(), "late:b");
    Client d(server.port());
    d.send("d!");
    EXPECT_EQ(d.read_all(), "got:d!");
    auto stats = server.stats();
    EXPECT_EQ(stats.refused, 1u);
    EXPECT_EQ(stats.timed_out, 2u);
    server.stop();
}

TEST(StreamServer, AnOldSilentConnectionMakesRoomForANewOne)
{
    EchoHandler handler;
    os::net::ServerLimits limits;
    limits.max_connections = 1;
    limits.deadline_ms = 10000;
    limits.evict_after_ms = 100;
    auto started = os::net::StreamServer::start("127.0.0.1", 0, 16, limits, handler);
    ASSERT_TRUE(started.ok());
    auto& server = *started.value();
    Client slow(server.port());
    slow.send("s");
    std::this_thread::sleep_for(300ms);
    Client quick(server.port());
    quick.send("q!");
    EXPECT_EQ(quick.read_all(), "got:q!");
    EXPECT_EQ(slow.read_all(1000), "");
    EXPECT_EQ(server.stats().evicted, 1u);
}

} // namespace

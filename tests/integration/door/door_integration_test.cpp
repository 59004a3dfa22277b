// The tablet door against real clients: curl for every route and limit, a
// client in a network namespace made by the test for the private-network
// rule, and wrk with slow clients beside it for the connection model.

#include "door_client.h"

#include "os/net.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <thread>

using namespace door_test;
using namespace std::chrono_literals;

namespace {

std::string build_dir() { return std::getenv("TB_BUILD_DIR") ? std::getenv("TB_BUILD_DIR") : "."; }
std::string server_binary() { return build_dir() + "/tests/integration/door/door_test_server"; }

class DoorIntegration : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_settings = temp_dir("tb-door-int");
        ASSERT_FALSE(m_settings.empty());
        std::ofstream(m_settings + "/tillbay.ini") << "[TABLET]\r\n";
    }
    void TearDown() override { shell("rm -rf '" + m_settings + "'"); }

    Server start(std::vector<std::string> extra = {}, std::vector<std::string> prefix = {})
    {
        std::vector<std::string> argv = prefix;
        for (std::string arg : { server_binary(), std::string("--ui"), build_dir() + "/ui-bundle", std::string("--settings"), m_settings })
            argv.push_back(arg);
        argv.insert(argv.end(), extra.begin(), extra.end());
        return Server::start(argv);
    }
    std::string base(Server const& s) { return "http://127.0.0.1:" + std::to_string(s.port); }
    // curl's status line and headers, then the body.
    door_test::Run curl(std::string const& args) { return shell("curl -s -i --max-time 5 " + args + " 2>&1"); }

    std::string m_settings;
};

int status_of(std::string const& answer)
{
    std::smatch m;
    static std::regex const line("HTTP/1\\.1 (\\d{3})");
    return std::regex_search(answer, m, line) ? std::stoi(m[1]) : 0;
}

TEST_F(DoorIntegration, EveryRouteAnswersCurl)
{
    Server s = start();
    ASSERT_GT(s.port, 0) << s.output;
    std::string token = s.token;
    ASSERT_EQ(token.size(), 12u);

    auto ping = curl(base(s) + "/ping");
    EXPECT_EQ(status_of(ping.out), 200);
    EXPECT_NE(ping.out.find("{\"ok\":1,\"pos\":\"1.3.191\",\"store\":\"틸웨 분식\"}"), std::string::npos);
    EXPECT_EQ(status_of(curl(base(s) + "/choose").out), 401);

    // The pairing link sets the cookie and leads to the chooser.
    std::string jar = m_settings + "/cookies";
    auto pair = curl("-L -c " + jar + " '" + base(s) + "/pair?t=" + token + "'");
    EXPECT_NE(pair.out.find("HTTP/1.1 302 Found"), std::string::npos);
    EXPECT_NE(pair.out.find("Set-Cookie: ttk=" + token + "; Path=/; SameSite=Lax"), std::string::npos);
    EXPECT_NE(pair.out.find("주방 화면"), std::string::npos);

    auto state = curl("-b " + jar + " " + base(s) + "/state");
    EXPECT_EQ(status_of(state.out), 200);
    std::smatch etag;
    ASSERT_TRUE(std::regex_search(state.out, etag, std::regex("ETag: (\"[0-9a-f]{8}\")")));
    auto again = curl("-b " + jar + " -H 'If-None-Match: " + std::string(etag[1]) + "' " + base(s) + "/state");
    EXPECT_EQ(status_of(again.out), 304);
    EXPECT_NE(again.out.find("Content-Length: 0"), std::string::npos);

    auto kds = curl("-H 'X-Tilla-Token: " + token + "' " + base(s) + "/kds/orders");
    EXPECT_EQ(status_of(kds.out), 200);
    EXPECT_NE(kds.out.find("김치찌개"), std::string::npos);

    auto page = curl("-b " + jar + " " + base(s) + "/merchant/kds.html");
    EXPECT_EQ(status_of(page.out), 200);
    EXPECT_NE(page.out.find("<head><script>(function(){'use strict';"), std::string::npos);
    EXPECT_EQ(status_of(curl("-b " + jar + " " + base(s) + "/qrcode.js").out), 200);
    EXPECT_EQ(status_of(curl("-b " + jar + " " + base(s) + "/version.json").out), 404);
    EXPECT_EQ(status_of(curl("--path-as-is -b " + jar + " " + base(s) + "/../etc/passwd.html").out), 400);
    EXPECT_EQ(status_of(curl("--path-as-is -b " + jar + " '" + base(s) + "//etc/hostname.html'").out), 400);

    // Absolute-form target.
    auto absolute = curl("--request-target 'http://192.168.0.9:" + std::to_string(s.port) + "/state?t=" + token + "' "
        + base(s) + "/");
    EXPECT_EQ(status_of(absolute.out), 200);
    EXPECT_NE(absolute.out.find("Set-Cookie: ttk="), std::string::npos);

    // Door commands.
    auto act = curl("-H 'X-Tilla-Token: " + token + "' --data-binary 'cookstart</>7</>0' " + base(s) + "/act");
    EXPECT_EQ(status_of(act.out), 200);
    auto refused = curl("-H 'X-Tilla-Token: " + token + "' --data-binary 'cancelorder</>7' " + base(s) + "/act");
    EXPECT_EQ(status_of(refused.out), 403);
    EXPECT_NE(refused.out.find("cancelorder"), std::string::npos);
    EXPECT_EQ(status_of(curl("-X PUT -H 'X-Tilla-Token: " + token + "' " + base(s) + "/act").out), 405);
    EXPECT_EQ(status_of(curl("-X DELETE " + base(s) + "/ping").out), 200); // /ping answers any method
    EXPECT_EQ(status_of(curl("-X POST -H 'X-Tilla-Token: " + token + "' " + base(s) + "/state").out), 404);

    // The limits: a header block beyond 16 KiB, a body beyond 4 KiB.
    std::string big(17000, 'a');
    EXPECT_EQ(status_of(curl("-H 'X-Big: " + big + "' " + base(s) + "/ping").out), 400);
    std::string body_file = m_settings + "/body";
    std::ofstream(body_file) << std::string(4097, '1');
    EXPECT_EQ(status_of(curl("-H 'X-Tilla-Token: " + token + "' --data-binary @" + body_file + " " + base(s) + "/act").out), 400);

    // A body cut short by the peer is never acted on.
    std::string cut = raw_request(s.port, "POST /act HTTP/1.1\r\nX-Tilla-Token: " + token
            + "\r\nContent-Length: 40\r\n\r\nservedone</>7", true);
    EXPECT_EQ(status_of(cut), 400) << cut;
    // An https attempt gets no answer at all.
    EXPECT_EQ(raw_request(s.port, std::string("\x16\x03\x01\x00\x05hello", 10), true), "");

    std::this_thread::sleep_for(200ms);
    std::string queued = s.drain();
    EXPECT_NE(queued.find("queued cookstart</>7</>0"), std::string::npos) << queued;
    EXPECT_EQ(queued.find("servedone"), std::string::npos) << queued;
    EXPECT_EQ(queued.find("cancelorder"), std::string::npos) << queued;
}

TEST_F(DoorIntegration, BeyondTheConnectionBoundComes503)
{
    Server s = start({ "--max-connections", "4", "--evict-after-ms", "2000" });
    ASSERT_GT(s.port, 0);
    std::vector<tillbay::os::net::Fd> held;
    for (int i = 0; i < 4; ++i) {
        auto c = tillbay::os::net::connect_tcp("127.0.0.1", s.port, 2000);
        ASSERT_TRUE(c.socket.valid());
        (void)tillbay::os::net::send_all(c.socket.get(), "GET /st", 1000);
        held.push_back(std::move(c.socket));
    }
    std::this_thread::sleep_for(100ms);
    auto busy = curl(base(s) + "/ping");
    EXPECT_EQ(status_of(busy.out), 503) << busy.out;
    EXPECT_NE(busy.out.find("접속이 너무 많습니다"), std::string::npos);
    // Once the holders are older than the eviction age, a newcomer gets in.
    std::this_thread::sleep_for(2200ms);
    EXPECT_EQ(status_of(curl(base(s) + "/ping").out), 200);
}

TEST_F(DoorIntegration, APublicPeerIsRefusedFromANamespaceOfTheTestsOwn)
{
    std::string suffix = std::to_string(::getpid());
    std::string a = "tbdoora" + suffix, b = "tbdoorb" + suffix;
    if (shell("ip netns add " + a + " 2>&1").status != 0) {
        GTEST_SKIP() << "network namespaces cannot be made here (ip netns add failed)";
    }
    shell("ip netns add " + b);
    auto cleanup = [&] { shell("ip netns del " + a + " 2>/dev/null; ip netns del " + b + " 2>/dev/null"); };
    // A veth pair between the two namespaces, documentation-range addresses that exist only there.
    std::string setup = "ip link add va" + suffix + " netns " + a + " type veth peer name vb" + suffix + " netns " + b
        + " && ip -n " + a + " addr add 192.0.2.1/24 dev va" + suffix + " && ip -n " + b
        + " addr add 192.0.2.2/24 dev vb" + suffix + " && ip -n " + a + " link set va" + suffix + " up && ip -n " + b
        + " link set vb" + suffix + " up && ip -n " + a + " link set lo up && ip -n " + b + " link set lo up";
    if (shell(setup + " 2>&1").status != 0) {
        cleanup();
        GTEST_SKIP() << "the veth pair between the test's namespaces cannot be made here";
    }
    {
        Server s = start({ "--bind", "0.0.0.0", "--port", "8787" }, { "ip", "netns", "exec", a });
        ASSERT_EQ(s.port, 8787) << s.output;
        auto outside = shell("ip netns exec " + b + " curl -s -i --max-time 5 http://192.0.2.1:8787/ping?t=" + s.token);
        EXPECT_EQ(status_of(outside.out), 403) << outside.out;
        EXPECT_NE(outside.out.find("{\"ok\":0,\"why\":\"사설망 밖\"}"), std::string::npos);
        // The same door answers its own loopback.
        auto inside = shell("ip netns exec " + a + " curl -s -i --max-time 5 http://127.0.0.1:8787/ping");
        EXPECT_EQ(status_of(inside.out), 200) << inside.out;
    }
    cleanup();
}

struct WrkFigures {
    double requests_per_second = 0;
    long long requests = 0;
    long long socket_errors = 0;
    long long non_2xx_3xx = 0;
    std::string text;
};

WrkFigures wrk(std::string const& args)
{
    WrkFigures f;
    f.text = shell("wrk " + args + " 2>&1").out;
    std::smatch m;
    if (std::regex_search(f.text, m, std::regex("Requests/sec:\\s+([0-9.]+)")))
        f.requests_per_second = std::stod(m[1]);
    if (std::regex_search(f.text, m, std::regex("(\\d+) requests in")))
        f.requests = std::stoll(m[1]);
    if (std::regex_search(f.text, m, std::regex("Socket errors: connect (\\d+), read (\\d+), write (\\d+), timeout (\\d+)")))
        f.socket_errors = std::stoll(m[1]) + std::stoll(m[3]) + std::stoll(m[4]);
    if (std::regex_search(f.text, m, std::regex("Non-2xx or 3xx responses: (\\d+)")))
        f.non_2xx_3xx = std::stoll(m[1]);
    return f;
}

int threads_of(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Threads:", 0) == 0)
            return std::atoi(line.c_str() + 8);
    }
    return -1;
}

TEST_F(DoorIntegration, SixteenPollersHoldAndKeepGoingBesideTwoHundredSlowClients)
{
    if (shell("command -v wrk").status != 0)
        GTEST_SKIP() << "wrk is not installed";
    Server s = start();
    ASSERT_GT(s.port, 0);
    auto state = curl("-H 'X-Tilla-Token: " + s.token + "' " + base(s) + "/state");
    std::smatch etag;
    ASSERT_TRUE(std::regex_search(state.out, etag, std::regex("ETag: (\"[0-9a-f]{8}\")")));
    std::string args = "-t2 -c16 -d3s --timeout 2s -H 'X-Tilla-Token: " + s.token + "' -H 'If-None-Match: "
        + std::string(etag[1]) + "' " + base(s) + "/state";

    auto alone = wrk(args);
    std::cout << "16 pollers alone: " << alone.requests_per_second << " requests/s\n";
    EXPECT_GT(alone.requests, 1000) << alone.text;
    EXPECT_EQ(alone.socket_errors, 0) << alone.text;
    EXPECT_EQ(alone.non_2xx_3xx, 0) << alone.text;

    // 200 slow clients, each sending its request a byte at a time.
    std::atomic<bool> stop { false };
    std::atomic<long long> slow_bytes { 0 };
    std::thread slowloris([&] {
        std::vector<tillbay::os::net::Fd> clients;
        std::string request = "GET /state HTTP/1.1\r\nX-Slow: ";
        std::vector<size_t> sent;
        while (!stop.load()) {
            while (clients.size() < 200) {
                auto c = tillbay::os::net::connect_tcp("127.0.0.1", s.port, 1000);
                if (!c.socket.valid())
                    break;
                clients.push_back(std::move(c.socket));
                sent.push_back(0);
            }
            for (size_t i = 0; i < clients.size(); ++i) {
                char byte = request[sent[i] % request.size()];
                auto r = tillbay::os::net::send_some(clients[i].get(), std::span<char const>(&byte, 1));
                if (!r.ok() || r.value() == 0) {
                    // Dropped by the door (deadline or eviction): come back with a new connection.
                    clients.erase(clients.begin() + static_cast<long>(i));
                    sent.erase(sent.begin() + static_cast<long>(i));
                    --i;
                    continue;
                }
                ++sent[i];
                ++slow_bytes;
            }
            std::this_thread::sleep_for(100ms);
        }
    });
    std::this_thread::sleep_for(500ms);
    auto beside = wrk(args);
    int threads = threads_of(s.pid);
    stop.store(true);
    slowloris.join();
    std::cout << "16 pollers beside 200 slow clients: " << beside.requests_per_second << " requests/s, server threads "
              << threads << ", slow bytes " << slow_bytes.load() << "\n";
    EXPECT_GT(beside.requests, 1000) << beside.text;
    EXPECT_EQ(beside.non_2xx_3xx, 0) << beside.text;
    EXPECT_LE(threads, 3);
    EXPECT_GT(slow_bytes.load(), 1000);
    // Still serving afterwards.
    EXPECT_EQ(status_of(curl(base(s) + "/ping").out), 200);
}

} // namespace

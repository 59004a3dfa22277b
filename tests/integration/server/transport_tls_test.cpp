// The transport against real TLS peers: openssl s_server (one connection at a
// time, any certificate) and socat (many connections at once), with
// certificates made here by the openssl command line and trusted through
// SSL_CERT_FILE.

#include "peer.h"

#include "os/fs.h"
#include "os/net.h"
#include "server/transport.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

using namespace tillbay;
using tillbay::peers::Certificates;
using tillbay::peers::Child;
using tillbay::peers::TempDir;

namespace {

TempDir* g_dir = nullptr;
Certificates g_certs;

std::string transport_log()
{
    auto text = os::read_file(g_dir->file("appdata/TillBay/tls.log"), 1 << 20);
    return text.ok() ? text.value() : std::string {};
}

// openssl s_server answering "GET /" with its status page and closing.
struct SServer {
    Child child;
    int port = 0;
    bool start(std::string const& cert)
    {
        if (!child.start({ "openssl", "s_server", "-accept", "127.0.0.1:0", "-tls1_2", "-www", "-cert",
                g_certs.pem(cert), "-key", g_certs.key(cert) }))
            return false;
        port = peers::port_of(child.wait_for_line("ACCEPT", 10000));
        return port > 0;
    }
};

// A plain TCP server on loopback whose every connection gets the same treatment.
class PlainServer {
public:
    explicit PlainServer(std::function<void(os::net::Fd)> serve)
        : m_serve(std::move(serve))
    {
        auto listener = os::net::listen_tcp("127.0.0.1", 0, 16);
        if (listener.ok()) {
            m_listener = listener.release_value();
            m_port = os::net::local_port(m_listener.get());
            m_thread = std::thread([this] { run(); });
        }
    }
    ~PlainServer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    int port() const { return m_port; }

private:
    void run()
    {
        std::vector<std::thread> workers;
        while (!m_stop) {
            auto connection = os::net::accept_connection(m_listener.get(), 100);
            if (connection.ok())
                workers.emplace_back(m_serve, connection.release_value());
        }
        for (auto& worker : workers)
            worker.join();
    }
    std::function<void(os::net::Fd)> m_serve;
    os::net::Fd m_listener;
    int m_port = 0;
    std::atomic<bool> m_stop { false };
    std::thread m_thread;
};

class TransportTls : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        g_dir = new TempDir;
        ASSERT_TRUE(g_certs.make(g_dir->path())) << "openssl could not make the test certificates";
        ::setenv("SSL_CERT_FILE", g_certs.pem("ca").c_str(), 1);
        ::setenv("LOCALAPPDATA", g_dir->file("appdata").c_str(), 1);
        (void)os::make_dir(g_dir->file("appdata"));
        // The TLS context reads the trust store when it is made.
        transport::shutdown();
    }
    static void TearDownTestSuite()
    {
        transport::shutdown();
        os::net::set_resolver_for_testing({});
        delete g_dir;
    }
    void TearDown() override { os::net::set_resolver_for_testing({}); }

    // Connects, asks for the status page and reads it; the error text or "".
    static std::string exchange(std::string const& host, int port, std::string* answer = nullptr)
    {
        auto socket = transport::connect(host, port, 5000);
        if (!socket.ok())
            return socket.error().message;
        int fd = socket.value();
        EXPECT_TRUE(transport::send(fd, "GET / HTTP/1.0\r\n\r\n"));
        auto received = transport::receive_until_quiet(fd, 1024 * 1024, 8000);
        transport::close(fd);
        EXPECT_EQ(fd, -1);
        if (!received.ok())
            return "nothing received: " + received.error().detail;
        if (answer)
            *answer = received.value().str();
        return "";
    }
};

TEST_F(TransportTls, TrustStoreAcceptsTheTrustedServerAndCarriesAnExchange)
{
    SServer server;
    ASSERT_TRUE(server.start("leaf"));
    transport::configure(true, "", "localhost");
    std::string answer;
    EXPECT_EQ(exchange("127.0.0.1", server.port, &answer), "");
    EXPECT_EQ(answer.rfind("HTTP/1.0 200", 0), 0u) << answer.substr(0, 80);
    EXPECT_NE(transport_log().find("OK   127.0.0.1:" + std::to_string(server.port) + " sock="), std::string::npos);
    EXPECT_NE(transport_log().find("(pin=신뢰저장소)"), std::string::npos);
    EXPECT_EQ(transport::slots_in_use(), 0);
}

// Each row: the server's certificate, the fingerprint text in the settings,
// the server name, and the expected outcome ("" = connected).
struct CertificateCase {
    char const* name;
    char const* cert;
    std::function<std::string()> fingerprint;
    char const* server_name;
    std::function<std::string()> expected;
};

TEST_F(TransportTls, CertificateChecksAndPins)
{
    auto fp = [](char const* cert) { return [cert] { return g_certs.colon_fingerprint(cert); }; };
    auto none = [] { return std::string(); };
    auto text = [](std::string value) { return [value] { return value; }; };
    auto lower_pin = [](char const* cert) { return transport::normalise_pin(g_certs.colon_fingerprint(cert)); };
    CertificateCase const cases[] = {
        { "self-signed, pinned in colon upper case", "self", fp("self"), "localhost", none },
        { "self-signed, pinned in lower case", "self", [&] { return lower_pin("self"); }, "localhost", none },
        { "pin ignores the chain, expiry and name", "expired", fp("expired"), "elsewhere.example", none },
        { "self-signed without a pin", "self", none, "localhost",
            text("보안 연결 실패: 서버 인증서를 신뢰할 수 없습니다") },
        { "63 significant characters: no pin, trust store refuses", "self",
            [] { return g_certs.colon_fingerprint("self").substr(0, 94); }, "localhost",
            text("보안 연결 실패: 서버 인증서를 신뢰할 수 없습니다") },
        { "63 significant characters: no pin, trust store accepts", "leaf",
            [] { return g_certs.colon_fingerprint("self").substr(0, 94); }, "localhost", none },
        { "trusted certificate with another fingerprint", "leaf", fp("self"), "localhost",
            [&] {
                return "보안 연결 실패: 서버 인증서 지문이 다릅니다 (받은 것 " + lower_pin("leaf").substr(0, 8) + "…, ini "
                    + lower_pin("self").substr(0, 8) + "…) — 접속을 끊습니다";
            } },
        { "expired", "expired", none, "localhost", text("보안 연결 실패: 서버 인증서 기한이 지났습니다") },
        { "wrong name", "other", none, "localhost", text("보안 연결 실패: 서버 인증서 이름이 주소와 다릅니다") },
        { "IP address as the server name", "leaf", none, "127.0.0.1", none },
    };
    for (auto const& row : cases) {
        SCOPED_TRACE(row.name);
        SServer server;
        ASSERT_TRUE(server.start(row.cert));
        transport::configure(true, row.fingerprint(), row.server_name);
        EXPECT_EQ(exchange("127.0.0.1", server.port), row.expected());
        EXPECT_EQ(transport::slots_in_use(), 0);
    }
    EXPECT_NE(transport_log().find("FAIL 127.0.0.1:"), std::string::npos);
    EXPECT_NE(transport_log().find("(pin=지문)"), std::string::npos);
}

TEST_F(TransportTls, PlainServerOnTheTlsPortIsNamed)
{
    transport::configure(true, "", "localhost");
    PlainServer answers_http([](os::net::Fd fd) {
        char buffer[512];
        (void)os::net::wait(fd.get(), os::net::Direction::Read, 2000);
        (void)os::net::recv_some(fd.get(), buffer);
        (void)os::net::send_all(fd.get(), "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n", 1000);
    });
    PlainServer hangs_up([](os::net::Fd) {});
    for (int port : { answers_http.port(), hangs_up.port() }) {
        auto socket = transport::connect("127.0.0.1", port, 5000);
        ASSERT_FALSE(socket.ok());
        EXPECT_EQ(socket.error().message, "보안 연결 실패: TLS 핸드셰이크 중 끊김 — 서버가 TLS 포트가 아닐 수 있습니다");
    }
    // A server that takes the connection and never answers the hello.
    std::atomic<bool> release { false };
    PlainServer mute([&](os::net::Fd) {
        while (!release)
            ::usleep(10'000);
    });
    auto socket = transport::connect("127.0.0.1", mute.port(), 5000);
    release = true;
    ASSERT_FALSE(socket.ok());
    EXPECT_EQ(socket.error().message, "보안 연결 실패: TLS 핸드셰이크 응답 없음");
    EXPECT_EQ(transport::slots_in_use(), 0);
}

TEST_F(TransportTls, EveryResolvedAddressIsTriedInTurn)
{
    SServer server;
    ASSERT_TRUE(server.start("leaf"));
    transport::configure(true, "", "localhost");

    // "localhost" gives ::1 and 127.0.0.1; the server listens only on the latter.
    EXPECT_EQ(exchange("localhost", server.port), "");

    // An address nobody can reach first, then the server.
    os::net::set_resolver_for_testing([](std::string_view host, int port) -> Result<std::vector<os::net::Address>> {
        if (host != "pos.test")
            return Error::from_detail("unknown");
        return std::vector<os::net::Address> { *os::net::numeric_address("100::1", port),
            *os::net::numeric_address("127.0.0.1", port) };
    });
    EXPECT_EQ(exchange("pos.test", server.port), "");

    // Neither address answers: the message counts both.
    int closed_port = peers::free_port();
    auto refused = transport::connect("pos.test", closed_port, 1000);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().message, "연결 실패 (pos.test:" + std::to_string(closed_port) + ", 주소 2개 시도)");

    auto unknown = transport::connect("nowhere.test", 443, 1000);
    ASSERT_FALSE(unknown.ok());
    EXPECT_EQ(unknown.error().message, "주소를 찾을 수 없습니다 (nowhere.test)");

    for (auto [host, port] : { std::pair<char const*, int> { "", 443 }, { "127.0.0.1", 0 }, { "127.0.0.1", 65536 } }) {
        auto bad = transport::connect(host, port, 1000);
        ASSERT_FALSE(bad.ok());
        EXPECT_EQ(bad.error().message, "주소나 포트가 비어 있습니다");
    }
}

TEST_F(TransportTls, EightConnectionsAtOnceAndTheNinthIsRefused)
{
    int port = peers::free_port();
    Child socat;
    ASSERT_TRUE(socat.start({ "socat",
        "OPENSSL-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr,fork,verify=0,cert="
            + g_certs.pem("leaf") + ",key=" + g_certs.key("leaf"),
        "SYSTEM:cat" }));
    transport::configure(true, "", "localhost");
    std::vector<int> sockets;
    for (int attempt = 0; attempt < 50 && sockets.empty(); ++attempt) {
        auto first = transport::connect("127.0.0.1", port, 2000);
        if (first.ok())
            sockets.push_back(first.value());
        else
            ::usleep(100'000); // socat is still starting
    }
    ASSERT_EQ(sockets.size(), 1u);
    while (sockets.size() < 8) {
        auto socket = transport::connect("127.0.0.1", port, 5000);
        ASSERT_TRUE(socket.ok()) << socket.error().message;
        sockets.push_back(socket.value());
    }
    EXPECT_EQ(transport::slots_in_use(), 8);

    auto ninth = transport::connect("127.0.0.1", port, 5000);
    ASSERT_FALSE(ninth.ok());
    EXPECT_EQ(ninth.error().message, "TLS 연결이 너무 많습니다");
    EXPECT_NE(transport_log().find("FAIL 127.0.0.1:" + std::to_string(port) + " 슬롯 없음"), std::string::npos);

    // Every connection still carries its own data: socat echoes it back.
    for (size_t i = 0; i < sockets.size(); ++i) {
        std::string line = "line " + std::to_string(i) + "\n";
        ASSERT_TRUE(transport::send(sockets[i], line));
        std::array<char, 64> buffer;
        auto n = transport::receive_available(sockets[i], buffer, 3000);
        ASSERT_TRUE(n.ok()) << n.error().detail;
        EXPECT_EQ(std::string(buffer.data(), n.value()), line);
    }

    transport::close(sockets.back());
    sockets.pop_back();
    auto again = transport::connect("127.0.0.1", port, 5000);
    ASSERT_TRUE(again.ok()) << again.error().message;
    sockets.push_back(again.value());
    for (int& socket : sockets)
        transport::close(socket);
    EXPECT_EQ(transport::slots_in_use(), 0);
}

TEST_F(TransportTls, PlainModeUsesNoSlotAndLogsPlain)
{
    transport::configure(false, "", "localhost");
    PlainServer echo([](os::net::Fd fd) {
        char buffer[256];
        while (os::net::wait(fd.get(), os::net::Direction::Read, 3000) == os::net::Ready::Yes) {
            auto got = os::net::recv_some(fd.get(), buffer);
            if (!got.ok() || got.value() == 0)
                return;
            (void)os::net::send_all(fd.get(), std::string_view(buffer, got.value()), 1000);
        }
    });
    std::vector<int> sockets;
    for (int i = 0; i < 9; ++i) {
        auto socket = transport::connect("127.0.0.1", echo.port(), 5000);
        ASSERT_TRUE(socket.ok()) << socket.error().message;
        sockets.push_back(socket.value());
    }
    EXPECT_EQ(transport::slots_in_use(), 0);
    ASSERT_TRUE(transport::send(sockets[8], "ping"));
    std::array<char, 16> buffer;
    auto got = transport::receive_available(sockets[8], buffer, 3000);
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(std::string(buffer.data(), got.value()), "ping");
    // Nothing more comes: the wait runs out and says so.
    auto nothing = transport::receive_available(sockets[8], buffer, 100);
    ASSERT_FALSE(nothing.ok());
    EXPECT_EQ(nothing.error().code, static_cast<int>(transport::ReceiveFailure::TimedOut));
    for (int& socket : sockets)
        transport::close(socket);
    EXPECT_NE(transport_log().find("PLAIN 127.0.0.1:" + std::to_string(echo.port()) + " (tls=0)"), std::string::npos);
}

TEST_F(TransportTls, LaterConnectionsResumeTheSession)
{
    SServer server;
    ASSERT_TRUE(server.start("leaf"));
    for (bool resume : { true, false }) {
        SCOPED_TRACE(resume ? "resumption on" : "resumption off");
        transport::configure(true, "", "localhost");
        transport::set_session_resumption(resume);
        std::vector<bool> resumed;
        for (int i = 0; i < 3; ++i) {
            auto socket = transport::connect("127.0.0.1", server.port, 5000);
            ASSERT_TRUE(socket.ok()) << socket.error().message;
            int fd = socket.value();
            resumed.push_back(transport::session_resumed(fd));
            ASSERT_TRUE(transport::send(fd, "GET / HTTP/1.0\r\n\r\n"));
            EXPECT_TRUE(transport::receive_until_quiet(fd, 1024 * 1024, 8000).ok());
            transport::close(fd);
        }
        EXPECT_EQ(resumed, (std::vector<bool> { false, resume, resume }));
    }
    transport::set_session_resumption(true);
}

TEST_F(TransportTls, SilentServerTimesOutAndAClosedConnectionReadsNothing)
{
    transport::configure(false, "", "localhost");
    std::atomic<bool> release { false };
    PlainServer silent([&](os::net::Fd) {
        while (!release)
            ::usleep(10'000);
    });
    auto socket = transport::connect("127.0.0.1", silent.port(), 5000);
    ASSERT_TRUE(socket.ok());
    int fd = socket.value();
    auto quiet = transport::receive_until_quiet(fd, 1024, 200);
    ASSERT_FALSE(quiet.ok());
    EXPECT_EQ(quiet.error().code, static_cast<int>(transport::ReceiveFailure::TimedOut));
    release = true;
    ::usleep(50'000);
    auto closed = transport::receive_until_quiet(fd, 1024, 2000);
    ASSERT_FALSE(closed.ok());
    EXPECT_EQ(closed.error().code, static_cast<int>(transport::ReceiveFailure::Closed));
    transport::close(fd);
    transport::close(fd); // safe on -1
}

} // namespace

// The web-host request against the reference platform's web host: methods,
// bodies and multipart forms arrive as sent, with the program's own headers
// and no proxy; answers of any status come back; the size cap and the
// timeouts fail as errors of their own kind; TLS is verified.

#include "tests/integration/update/process.h"
#include "tests/unit/update/fixture.h"

#include "os/crypto.h"
#include "shell/web_host.h"

#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <sys/socket.h>

#ifdef PLATFORM

using namespace tillbay;
using namespace tillbay::test;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;
namespace http = os::http;

namespace {

class WebHost {
public:
    explicit WebHost(bool tls)
    {
        std::vector<std::string> argv { PLATFORM, "serve", "--data", m_dir / "data", "--web-port", "0", "--api-port",
            "0", "--relay-port", "0", "--control-port", "0", "--plain" };
        if (tls)
            argv.push_back("--web-tls");
        m_process = std::make_unique<Child>(argv);
        if (!m_process->wait_for("ready"))
            return;
        std::smatch match;
        auto const& out = m_process->output();
        if (std::regex_search(out, match, std::regex("web 127\\.0\\.0\\.1:([0-9]+)")))
            m_port = std::stoi(match[1].str());
        if (std::regex_search(out, match, std::regex("control 127\\.0\\.0\\.1:([0-9]+)")))
            m_control = std::stoi(match[1].str());
        m_web_host = std::string(tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_port);
    }
    bool ready() const { return m_port > 0 && m_control > 0; }
    std::string const& web_host() const { return m_web_host; }
    std::string cert() const { return m_dir / "data/cert.pem"; }
    std::string output() const { return m_process->output(); }
    void fault(std::string const& body)
    {
        run({ "/usr/bin/curl", "-s", "--noproxy", "*", "-XPOST", "-d", body, "http://127.0.0.1:" + std::to_string(m_control) + "/control/faults" });
    }

private:
    TempDir m_dir;
    std::unique_ptr<Child> m_process;
    int m_port = 0;
    int m_control = 0;
    std::string m_web_host;
};

Result<http::Response> send(std::string const& web_host, http::Request request)
{
    return shell::web_host_request(web_host, std::move(request));
}

http::Request get(std::string path)
{
    http::Request request;
    request.path = std::move(path);
    return request;
}

class PlainWebHost : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A proxy in the environment must be ignored: it does not exist.
        ::setenv("http_proxy", "http://127.0.0.1:9", 1);
        ::setenv("HTTP_PROXY", "http://127.0.0.1:9", 1);
        ASSERT_TRUE(m_host.ready()) << m_host.output();
    }
    WebHost m_host { false };
};

TEST_F(PlainWebHost, GetPostAndHeadArriveAsSentWithTheProgramsHeaders)
{
    auto answer = send(m_host.web_host(), get("/v2/merchant/x_api.php?x=1&y=%ED%95%9C"));
    ASSERT_TRUE(answer.ok()) << answer.error().detail;
    EXPECT_EQ(answer.value().status, 200);
    EXPECT_EQ(answer.value().content_type, "application/json; charset=utf-8");
    auto echo = Json::parse(answer.value().body);
    EXPECT_EQ(echo["method"], "GET");
    EXPECT_EQ(echo["target"], "/v2/merchant/x_api.php?x=1&y=%ED%95%9C");
    EXPECT_EQ(echo["requestedWith"], "TillBay");
    EXPECT_EQ(echo["userAgent"], "TillBay/1.0");

    http::Request post = get("/v2/merchant/x_api.php");
    post.method = http::Method::Post;
    post.content_type = "application/x-www-form-urlencoded; charset=UTF-8";
    post.body = "a=1&b=%EA%B0%80";
    answer = send(m_host.web_host(), post);
    ASSERT_TRUE(answer.ok()) << answer.error().detail;
    echo = Json::parse(answer.value().body);
    EXPECT_EQ(echo["method"], "POST");
    EXPECT_EQ(echo["contentType"], post.content_type);
    EXPECT_EQ(echo["body"], post.body);

    // A body of 3 MiB with bytes of every value arrives whole, without an
    // "Expect: 100-continue" pause.
    std::string big(3 * 1024 * 1024, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 131 + 7);
    post.content_type = "application/octet-stream";
    post.body = big;
    auto started = Clock::now();
    answer = send(m_host.web_host(), post);
    ASSERT_TRUE(answer.ok()) << answer.error().detail;
    EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(900));
    echo = Json::parse(answer.value().body);
    EXPECT_EQ(echo["bodyLength"], big.size());
    EXPECT_EQ(echo["bodySha256"], os::to_hex(os::sha256(big)));

    http::Request head = get("/v2/shared/blob.php?size=5000");
    head.method = http::Method::Head;
    head.max_bytes = 100; // the declared length of a HEAD answer is no body
    answer = send(m_host.web_host(), head);
    ASSERT_TRUE(answer.ok()) << answer.error().detail;
    EXPECT_EQ(answer.value().status, 200);
    EXPECT_EQ(answer.value().content_type, "text/plain; charset=utf-8");
    EXPECT_EQ(answer.value().body, "");
}

TEST_F(PlainWebHost, AnswersOfAnyStatusComeBackAndRedirectsAreNotFollowed)
{
    for (int status : { 201, 302, 404, 500, 503 }) {
        auto answer = send(m_host.web_host(), get("/v2/shared/blob.php?size=3&status=" + std::to_string(status)));
        ASSERT_TRUE(answer.ok()) << status << " " << answer.error().detail;
        EXPECT_EQ(answer.value().status, status);
        EXPECT_EQ(answer.value().body, "xxx");
    }
}

TEST_F(PlainWebHost, MultipartFormsArriveWithTheirFileParts)
{
    http::Request form = get("/v2/shared/form_echo.php");
    form.method = http::Method::Post;
    std::string photo(200 * 1024, '\0');
    for (size_t i = 0; i < photo.size(); ++i)
        photo[i] = static_cast<char>(i % 251);
    form.parts = {
        { "storeidx", "", "", "7" },
        { "photo", "가게 사진.jpg", "image/jpeg", photo },
        { "memo", "", "text/plain; charset=utf-8", "\r\n--not-a-boundary\r\n" },
    };
    auto answer = send(m_host.web_host(), form);
    ASSERT_TRUE(answer.ok()) << answer.error().detail;
    ASSERT_EQ(answer.value().status, 200) << answer.value().body;
    auto parts = Json::parse(answer.value().body)["parts"];
    ASSERT_EQ(parts.size(), 3u) << answer.value().body;
    EXPECT_EQ(parts[0]["name"], "storeidx");
    EXPECT_EQ(parts[0]["size"], 1);
    EXPECT_EQ(parts[1]["name"], "photo");
    EXPECT_EQ(parts[1]["filename"], "가게 사진.jpg");
    EXPECT_EQ(parts[1]["type"], "image/jpeg");
    EXPECT_EQ(parts[1]["size"], photo.size());
    EXPECT_EQ(parts[1]["sha256"], os::to_hex(os::sha256(photo)));
    EXPECT_EQ(parts[2]["size"], 20);
}

TEST_F(PlainWebHost, AnAnswerOverTheCapIsAnErrorNeverACutAnswer)
{
    http::Request request = get("/v2/shared/blob.php?size=1000");
    request.max_bytes = 1000;
    auto answer = send(m_host.web_host(), request);
    ASSERT_TRUE(answer.ok()) << answer.error().detail;
    EXPECT_EQ(answer.value().body.size(), 1000u);

    request.path = "/v2/shared/blob.php?size=1001";
    answer = send(m_host.web_host(), request);
    ASSERT_FALSE(answer.ok());
    EXPECT_EQ(http::failure_of(answer.error()), http::Failure::TooLarge);
    EXPECT_EQ(answer.error().message, http::text::too_large);

    request.path = "/v2/shared/blob.php?size=9000000";
    request.max_bytes = 8 * 1024 * 1024;
    answer = send(m_host.web_host(), request);
    ASSERT_FALSE(answer.ok());
    EXPECT_EQ(http::failure_of(answer.error()), http::Failure::TooLarge);
}

TEST_F(PlainWebHost, ASilentHostTimesOutAndAClosedPortFailsToConnect)
{
    m_host.fault(R"({"listener":"web","kind":"silent","count":1})");
    http::Request request = get("/v2/merchant/x_api.php");
    request.timeout_ms = 1500;
    auto started = Clock::now();
    auto answer = send(m_host.web_host(), request);
    auto took = Clock::now() - started;
    ASSERT_FALSE(answer.ok());
    EXPECT_EQ(http::failure_of(answer.error()), http::Failure::Timeout) << answer.error().detail;
    EXPECT_EQ(answer.error().message, http::text::timed_out);
    EXPECT_GE(took, std::chrono::milliseconds(1400));
    EXPECT_LT(took, std::chrono::milliseconds(4000));

    // A late answer that still comes within the time is an answer.
    m_host.fault(R"({"listener":"web","kind":"late","count":1,"delayMs":700})");
    answer = send(m_host.web_host(), request);
    ASSERT_TRUE(answer.ok()) << answer.error().detail;

    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    int closed_port = ntohs(address.sin_port);
    ::close(fd); // bound, never listened, now free: nothing answers there
    answer = send("http://127.0.0.1:" + std::to_string(closed_port), request);
    ASSERT_FALSE(answer.ok());
    EXPECT_EQ(http::failure_of(answer.error()), http::Failure::Connect);
    EXPECT_EQ(answer.error().message, http::text::connect_failed);
}

TEST(SecureWebHost, IsReachedOverVerifiedTlsOnly)
{
    WebHost host(true);
    ASSERT_TRUE(host.ready()) << host.output();
    ::setenv("SSL_CERT_FILE", host.cert().c_str(), 1);
    auto answer = send(host.web_host(), get("/v2/merchant/x_api.php?tls=1"));
    ASSERT_TRUE(answer.ok()) << answer.error().detail;
    EXPECT_EQ(Json::parse(answer.value().body)["query"], "tls=1");

    http::Request form = get("/v2/shared/form_echo.php");
    form.method = http::Method::Post;
    form.parts = { { "photo", "a.jpg", "image/jpeg", std::string(70000, 'p') } };
    answer = send(host.web_host(), form);
    ASSERT_TRUE(answer.ok()) << answer.error().detail;
    EXPECT_EQ(Json::parse(answer.value().body)["parts"][0]["size"], 70000);

    // The platform's own certificate is not trusted without it.
    TempDir other;
    write(other / "empty.pem", "");
    ::setenv("SSL_CERT_FILE", (other / "empty.pem").c_str(), 1);
    answer = send(host.web_host(), get("/v2/merchant/x_api.php"));
    ::unsetenv("SSL_CERT_FILE");
    ASSERT_FALSE(answer.ok());
    EXPECT_EQ(http::failure_of(answer.error()), http::Failure::Transfer) << answer.error().detail;

    // Plain HTTP to the TLS port gets no answer it could take for one.
    answer = send("http://127.0.0.1:" + host.web_host().substr(host.web_host().rfind(':') + 1), get("/v2/merchant/x_api.php"));
    EXPECT_FALSE(answer.ok() && answer.value().status == 200);
}

} // namespace

#endif

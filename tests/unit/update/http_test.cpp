#include "os/http.h"
#include "update/web_host.h"

#include <gtest/gtest.h>

using namespace tillbay;
using namespace tillbay::os::http;

TEST(WebHost, PlainHttpOnlyForPrivateHosts)
{
    struct Case {
        char const* host;
        bool allowed;
    } cases[] = {
        { "https://pos.example.com", true },
        { "HTTPS://pos.example.com/x", true },
        { "http://localhost:8080", true },
        { "localhost", true },
        { "http://127.0.0.1:1234", true },
        { "10.0.0.5", true },
        { "http://192.168.1.20/", true },
        { "http://172.16.0.1", true },
        { "http://172.31.255.255", true },
        { "http://172.15.0.1", false },
        { "http://172.32.0.1", false },
        { "http://192.169.0.1", false },
        { "http://8.8.8.8", false },
        { "http://pos.example.com", false },
        { "http://10.1.example.com", false },
        { "http://127.0.0.1.example.com", false },
        { "http://localhost.example.com", false },
        { "http://10.0.0", false },
        { "http://10.0.0.256", false },
        { "", false },
        { "https://", false },
    };
    for (auto const& c : cases)
        EXPECT_EQ(update::web_host_endpoint(c.host).has_value(), c.allowed) << c.host;
}

TEST(WebHost, EndpointFromHostText)
{
    auto e = endpoint_from_host_text("https://h.example:8443/base", Security::Secure);
    EXPECT_EQ(e.host, "h.example");
    EXPECT_EQ(e.port, 8443);
    e = endpoint_from_host_text("h.example", Security::Secure);
    EXPECT_EQ(e.port, 443);
    e = endpoint_from_host_text("http://h.example:0", Security::Plain);
    EXPECT_EQ(e.host, "h.example");
    EXPECT_EQ(e.port, 80) << "a port outside 1..65535 gives the default";
    e = endpoint_from_host_text("h:65536", Security::Plain);
    EXPECT_EQ(e.port, 80);
    e = endpoint_from_host_text("h:x1", Security::Plain);
    EXPECT_EQ(e.port, 80);
}

TEST(Downloader, ClosedPortAndBadAddressGiveTheirTexts)
{
    // Port 9 on loopback: nothing listens there on a test machine.
    auto refused = get({ "127.0.0.1", 9, Security::Plain }, "/v2/pos/version.json");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().message, text::connect_failed);
    auto bad = get({ "127.0.0.1", 9, Security::Plain }, "/with space");
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().message, text::request_failed);
    EXPECT_TRUE(tls12_available());
}

// The socket helpers the transport, the push channel, the network printers
// and the tablet door share, on loopback.

#include "os/net.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

using namespace tillbay;

namespace {

TEST(Net, SendAllStopsAtItsDeadlineWithTheTimeoutCode)
{
    auto listener = os::net::listen_tcp("127.0.0.1", 0, 1);
    ASSERT_TRUE(listener.ok());
    auto client = os::net::connect_tcp("127.0.0.1", os::net::local_port(listener.value().get()), 1000);
    ASSERT_TRUE(client.socket.valid());
    auto server = os::net::accept_connection(listener.value().get(), 1000);
    ASSERT_TRUE(server.ok());
    // The peer never reads: the kernel buffers fill and the deadline passes.
    std::string const big(32 << 20, 'x');
    auto outcome = os::net::send_all(client.socket.get(), big, 300);
    EXPECT_EQ(outcome.code, os::net::code_timeout);
    EXPECT_GT(outcome.sent, 0u);
    EXPECT_LT(outcome.sent, big.size());

    // Once the peer is gone, a send ends with the reset code, never SIGPIPE.
    server.value().reset();
    int code = 0;
    for (int i = 0; i < 20 && code == 0; ++i)
        code = os::net::send_all(client.socket.get(), "more", 300).code;
    EXPECT_EQ(code, os::net::code_reset);
}

TEST(Net, ConnectCountsTheAddressesAndAcceptWaits)
{
    auto nobody = os::net::listen_tcp("127.0.0.1", 0, 1);
    ASSERT_TRUE(nobody.ok());
    int port = os::net::local_port(nobody.value().get());
    nobody.value().reset(); // nobody listens there any more
    auto refused = os::net::connect_tcp("127.0.0.1", port, 1000);
    EXPECT_TRUE(refused.resolved);
    EXPECT_FALSE(refused.socket.valid());
    EXPECT_EQ(refused.addresses_tried, 1);
    EXPECT_EQ(os::net::program_code(refused.last_error), os::net::code_refused);

    auto unknown = os::net::connect_tcp("no-such-host.invalid", 80, 1000);
    EXPECT_FALSE(unknown.resolved);
    EXPECT_EQ(unknown.addresses_tried, 0);

    auto listener = os::net::listen_tcp("127.0.0.1", 0, 1);
    ASSERT_TRUE(listener.ok());
    auto nothing = os::net::accept_connection(listener.value().get(), 50);
    ASSERT_FALSE(nothing.ok());
    EXPECT_EQ(nothing.error().code, ETIMEDOUT);

    EXPECT_EQ(os::net::to_text(*os::net::numeric_address("::1", 8787)), "[::1]:8787");
    EXPECT_EQ(os::net::to_text(*os::net::numeric_address("10.0.0.5", 9100)), "10.0.0.5:9100");
    EXPECT_FALSE(os::net::numeric_address("pos.local", 1).has_value());
}

} // namespace

#pragma once

// TCP sockets for everything that talks over the network: the API transport,
// the order push channel, the network printers and the tablet door. Thin
// wrappers over the system calls that keep errno in the error's code, plus
// the few loops every caller would otherwise write again (connect with a
// time-out over every resolved address, send everything before a deadline,
// wait for readability).
//
// Messages that show an error code keep the numbers users and support staff
// know from the program's earlier platform: 10060 for a time-out, 10054 for a
// connection reset by the peer, 258 for a write that did not finish in time.

#include "base/result.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tillbay::os::net {

inline constexpr int code_timeout = 10060;
inline constexpr int code_reset = 10054;
inline constexpr int code_refused = 10061;
inline constexpr int code_write_timeout = 258;

// The program's number for an errno value: the three above for time-outs,
// resets and refusals, the errno value itself for everything else.
int program_code(int errno_value);

// An owned file descriptor, closed when it goes.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd)
        : m_fd(fd)
    {
    }
    Fd(Fd&& other) noexcept
        : m_fd(other.release())
    {
    }
    Fd& operator=(Fd&& other) noexcept;
    Fd(Fd const&) = delete;
    Fd& operator=(Fd const&) = delete;
    ~Fd() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release()
    {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

// One resolved socket address, kept as bytes so that callers need no system header.
struct Address {
    std::array<uint8_t, 128> storage {};
    uint32_t length = 0;
    int family = 0;
};

// "127.0.0.1:9000" or "[::1]:9000".
std::string to_text(Address const& address);
// A numeric IPv4 or IPv6 address with a port; nothing for anything else.
std::optional<Address> numeric_address(std::string_view ip, int port);
bool is_ip_literal(std::string_view host);

// Every address of host and port, in the resolver's order (any family, TCP).
// The error's code is the getaddrinfo code.
Result<std::vector<Address>> resolve(std::string_view host, int port);

// Tests put a resolver of their own in front of the system's, to give a name
// addresses no hosts file has. An empty function restores getaddrinfo.
using Resolver = std::function<Result<std::vector<Address>>(std::string_view host, int port)>;
void set_resolver_for_testing(Resolver resolver);

struct ConnectOutcome {
    Fd socket;              // valid on success, non-blocking
    bool resolved = false;  // false: the name gave no address
    int addresses_tried = 0;
    int last_error = 0;     // errno of the last failed attempt
};

// Resolves host and tries each address in turn: a non-blocking connect that
// is waited for up to timeout_ms and must end with SO_ERROR 0. The first
// address that connects wins; the socket stays non-blocking.
ConnectOutcome connect_tcp(std::string_view host, int port, int timeout_ms);

Status set_nonblocking(int fd, bool on);
Status set_no_delay(int fd);

enum class Direction {
    Read,
    Write,
};
enum class Ready {
    Yes,
    TimedOut,
    Failed, // poll failed, or the socket reports an error or hang-up with nothing to read
};
// Waits up to timeout_ms (0: just look) for the socket to become readable or writable.
Ready wait(int fd, Direction direction, int timeout_ms);

// One recv or send, errno kept in the error code (EAGAIN included). A recv
// that returns 0 bytes means the peer closed its side. Sends never raise SIGPIPE.
Result<size_t> recv_some(int fd, std::span<char> buffer);
Result<size_t> send_some(int fd, std::span<char const> bytes);

struct SendOutcome {
    size_t sent = 0;
    int code = 0; // 0 on success, else the program's code (10060 deadline, 10054 reset, errno)
    bool ok() const { return code == 0; }
};
// Sends every byte before the deadline, waiting for writability whenever the
// socket would block. Works on blocking and non-blocking sockets alike.
SendOutcome send_all(int fd, std::string_view bytes, int timeout_ms);

// Shuts the socket down both ways and closes it; sets fd to -1. Safe on -1.
void shutdown_and_close(int& fd);
// Shuts the socket down both ways without closing it: a wait on it in another
// thread ends at once, and the descriptor stays that thread's to close.
void shutdown_both(int fd);

// A listening TCP socket on the given address ("" or "0.0.0.0" for every
// IPv4 address, "127.0.0.1" for loopback only); port 0 picks a free port.
Result<Fd> listen_tcp(std::string_view bind_address, int port, int backlog);
// Accepts one connection, waiting up to timeout_ms (negative: forever).
// The error code is errno, or ETIMEDOUT when nobody came in time.
Result<Fd> accept_connection(int listener, int timeout_ms);
// The port a socket is bound to, or 0.
int local_port(int fd);

} // namespace tillbay::os::net

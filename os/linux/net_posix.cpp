#include "os/net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tillbay::os::net {

namespace {

std::mutex g_resolver_lock;
Resolver g_resolver;

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

Error errno_error(char const* what, int saved)
{
    return Error::from_detail(std::string(what) + ": " + std::strerror(saved), saved);
}

} // namespace

int program_code(int errno_value)
{
    switch (errno_value) {
    case ETIMEDOUT:
        return code_timeout;
    case ECONNRESET:
    case EPIPE:
    case ECONNABORTED:
        return code_reset;
    case ECONNREFUSED:
        return code_refused;
    default:
        return errno_value;
    }
}

Fd& Fd::operator=(Fd&& other) noexcept
{
    if (this != &other)
        reset(other.release());
    return *this;
}

void Fd::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

std::string to_text(Address const& address)
{
    char host[INET6_ADDRSTRLEN] = {};
    auto const* sa = reinterpret_cast<sockaddr const*>(address.storage.data());
    if (address.family == AF_INET6) {
        auto const* in6 = reinterpret_cast<sockaddr_in6 const*>(sa);
        inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
        return "[" + std::string(host) + "]:" + std::to_string(ntohs(in6->sin6_port));
    }
    if (address.family == AF_INET) {
        auto const* in4 = reinterpret_cast<sockaddr_in const*>(sa);
        inet_ntop(AF_INET, &in4->sin_addr, host, sizeof host);
        return std::string(host) + ":" + std::to_string(ntohs(in4->sin_port));
    }
    return "?";
}

std::optional<Address> numeric_address(std::string_view ip, int port)
{
    std::string text(ip);
    Address address;
    sockaddr_in in4 {};
    sockaddr_in6 in6 {};
    if (inet_pton(AF_INET, text.c_str(), &in4.sin_addr) == 1) {
        in4.sin_family = AF_INET;
        in4.sin_port = htons(static_cast<uint16_t>(port));
        std::memcpy(address.storage.data(), &in4, sizeof in4);
        address.length = sizeof in4;
        address.family = AF_INET;
        return address;
    }
    if (inet_pton(AF_INET6, text.c_str(), &in6.sin6_addr) == 1) {
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(static_cast<uint16_t>(port));
        std::memcpy(address.storage.data(), &in6, sizeof in6);
        address.length = sizeof in6;
        address.family = AF_INET6;
        return address;
    }
    return std::nullopt;
}

bool is_ip_literal(std::string_view host) { return numeric_address(host, 0).has_value(); }

void set_resolver_for_testing(Resolver resolver)
{
    std::lock_guard guard(g_resolver_lock);
    g_resolver = std::move(resolver);
}

Result<std::vector<Address>> resolve(std::string_view host, int port)
{
    {
        std::unique_lock guard(g_resolver_lock);
        if (g_resolver) {
            auto resolver = g_resolver;
            guard.unlock();
            return resolver(host, port);
        }
    }
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* list = nullptr;
    std::string name(host);
    std::string service = std::to_string(port);
    int rc = getaddrinfo(name.c_str(), service.c_str(), &hints, &list);
    if (rc != 0 || !list) {
        if (list)
            freeaddrinfo(list);
        return Error::from_detail(std::string("getaddrinfo: ") + gai_strerror(rc), rc);
    }
    std::vector<Address> addresses;
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_addrlen > sizeof(Address::storage))
            continue;
        Address address;
        std::memcpy(address.storage.data(), ai->ai_addr, ai->ai_addrlen);
        address.length = static_cast<uint32_t>(ai->ai_addrlen);
        address.family = ai->ai_family;
        addresses.push_back(address);
    }
    freeaddrinfo(list);
    if (addresses.empty())
        return Error::from_detail("getaddrinfo: no usable address", EAI_NONAME);
    return addresses;
}

ConnectOutcome connect_tcp(std::string_view host, int port, int timeout_ms)
{
    ConnectOutcome outcome;
    auto addresses = resolve(host, port);
    if (!addresses.ok())
        return outcome;
    outcome.resolved = true;
    for (Address const& address : addresses.value()) {
        ++outcome.addresses_tried;
        Fd fd(::socket(address.family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP));
        if (!fd.valid()) {
            outcome.last_error = errno;
            continue;
        }
        auto const* sa = reinterpret_cast<sockaddr const*>(address.storage.data());
        int rc;
        do {
            rc = ::connect(fd.get(), sa, static_cast<socklen_t>(address.length));
        } while (rc != 0 && errno == EINTR);
        if (rc == 0) {
            outcome.socket = std::move(fd);
            return outcome;
        }
        if (errno != EINPROGRESS) {
            outcome.last_error = errno;
            continue;
        }
        // The connect is pending: it has succeeded when the socket becomes
        // writable and reports no pending error.
        pollfd p { fd.get(), POLLOUT, 0 };
        auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        int ready;
        do {
            ready = ::poll(&p, 1, remaining_ms(deadline));
        } while (ready < 0 && errno == EINTR);
        if (ready <= 0) {
            outcome.last_error = ready == 0 ? ETIMEDOUT : errno;
            continue;
        }
        int pending = 0;
        socklen_t length = sizeof pending;
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &pending, &length) != 0 || pending != 0) {
            outcome.last_error = pending ? pending : errno;
            continue;
        }
        outcome.socket = std::move(fd);
        return outcome;
    }
    return outcome;
}

Status set_nonblocking(int fd, bool on)
{
    int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0)
        return errno_error("fcntl(F_GETFL)", errno);
    flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (::fcntl(fd, F_SETFL, flags) != 0)
        return errno_error("fcntl(F_SETFL)", errno);
    return {};
}

Status set_no_delay(int fd)
{
    int one = 1;
    if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0)
        return errno_error("setsockopt(TCP_NODELAY)", errno);
    return {};
}

Ready wait(int fd, Direction direction, int timeout_ms)
{
    pollfd p { fd, static_cast<short>(direction == Direction::Read ? POLLIN : POLLOUT), 0 };
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms > 0 ? timeout_ms : 0);
    for (;;) {
        int rc = ::poll(&p, 1, remaining_ms(deadline));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc < 0)
            return Ready::Failed;
        if (rc == 0)
            return Ready::TimedOut;
        // A hang-up with data still queued is readable: the reader sees the
        // data first and the end afterwards.
        if (p.revents & p.events)
            return Ready::Yes;
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL))
            return direction == Direction::Read && (p.revents & POLLHUP) ? Ready::Yes : Ready::Failed;
        return Ready::Yes;
    }
}

Result<size_t> recv_some(int fd, std::span<char> buffer)
{
    for (;;) {
        ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n >= 0)
            return static_cast<size_t>(n);
        if (errno == EINTR)
            continue;
        return errno_error("recv", errno);
    }
}

Result<size_t> send_some(int fd, std::span<char const> bytes)
{
    for (;;) {
        ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n >= 0)
            return static_cast<size_t>(n);
        if (errno == EINTR)
            continue;
        return errno_error("send", errno);
    }
}

SendOutcome send_all(int fd, std::string_view bytes, int timeout_ms)
{
    SendOutcome outcome;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (outcome.sent < bytes.size()) {
        auto rest = bytes.substr(outcome.sent);
        auto sent = send_some(fd, std::span<char const>(rest.data(), rest.size()));
        if (sent.ok()) {
            if (sent.value() == 0) {
                outcome.code = code_reset;
                return outcome;
            }
            outcome.sent += sent.value();
            continue;
        }
        int error = sent.error().code;
        if (error != EAGAIN && error != EWOULDBLOCK) {
            outcome.code = program_code(error);
            return outcome;
        }
        int left = remaining_ms(deadline);
        Ready ready = left == 0 ? Ready::TimedOut : wait(fd, Direction::Write, left);
        if (ready == Ready::TimedOut) {
            outcome.code = code_timeout;
            return outcome;
        }
        if (ready == Ready::Failed) {
            outcome.code = code_reset;
            return outcome;
        }
    }
    return outcome;
}

void shutdown_and_close(int& fd)
{
    if (fd < 0)
        return;
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
    fd = -1;
}

void shutdown_both(int fd)
{
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
}

Result<Fd> listen_tcp(std::string_view bind_address, int port, int backlog)
{
    auto address = numeric_address(bind_address.empty() ? "0.0.0.0" : bind_address, port);
    if (!address)
        return Error::from_detail("listen: not a numeric address: " + std::string(bind_address), EINVAL);
    Fd fd(::socket(address->family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!fd.valid())
        return errno_error("socket", errno);
    int one = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd.get(), reinterpret_cast<sockaddr const*>(address->storage.data()), address->length) != 0)
        return errno_error("bind", errno);
    if (::listen(fd.get(), backlog) != 0)
        return errno_error("listen", errno);
    return fd;
}

Result<Fd> accept_connection(int listener, int timeout_ms)
{
    if (timeout_ms >= 0) {
        Ready ready = wait(listener, Direction::Read, timeout_ms);
        if (ready == Ready::TimedOut)
            return Error::from_detail("accept: nobody came", ETIMEDOUT);
        if (ready == Ready::Failed)
            return errno_error("poll", errno);
    }
    for (;;) {
        int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            return Fd(fd);
        if (errno == EINTR)
            continue;
        return errno_error("accept", errno);
    }
}

int local_port(int fd)
{
    sockaddr_storage storage {};
    socklen_t length = sizeof storage;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        return 0;
    if (storage.ss_family == AF_INET)
        return ntohs(reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    if (storage.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port);
    return 0;
}

} // namespace tillbay::os::net

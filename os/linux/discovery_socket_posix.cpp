#include "os/discovery_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace tillbay::os::probe {

namespace {

Error errno_error(char const* what, int saved)
{
    return Error::from_detail(std::string(what) + ": " + std::strerror(saved), saved);
}

sockaddr_in ipv4(uint32_t address, uint16_t port)
{
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(address);
    sa.sin_port = htons(port);
    return sa;
}

} // namespace

Result<Fd> open_udp(uint32_t local_address, Multicast multicast)
{
    Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid())
        return errno_error("udp socket", errno);
    sockaddr_in local = ipv4(local_address, 0);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return errno_error("udp bind", errno);
    if (multicast == Multicast::OnThisInterface) {
        in_addr interface_address {};
        interface_address.s_addr = htonl(local_address);
        if (::setsockopt(fd.get(), IPPROTO_IP, IP_MULTICAST_IF, &interface_address, sizeof interface_address) != 0)
            return errno_error("IP_MULTICAST_IF", errno);
        unsigned char ttl = 1;
        if (::setsockopt(fd.get(), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0)
            return errno_error("IP_MULTICAST_TTL", errno);
    }
    return fd;
}

Status send_to(int fd, uint32_t address, uint16_t port, std::span<uint8_t const> bytes)
{
    sockaddr_in to = ipv4(address, port);
    ssize_t sent;
    do {
        sent = ::sendto(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to), sizeof to);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0)
        return errno_error("sendto", errno);
    return {};
}

Result<std::optional<Datagram>> receive_from(int fd, std::span<uint8_t> buffer)
{
    sockaddr_in from {};
    socklen_t from_length = sizeof from;
    ssize_t got;
    do {
        got = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &from_length);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return std::optional<Datagram> {};
        return errno_error("recvfrom", errno);
    }
    if (from.sin_family != AF_INET)
        return std::optional<Datagram> {};
    Datagram datagram;
    datagram.source = ntohl(from.sin_addr.s_addr);
    datagram.source_port = ntohs(from.sin_port);
    // MSG_TRUNC reports the datagram's real length; only the buffer's worth arrived.
    datagram.length = std::min(static_cast<size_t>(got), buffer.size());
    datagram.truncated = static_cast<size_t>(got) > buffer.size();
    return std::optional<Datagram> { datagram };
}

ConnectStart start_connect(uint32_t address, uint16_t port)
{
    ConnectStart start;
    start.socket = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!start.socket.valid()) {
        start.error = errno;
        return start;
    }
    sockaddr_in to = ipv4(address, port);
    // An interrupted non-blocking connect goes on in the background, like EINPROGRESS.
    int rc = ::connect(start.socket.get(), reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (rc == 0) {
        start.state = ConnectState::Connected;
    } else if (errno == EINPROGRESS || errno == EAGAIN || errno == EINTR) {
        start.state = ConnectState::Pending;
    } else {
        start.error = errno;
        start.socket.reset();
    }
    return start;
}

int connect_error(int fd)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return errno;
    return error;
}

Result<int> wait_any(std::span<Watch> watches, int timeout_ms)
{
    std::vector<pollfd> polls(watches.size());
    for (size_t i = 0; i < watches.size(); ++i) {
        short events = 0;
        if (watches[i].want_read)
            events |= POLLIN;
        if (watches[i].want_write)
            events |= POLLOUT;
        polls[i] = { watches[i].fd, events, 0 };
    }
    int ready;
    do {
        ready = ::poll(polls.data(), polls.size(), timeout_ms);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0)
        return errno_error("poll", errno);
    for (size_t i = 0; i < watches.size(); ++i) {
        short got = polls[i].revents;
        watches[i].readable = got & POLLIN;
        watches[i].writable = got & POLLOUT;
        watches[i].failed = got & (POLLERR | POLLHUP | POLLNVAL);
    }
    return ready;
}

} // namespace tillbay::os::probe

#include "os/stream_server.h"

#include "foundation/log.h"
#include "os/net.h"
#include "os/process.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <list>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace tillbay::os::net {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t read_chunk = 4096;
// Connections taken from the backlog per wake-up, so that a burst of new
// connections cannot keep the loop from the ones it already holds.
constexpr int accepts_per_wake = 64;
constexpr int events_per_wait = 64;

Error errno_error(char const* what, int saved)
{
    return Error::from_detail(std::string(what) + ": " + std::strerror(saved), saved);
}

long long ms_between(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

enum class Phase {
    Reading,  // waiting for the request
    Writing,  // the answer is partly sent
    Draining, // answered; reading what the peer still sends until it closes
};

struct Connection;
using List = std::list<Connection>;

struct Connection {
    int fd = -1;
    Peer peer;
    std::string received;
    std::string answer;
    size_t sent = 0;
    bool send_failed = false;
    Clock::time_point since;
    Phase phase = Phase::Reading;
    bool watched = false; // registered with epoll
    List::iterator self; // its node, in whichever list holds it (splicing keeps it valid)
};

Peer peer_of(sockaddr_storage const& storage)
{
    Peer peer;
    if (storage.ss_family == AF_INET) {
        auto const* in4 = reinterpret_cast<sockaddr_in const*>(&storage);
        std::memcpy(peer.ipv4.data(), &in4->sin_addr.s_addr, 4);
        peer.is_ipv4 = true;
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &in4->sin_addr, text, sizeof text);
        peer.text = text;
    } else if (storage.ss_family == AF_INET6) {
        char text[INET6_ADDRSTRLEN] = {};
        inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6 const*>(&storage)->sin6_addr, text, sizeof text);
        peer.text = text;
    }
    return peer;
}

// Sends what the socket takes now; true when the whole answer is out. The
// tail of the answer is held back (MSG_MORE) until the sending side closes,
// which follows every whole answer: the last bytes and the FIN then leave in
// one segment instead of two.
bool send_some(Connection& c)
{
    while (c.sent < c.answer.size()) {
        ssize_t n = ::send(c.fd, c.answer.data() + c.sent, c.answer.size() - c.sent, MSG_NOSIGNAL | MSG_MORE);
        if (n > 0) {
            c.sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return false;
        c.send_failed = true;
        return false;
    }
    return true;
}

// Reads and drops what has arrived; false once the peer has closed.
bool discard_input(int fd)
{
    char buffer[read_chunk];
    for (;;) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

class EpollServer final : public StreamServer {
public:
    EpollServer(ServerLimits limits, StreamHandler& handler)
        : m_limits(limits)
        , m_handler(handler)
    {
    }
    ~EpollServer() override { stop(); }

    Status open(std::string_view bind_address, int port, int backlog)
    {
        auto address = numeric_address(bind_address.empty() ? "0.0.0.0" : bind_address, port);
        if (!address)
            return Error::from_detail("listen: not a numeric address: " + std::string(bind_address), EINVAL);
        m_listener = ::socket(address->family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
        if (m_listener < 0)
            return errno_error("socket", errno);
        int one = 1;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        // The kernel hands over a connection once its first bytes are there,
        // which saves a wake-up per request.
        int defer_seconds = 1;
        ::setsockopt(m_listener, IPPROTO_TCP, TCP_DEFER_ACCEPT, &defer_seconds, sizeof defer_seconds);
        if (::bind(m_listener, reinterpret_cast<sockaddr const*>(address->storage.data()), address->length) != 0)
            return errno_error("bind", errno);
        if (::listen(m_listener, backlog) != 0)
            return errno_error("listen", errno);
        m_port = local_port(m_listener);
        m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
        if (m_epoll < 0)
            return errno_error("epoll_create1", errno);
        m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_wake < 0)
            return errno_error("eventfd", errno);
        epoll_event event {};
        event.events = EPOLLIN;
        event.data.ptr = &m_listener;
        if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listener, &event) != 0)
            return errno_error("epoll_ctl", errno);
        event.data.ptr = &m_wake;
        if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &event) != 0)
            return errno_error("epoll_ctl", errno);
        try {
            m_thread = os::process::start_thread([this] { run(); });
        } catch (std::exception const& e) {
            return Error::from_detail(std::string("thread: ") + e.what(), EAGAIN);
        }
        return {};
    }

    void stop() override
    {
        if (m_thread.joinable()) {
            m_stopping.store(true);
            uint64_t one = 1;
            // The loop wakes on the eventfd: no descriptor it waits on is
            // closed under it.
            while (::write(m_wake, &one, sizeof one) < 0 && errno == EINTR) { }
            m_thread.join();
        }
        for (auto* list : { &m_open, &m_closing }) {
            for (auto& connection : *list)
                ::close(connection.fd);
            list->clear();
        }
        m_open_count.store(0);
        for (int* fd : { &m_listener, &m_epoll, &m_wake }) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }

    int port() const override { return m_port; }

    ServerStats stats() const override
    {
        ServerStats s;
        s.accepted = m_accepted.load();
        s.answered = m_answered.load();
        s.refused = m_refused.load();
        s.evicted = m_evicted.load();
        s.timed_out = m_timed_out.load();
        s.open = m_open_count.load();
        return s;
    }

private:
    void run()
    {
        epoll_event events[events_per_wait];
        while (!m_stopping.load()) {
            int n = ::epoll_wait(m_epoll, events, events_per_wait, next_timeout_ms());
            if (n < 0 && errno != EINTR) {
                log::bridge("NET", std::string("epoll_wait: ") + std::strerror(errno));
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                continue;
            }
            for (int i = 0; i < n && !m_stopping.load(); ++i) {
                void* tag = events[i].data.ptr;
                if (tag == &m_wake) {
                    uint64_t value;
                    while (::read(m_wake, &value, sizeof value) < 0 && errno == EINTR) { }
                } else if (tag == &m_listener) {
                    accept_some();
                } else {
                    on_event(*static_cast<Connection*>(tag), events[i].events);
                }
            }
            expire();
        }
    }

    int next_timeout_ms() const
    {
        auto now = Clock::now();
        long long wait = -1;
        auto consider = [&](List const& list, int limit) {
            if (list.empty())
                return;
            long long left = limit - ms_between(list.front().since, now);
            left = left < 0 ? 0 : left;
            if (wait < 0 || left < wait)
                wait = left;
        };
        consider(m_open, m_limits.deadline_ms);
        consider(m_closing, m_limits.closing_ms);
        return static_cast<int>(wait);
    }

    void accept_some()
    {
        for (int i = 0; i < accepts_per_wake; ++i) {
            sockaddr_storage storage {};
            socklen_t length = sizeof storage;
            int fd = ::accept4(m_listener, reinterpret_cast<sockaddr*>(&storage), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                return; // EAGAIN, or out of descriptors: the rest wait in the backlog
            }
            ++m_accepted;
            bool full = m_open.size() >= m_limits.max_connections && !evict_one();
            Connection& c = m_open.emplace_back();
            c.self = std::prev(m_open.end());
            c.fd = fd;
            c.peer = peer_of(storage);
            c.since = Clock::now();
            m_open_count.store(m_open.size());
            if (full) {
                ++m_refused;
                (void)discard_input(fd);
                answer(c, safe_busy_answer());
                continue;
            }
            // The request is usually there already (deferred accept): most
            // connections are answered and closed without ever being
            // registered with epoll.
            if (read_and_ask(c))
                (void)watch(c, EPOLLIN | EPOLLRDHUP);
        }
    }

    // Registers the connection with epoll for events, or changes what it
    // waits for; closes it when epoll refuses. False when closed.
    bool watch(Connection& c, uint32_t events)
    {
        epoll_event event {};
        event.events = events;
        event.data.ptr = &c;
        if (::epoll_ctl(m_epoll, c.watched ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, c.fd, &event) != 0) {
            close_connection(c);
            return false;
        }
        c.watched = true;
        return true;
    }

    // Closes the oldest connection still waiting for its request when it has
    // had evict_after_ms; true when room was made.
    bool evict_one()
    {
        auto now = Clock::now();
        for (auto& c : m_open) {
            if (ms_between(c.since, now) < m_limits.evict_after_ms)
                return false; // the rest are younger still
            if (c.phase != Phase::Reading)
                continue;
            ++m_evicted;
            close_connection(c);
            return true;
        }
        return false;
    }

    void on_event(Connection& c, uint32_t events)
    {
        switch (c.phase) {
        case Phase::Draining:
            if (!discard_input(c.fd))
                close_connection(c);
            return;
        case Phase::Writing:
            if (events & (EPOLLERR | EPOLLHUP)) {
                close_connection(c);
                return;
            }
            if (send_some(c))
                finish(c);
            else if (c.send_failed)
                close_connection(c);
            return;
        case Phase::Reading:
            (void)read_and_ask(c);
            return;
        }
    }

    // Reads what has arrived and asks the handler; true when the connection
    // is still open and waits for more of its request.
    bool read_and_ask(Connection& c)
    {
        bool closed = false;
        bool grew = false;
        char buffer[read_chunk];
        while (c.received.size() < m_limits.max_received) {
            size_t room = std::min(sizeof buffer, m_limits.max_received - c.received.size());
            ssize_t n = ::recv(c.fd, buffer, room, 0);
            if (n > 0) {
                c.received.append(buffer, static_cast<size_t>(n));
                grew = true;
                // A short read took all there was: ask now rather than
                // spend a call on hearing "nothing more". Epoll is
                // level-triggered: data still unread wakes it again.
                if (static_cast<size_t>(n) < room)
                    break;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            closed = true; // 0: the peer closed; an error ends the connection alike
            break;
        }
        Input input = Input::More;
        if (c.received.size() >= m_limits.max_received)
            input = Input::TooLarge;
        else if (closed)
            input = Input::PeerClosed;
        else if (!grew)
            return true;
        auto reply = ask(c, input);
        if (!reply)
            return true;
        answer(c, std::move(*reply));
        return false;
    }

    std::optional<std::string> ask(Connection const& c, Input input)
    {
        std::optional<std::string> reply;
        try {
            reply = m_handler.on_input(c.peer, c.received, input);
        } catch (std::exception const& e) {
            log::bridge("NET", std::string("요청 처리 실패: ") + e.what());
            reply = std::string();
        } catch (...) {
            log::bridge("NET", "요청 처리 실패");
            reply = std::string();
        }
        if (!reply && input != Input::More)
            reply = std::string();
        return reply;
    }

    std::string safe_busy_answer()
    {
        try {
            return m_handler.busy_answer();
        } catch (...) {
            return {};
        }
    }

    void answer(Connection& c, std::string reply)
    {
        ++m_answered;
        if (reply.empty()) {
            close_connection(c);
            return;
        }
        c.answer = std::move(reply);
        c.sent = 0;
        if (send_some(c)) {
            finish(c);
            return;
        }
        if (c.send_failed) {
            close_connection(c);
            return;
        }
        c.phase = Phase::Writing;
        (void)watch(c, EPOLLOUT);
    }

    // The answer is out: the sending side closes. A connection whose whole
    // request was read and that has nothing unread closes at once (the close
    // sends the FIN with the answer's tail). One whose peer may still have
    // bytes on the way is drained for a moment, so that the close does not
    // reset the answer away before the peer has read it.
    void finish(Connection& c)
    {
        int pending = 0;
        bool quiet = ::ioctl(c.fd, FIONREAD, &pending) == 0 && pending == 0;
        bool whole_request = c.phase == Phase::Reading && !c.received.empty() && quiet;
        if (whole_request) {
            close_connection(c);
            return;
        }
        ::shutdown(c.fd, SHUT_WR);
        if (m_closing.size() >= m_limits.max_closing) {
            close_connection(c);
            return;
        }
        c.phase = Phase::Draining;
        c.since = Clock::now();
        std::string().swap(c.received);
        std::string().swap(c.answer);
        m_closing.splice(m_closing.end(), m_open, c.self);
        m_open_count.store(m_open.size());
        if (watch(c, EPOLLIN | EPOLLRDHUP) && !discard_input(c.fd))
            close_connection(c);
    }

    void close_connection(Connection& c)
    {
        ::close(c.fd);
        List& list = c.phase == Phase::Draining ? m_closing : m_open;
        list.erase(c.self);
        m_open_count.store(m_open.size());
    }

    void expire()
    {
        auto now = Clock::now();
        while (!m_closing.empty() && ms_between(m_closing.front().since, now) >= m_limits.closing_ms)
            close_connection(m_closing.front());
        while (!m_open.empty() && ms_between(m_open.front().since, now) >= m_limits.deadline_ms) {
            Connection& c = m_open.front();
            ++m_timed_out;
            if (c.phase == Phase::Writing) {
                close_connection(c);
                continue;
            }
            // The answer to a late request goes out only if the socket takes
            // it at once; the deadline is over.
            c.answer = *ask(c, Input::TimedOut);
            c.sent = 0;
            if (c.answer.empty() || !send_some(c)) {
                close_connection(c);
                continue;
            }
            ++m_answered;
            c.phase = Phase::Writing; // not a whole request: drain before closing
            finish(c);
        }
    }

    ServerLimits m_limits;
    StreamHandler& m_handler;
    int m_listener = -1;
    int m_epoll = -1;
    int m_wake = -1;
    int m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stopping { false };
    List m_open;    // in accept order, which is also deadline order
    List m_closing; // answered and draining, in order of their answer
    std::atomic<uint64_t> m_accepted { 0 };
    std::atomic<uint64_t> m_answered { 0 };
    std::atomic<uint64_t> m_refused { 0 };
    std::atomic<uint64_t> m_evicted { 0 };
    std::atomic<uint64_t> m_timed_out { 0 };
    std::atomic<size_t> m_open_count { 0 };
};

} // namespace

Result<std::unique_ptr<StreamServer>> StreamServer::start(std::string_view bind_address, int port, int backlog,
    ServerLimits limits, StreamHandler& handler)
{
    auto server = std::make_unique<EpollServer>(limits, handler);
    TRY(server->open(bind_address, port, backlog));
    return std::unique_ptr<StreamServer>(std::move(server));
}

} // namespace tillbay::os::net

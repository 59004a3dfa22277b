#include "tools/platform/net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tillbay::platform {

namespace {

// A blocked recv or send wakes at least this often, so deadlines are checked
// even when OpenSSL waits inside a half-received record.
constexpr int k_socket_slice_ms = 500;

void set_socket_timeouts(int fd)
{
    timeval tv {};
    tv.tv_sec = 0;
    tv.tv_usec = k_socket_slice_ms * 1000;
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    timeval send_tv {};
    send_tv.tv_sec = 10;
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_tv, sizeof send_tv);
}

int ms_until(Deadline deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left < 0)
        return 0;
    return left > 60000 ? 60000 : static_cast<int>(left);
}

} // namespace

Conn::Conn(int fd, SSL* ssl, std::string peer)
    : m_fd(fd)
    , m_ssl(ssl)
    , m_peer(std::move(peer))
{
}

Conn::~Conn() { close(); }

void Conn::close()
{
    if (m_ssl) {
        SSL_free(m_ssl);
        m_ssl = nullptr;
    }
    if (m_fd >= 0) {
        ::shutdown(m_fd, SHUT_RDWR);
        ::close(m_fd);
        m_fd = -1;
    }
}

bool Conn::wait_readable(int wait_ms)
{
    if (m_fd < 0)
        return false;
    if (m_ssl && SSL_pending(m_ssl) > 0)
        return true;
    pollfd p { m_fd, POLLIN, 0 };
    return ::poll(&p, 1, wait_ms) > 0;
}

Conn::ReadResult Conn::read_some(std::string& out, size_t max, Deadline deadline)
{
    if (m_fd < 0)
        return ReadResult::Closed;
    char buffer[16384];
    size_t want = max < sizeof buffer ? max : sizeof buffer;
    if (want == 0)
        return ReadResult::Data;
    for (;;) {
        if (!wait_readable(ms_until(deadline))) {
            if (Clock::now() >= deadline)
                return ReadResult::Timeout;
            continue;
        }
        if (m_ssl) {
            ERR_clear_error();
            int n = SSL_read(m_ssl, buffer, static_cast<int>(want));
            if (n > 0) {
                out.append(buffer, static_cast<size_t>(n));
                return ReadResult::Data;
            }
            int err = SSL_get_error(m_ssl, n);
            if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
                if (Clock::now() >= deadline)
                    return ReadResult::Timeout;
                continue;
            }
            return ReadResult::Closed;
        }
        ssize_t n = ::recv(m_fd, buffer, want, 0);
        if (n > 0) {
            out.append(buffer, static_cast<size_t>(n));
            return ReadResult::Data;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            if (Clock::now() >= deadline)
                return ReadResult::Timeout;
            continue;
        }
        return ReadResult::Closed;
    }
}

bool Conn::write_all(std::string_view data)
{
    if (m_fd < 0)
        return false;
    size_t sent = 0;
    auto give_up = deadline_in(std::chrono::seconds(15));
    while (sent < data.size()) {
        if (Clock::now() >= give_up)
            return false;
        if (m_ssl) {
            ERR_clear_error();
            int n = SSL_write(m_ssl, data.data() + sent, static_cast<int>(data.size() - sent));
            if (n > 0) {
                sent += static_cast<size_t>(n);
                continue;
            }
            int err = SSL_get_error(m_ssl, n);
            if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE)
                continue;
            return false;
        }
        ssize_t n = ::send(m_fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        return false;
    }
    return true;
}

std::unique_ptr<Listener> Listener::create(std::string const& name, std::string const& host, int port, SSL_CTX* tls_ctx,
    Handler handler, std::string& error)
{
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    std::string port_text = std::to_string(port);
    if (int rc = getaddrinfo(host.c_str(), port_text.c_str(), &hints, &found); rc != 0 || !found) {
        error = name + ": cannot resolve " + host + ": " + gai_strerror(rc);
        return nullptr;
    }
    int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
    if (fd < 0) {
        error = name + ": socket: " + std::strerror(errno);
        freeaddrinfo(found);
        return nullptr;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, 128) != 0) {
        error = name + ": cannot listen on " + host + ":" + port_text + ": " + std::strerror(errno);
        ::close(fd);
        freeaddrinfo(found);
        return nullptr;
    }
    freeaddrinfo(found);
    sockaddr_storage bound {};
    socklen_t length = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    int actual = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                             : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);

    std::unique_ptr<Listener> listener(new Listener);
    listener->m_name = name;
    listener->m_fd = fd;
    listener->m_port = actual;
    listener->m_tls_ctx = tls_ctx;
    listener->m_handler = std::move(handler);
    listener->m_thread = std::thread([l = listener.get()] { l->accept_loop(); });
    return listener;
}

Listener::~Listener() { stop(); }

void Listener::stop()
{
    if (!m_running.exchange(false))
        return;
    if (m_fd >= 0)
        ::shutdown(m_fd, SHUT_RDWR);
    if (m_thread.joinable())
        m_thread.join();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void Listener::accept_loop()
{
    while (m_running) {
        pollfd p { m_fd, POLLIN, 0 };
        if (::poll(&p, 1, 250) <= 0)
            continue;
        sockaddr_storage peer {};
        socklen_t length = sizeof peer;
        int fd = ::accept4(m_fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        if (m_active->load() >= k_max_connections) {
            ::close(fd);
            continue;
        }
        char address[INET6_ADDRSTRLEN] = "?";
        if (peer.ss_family == AF_INET)
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&peer)->sin_addr, address, sizeof address);
        else if (peer.ss_family == AF_INET6)
            inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&peer)->sin6_addr, address, sizeof address);
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        set_socket_timeouts(fd);
        m_active->fetch_add(1);
        std::thread([name = m_name, fd, active = m_active, peer_text = std::string(address), ctx = m_tls_ctx, handler = m_handler] {
            try {
                SSL* ssl = nullptr;
                if (ctx) {
                    ssl = SSL_new(ctx);
                    bool ok = ssl && SSL_set_fd(ssl, fd) == 1;
                    auto deadline = deadline_in(std::chrono::milliseconds(k_handshake_ms));
                    while (ok) {
                        ERR_clear_error();
                        int rc = SSL_accept(ssl);
                        if (rc == 1)
                            break;
                        int err = SSL_get_error(ssl, rc);
                        if ((err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) && Clock::now() < deadline)
                            continue;
                        ok = false;
                    }
                    if (!ok) {
                        if (ssl)
                            SSL_free(ssl);
                        ::close(fd);
                        active->fetch_sub(1);
                        return;
                    }
                }
                Conn conn(fd, ssl, peer_text);
                handler(conn);
            } catch (std::exception const& e) {
                std::fprintf(stderr, "%s: connection failed: %s\n", name.c_str(), e.what());
            } catch (...) {
                std::fprintf(stderr, "%s: connection failed\n", name.c_str());
            }
            active->fetch_sub(1);
        }).detach();
    }
}

} // namespace tillbay::platform

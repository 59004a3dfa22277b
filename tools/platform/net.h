#pragma once

// Sockets for the three listeners and the control port: a listening socket
// with its accept thread, and one connection type that reads and writes the
// same way whether TLS wraps it or not. Every read carries a deadline, so a
// client that stops half way never holds a thread for ever.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace tillbay::platform {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

inline Deadline deadline_in(std::chrono::milliseconds ms) { return Clock::now() + ms; }

class Conn {
public:
    Conn(int fd, SSL* ssl, std::string peer);
    ~Conn();
    Conn(Conn const&) = delete;
    Conn& operator=(Conn const&) = delete;

    enum class ReadResult { Data, Timeout, Closed };
    // Appends what arrives before the deadline (at most max bytes) to out.
    ReadResult read_some(std::string& out, size_t max, Deadline deadline);
    // Sends everything or fails.
    bool write_all(std::string_view data);
    // True when bytes are waiting (decrypted ones included) within wait_ms.
    bool wait_readable(int wait_ms);
    // Ends the connection at once, without a TLS close notification.
    void close();

    int fd() const { return m_fd; }
    bool tls() const { return m_ssl != nullptr; }
    std::string const& peer() const { return m_peer; }

private:
    int m_fd = -1;
    SSL* m_ssl = nullptr;
    std::string m_peer;
};

// A listening socket with its own accept thread; each accepted connection is
// handed to the handler on a short-lived thread of its own.
class Listener {
public:
    using Handler = std::function<void(Conn&)>;

    // port 0 picks a free port. tls_ctx may be null for plain TCP.
    static std::unique_ptr<Listener> create(std::string const& name, std::string const& host, int port, SSL_CTX* tls_ctx,
        Handler handler, std::string& error);
    ~Listener();

    int port() const { return m_port; }
    std::string const& name() const { return m_name; }
    bool tls() const { return m_tls_ctx != nullptr; }
    void stop();

    // Connections beyond this many at once are closed at accept.
    static constexpr int k_max_connections = 256;
    // The TLS handshake must finish within this time.
    static constexpr int k_handshake_ms = 10000;

private:
    Listener() = default;
    void accept_loop();

    std::string m_name;
    int m_fd = -1;
    int m_port = 0;
    SSL_CTX* m_tls_ctx = nullptr;
    Handler m_handler;
    std::thread m_thread;
    std::atomic<bool> m_running { true };
    std::shared_ptr<std::atomic<int>> m_active = std::make_shared<std::atomic<int>>(0);
};

} // namespace tillbay::platform

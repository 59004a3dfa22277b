#pragma once

// The socket layer under every conversation with the platform: API calls,
// the encrypted owner messages and the order push channel. A connection is
// a TCP socket wrapped, by default, in TLS 1.2, with an optional pin of the
// server certificate's SHA-256 fingerprint. Callers keep only the socket
// number and use the same operations whether the connection is encrypted or
// not; the layer finds the TLS state of a socket in a fixed table of eight
// connection slots. Handshakes and failures go to the transport log.
//
// Any thread may use the layer; each connection belongs to one thread at a
// time. The slot lock guards only the taking and freeing of slots.

#include "base/result.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace tillbay::transport {

inline constexpr int max_tls_connections = 8;
// Silence that ends an answer once its first bytes have arrived.
inline constexpr int quiet_gap_ms = 2000;
// The longest a send may wait for the peer to take the bytes.
inline constexpr int send_timeout_ms = 10000;
inline constexpr size_t max_server_name = 127;
inline constexpr size_t pin_length = 64;

// The pin of a fingerprint text: ':', blanks and '-' are skipped, A-F become
// a-f, the first 64 significant characters are taken; fewer than 64 give ""
// (no pin: the trust store decides).
std::string normalise_pin(std::string_view fingerprint);

// Set once at start-up from the server settings (tls, tlsfp, host). Also
// marks every slot free and forgets kept TLS sessions.
void configure(bool tls, std::string_view fingerprint, std::string_view server_name);

bool tls_enabled();
std::string const& pin();

// Resuming the last TLS session of a server saves the full handshake on every
// call after the first. On by default; the benchmark switches it off to compare.
void set_session_resumption(bool on);

// Connects within timeout_ms per address and, with TLS on, runs the
// handshake. The error's message is the user's text.
Result<int> connect(std::string_view host, int port, int timeout_ms);

// True when every byte went out (encrypted with TLS on).
bool send(int socket, std::string_view bytes);

// Reads an answer: waits up to first_wait_ms for its first bytes, then goes
// on until the peer closes, the buffer is full (size - 1 bytes) or the peer
// is silent for quiet_gap_ms. The buffer is NUL-terminated. Returns the bytes
// read; 0 for nothing, with timed_out set when the first wait ran out.
size_t receive_until_quiet(int socket, char* buffer, size_t size, int first_wait_ms, bool& timed_out);

// Like receive_until_quiet, but after the first wait takes only what can be
// had without waiting. For the push channel's polling.
size_t receive_available(int socket, char* buffer, size_t size, int wait_ms, bool& timed_out);

// Frees the slot, shuts the socket down both ways and closes it; sets the
// variable to -1. Safe on -1.
void close(int& socket);

// Ends the layer's use of the TLS library at exit.
void shutdown();

// Whether the socket's TLS session was resumed (false in plain mode).
bool session_resumed(int socket);

// Tests: how many slots are taken.
int slots_in_use();

// Owns one connection for one exchange and closes it on every path.
class Connection {
public:
    static Result<Connection> open(std::string_view host, int port, int timeout_ms);
    Connection(Connection&& other) noexcept
        : m_socket(other.m_socket)
    {
        other.m_socket = -1;
    }
    Connection& operator=(Connection&& other) noexcept;
    Connection(Connection const&) = delete;
    Connection& operator=(Connection const&) = delete;
    ~Connection() { close(m_socket); }

    int socket() const { return m_socket; }
    bool send(std::string_view bytes) const { return transport::send(m_socket, bytes); }
    size_t receive_until_quiet(char* buffer, size_t size, int first_wait_ms, bool& timed_out) const
    {
        return transport::receive_until_quiet(m_socket, buffer, size, first_wait_ms, timed_out);
    }

private:
    explicit Connection(int socket)
        : m_socket(socket)
    {
    }
    int m_socket = -1;
};

} // namespace tillbay::transport

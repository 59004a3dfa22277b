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
#include "base/secret.h"

#include <cstddef>
#include <span>
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

// Why a receive brought nothing: the error code of a failed receive.
enum class ReceiveFailure {
    TimedOut = 1, // the first wait ran out
    Closed = 2,   // the peer closed, or the connection failed, before any byte
    TooLarge = 3, // more than the caller's limit arrived
    Aborted = 4,  // abort_all() ended the wait
};

// Reads an answer into a buffer that grows as the bytes arrive: waits up to
// first_wait_ms for the first bytes, then goes on until the peer closes or is
// silent for quiet_gap_ms. An answer longer than max_bytes is a failure: it
// is never handed on cut short. The error's code is a ReceiveFailure.
Result<SecretString> receive_until_quiet(int socket, size_t max_bytes, int first_wait_ms);

// Takes what arrives within wait_ms, and with TLS whatever more can be had
// without waiting, into out. For the push channel's polling. Never succeeds
// with 0 bytes: the error says TimedOut or Closed.
Result<size_t> receive_available(int socket, std::span<char> out, int wait_ms);

// The end of the program: every wait of an open connection ends at once and
// no new connection starts, so that the workers using the transport can be
// joined without waiting out a server that does not answer.
void abort_all();

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
    Result<SecretString> receive_until_quiet(size_t max_bytes, int first_wait_ms) const
    {
        return transport::receive_until_quiet(m_socket, max_bytes, first_wait_ms);
    }

private:
    explicit Connection(int socket)
        : m_socket(socket)
    {
    }
    int m_socket = -1;
};

} // namespace tillbay::transport

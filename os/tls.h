#pragma once

// TLS 1.2 client connections over an already connected TCP socket. The
// program checks the server either by the system trust store (with the server
// name checked against the certificate) or, when a fingerprint is pinned, by
// the SHA-256 of the server certificate's DER bytes alone.
//
// The client context keeps the last session of each server, so that the next
// connection to the same server resumes it (a session ticket or a cached
// session id) instead of running the whole handshake again.

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

// OpenSSL's own types stay out of every header but the backend's.
struct ssl_ctx_st;
struct ssl_st;

namespace tillbay::os::tls {

// Why a handshake failed; the transport turns each into the user's message.
enum class Failure {
    None,
    Setup,              // the library would not give a context or a connection
    NoResponse,         // the server did not answer within the handshake wait
    PeerClosed,         // the server hung up or answered with something that is not TLS
    SendFailed,         // a handshake message could not be sent
    ClientCertRequired, // the server asked for a client certificate
    UntrustedRoot,
    Expired,
    WrongName,
    NoCertificate,      // pinned, and the server showed no certificate
    PinMismatch,
    Other,
};

struct HandshakeFailure {
    Failure kind = Failure::None;
    unsigned long code = 0;  // the OpenSSL error or verify result, for the generic message and the log
    std::string detail;      // the library's words, for the transport log
    std::string fingerprint; // PinMismatch: the fingerprint the server showed (64 lower-case hex)
};

struct ClientOptions {
    // Sent as SNI and checked against the certificate when no pin is set;
    // empty sends no name and checks none. An IP address is checked as one.
    std::string server_name;
    // 64 lower-case hexadecimal characters, or empty for the trust store.
    std::string pin;
    // The time allowed for each wait of the handshake.
    int handshake_wait_ms = 5000;
    // Which server the connection goes to ("host:port"): sessions are kept
    // and resumed per key. Empty keeps nothing.
    std::string session_key;
};

class ClientContext {
public:
    // TLS 1.2 only, the system trust store (SSL_CERT_FILE and SSL_CERT_DIR honoured).
    static std::unique_ptr<ClientContext> create();
    ~ClientContext();
    ClientContext(ClientContext const&) = delete;
    ClientContext& operator=(ClientContext const&) = delete;

    // Session resumption is on by default; the benchmark compares both ways.
    void set_resumption(bool on);
    bool resumption() const;
    void forget_sessions();

private:
    ClientContext() = default;
    friend class Session;
    struct Cache;
    ssl_ctx_st* m_ctx = nullptr;
    std::unique_ptr<Cache> m_cache;
};

enum class ReadStatus {
    Data,     // bytes were read
    TimedOut, // nothing arrived within the wait
    Closed,   // the peer ended the connection
    Failed,   // a socket or record error; the connection is unusable
};

struct ReadOutcome {
    ReadStatus status = ReadStatus::Failed;
    size_t bytes = 0;
    unsigned long code = 0; // Failed: the OpenSSL error, for the transport log
};

// One client connection. The socket stays owned by the caller and must stay
// open while the session lives; the session leaves it non-blocking.
class Session {
public:
    // Runs the handshake; null with the failure filled in when it fails.
    static std::unique_ptr<Session> connect(ClientContext& context, int fd, ClientOptions const& options,
        HandshakeFailure& failure);
    ~Session();
    Session(Session const&) = delete;
    Session& operator=(Session const&) = delete;

    // Reads what is available, waiting up to wait_ms (0: only what needs no
    // wait) for the first plaintext byte.
    ReadOutcome read(std::span<char> buffer, int wait_ms);
    // Writes every byte (in records of at most 16 kB) before the deadline.
    bool write_all(std::string_view bytes, int timeout_ms);
    // Decrypted bytes already held, handed out by the next read without waiting.
    bool has_pending() const;

    bool closed() const { return m_closed; }
    bool resumed() const;
    std::string const& peer_fingerprint() const { return m_fingerprint; }

private:
    Session() = default;
    ssl_st* m_ssl = nullptr;
    int m_fd = -1;
    bool m_closed = false;
    bool m_healthy = true;
    std::string m_fingerprint;
};

} // namespace tillbay::os::tls

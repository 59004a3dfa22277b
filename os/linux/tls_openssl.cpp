#include "os/tls.h"

#include "os/crypto.h"
#include "os/net.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>

namespace tillbay::os::tls {

namespace {

struct X509Deleter {
    void operator()(X509* cert) const { X509_free(cert); }
};
using X509Ptr = std::unique_ptr<X509, X509Deleter>;

struct SslDeleter {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};
using SslPtr = std::unique_ptr<SSL, SslDeleter>;

// Set on the connection when the server asks for a client certificate, which
// the program never has; the handshake failure that follows is then reported
// as that request instead of as a generic failure.
int g_asked_index = -1;
std::once_flag g_index_once;

int asked_index()
{
    std::call_once(g_index_once, [] {
        g_asked_index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    });
    return g_asked_index;
}

int no_client_certificate(SSL* ssl, X509**, EVP_PKEY**)
{
    static char asked_marker;
    SSL_set_ex_data(ssl, asked_index(), &asked_marker);
    return 0;
}

bool client_certificate_asked(SSL* ssl) { return SSL_get_ex_data(ssl, asked_index()) != nullptr; }

std::string error_text(unsigned long code)
{
    char text[256] = {};
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

Failure from_verify_result(long result)
{
    switch (result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return Failure::Expired;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return Failure::WrongName;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_REJECTED:
        return Failure::UntrustedRoot;
    default:
        return Failure::Other;
    }
}

// A server that is not speaking TLS either hangs up or answers with bytes
// that do not form a TLS record (an HTTP error page, a banner).
bool looks_like_plain_peer(unsigned long code)
{
    if (ERR_GET_LIB(code) != ERR_LIB_SSL)
        return false;
    switch (ERR_GET_REASON(code)) {
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_UNEXPECTED_EOF_WHILE_READING:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
    case SSL_R_RECORD_LENGTH_MISMATCH:
    case SSL_R_UNKNOWN_PROTOCOL:
    case SSL_R_HTTP_REQUEST:
    case SSL_R_HTTPS_PROXY_REQUEST:
        return true;
    default:
        return false;
    }
}

std::string der_fingerprint(X509* cert)
{
    int length = i2d_X509(cert, nullptr);
    if (length <= 0)
        return {};
    std::string der(static_cast<size_t>(length), '\0');
    auto* out = reinterpret_cast<unsigned char*>(der.data());
    i2d_X509(cert, &out);
    return to_hex(sha256(der));
}

} // namespace

struct ClientContext::Cache {
    std::mutex lock;
    std::map<std::string, SSL_SESSION*> sessions;
    std::atomic<bool> resumption { true };

    ~Cache() { clear(); }
    void clear()
    {
        std::lock_guard guard(lock);
        for (auto& [key, session] : sessions)
            SSL_SESSION_free(session);
        sessions.clear();
    }
    // A new reference to the session kept for key, or null.
    SSL_SESSION* take(std::string const& key)
    {
        std::lock_guard guard(lock);
        auto it = sessions.find(key);
        if (it == sessions.end())
            return nullptr;
        SSL_SESSION_up_ref(it->second);
        return it->second;
    }
    void keep(std::string const& key, SSL_SESSION* session)
    {
        std::lock_guard guard(lock);
        auto [it, inserted] = sessions.emplace(key, session);
        if (!inserted) {
            SSL_SESSION_free(it->second);
            it->second = session;
        }
    }
    void drop(std::string const& key)
    {
        std::lock_guard guard(lock);
        auto it = sessions.find(key);
        if (it != sessions.end()) {
            SSL_SESSION_free(it->second);
            sessions.erase(it);
        }
    }
};

std::unique_ptr<ClientContext> ClientContext::create()
{
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx)
        return nullptr;
    std::unique_ptr<ClientContext> context(new ClientContext);
    context->m_ctx = ctx;
    context->m_cache = std::make_unique<Cache>();
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
    // Reads the default store; SSL_CERT_FILE and SSL_CERT_DIR override it.
    SSL_CTX_set_default_verify_paths(ctx);
    SSL_CTX_set_client_cert_cb(ctx, no_client_certificate);
    // Servers often hang up after their answer without a close_notify. The
    // answer is complete JSON either way; without this every such end would
    // look like a broken connection.
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_mode(ctx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // The program keeps sessions itself, one per server, in m_cache.
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
    return context;
}

ClientContext::~ClientContext()
{
    m_cache.reset();
    SSL_CTX_free(m_ctx);
}

void ClientContext::set_resumption(bool on)
{
    m_cache->resumption = on;
    if (!on)
        m_cache->clear();
}

bool ClientContext::resumption() const { return m_cache->resumption; }

void ClientContext::forget_sessions() { m_cache->clear(); }

std::unique_ptr<Session> Session::connect(ClientContext& context, int fd, ClientOptions const& options,
    HandshakeFailure& failure)
{
    failure = {};
    auto fail = [&](Failure kind, unsigned long code, std::string detail) -> std::unique_ptr<Session> {
        failure.kind = kind;
        failure.code = code;
        failure.detail = std::move(detail);
        return nullptr;
    };

    if (!net::set_nonblocking(fd, true).ok())
        return fail(Failure::Setup, 0, "fcntl failed");
    ERR_clear_error();
    SslPtr ssl(SSL_new(context.m_ctx));
    if (!ssl || SSL_set_fd(ssl.get(), fd) != 1)
        return fail(Failure::Setup, ERR_peek_last_error(), "SSL_new failed");

    bool pinned = !options.pin.empty();
    std::string const& name = options.server_name;
    bool ip_name = !name.empty() && net::is_ip_literal(name);
    if (!name.empty() && !ip_name)
        SSL_set_tlsext_host_name(ssl.get(), name.c_str());
    if (pinned) {
        // The pin alone decides: chain, expiry and name are not examined.
        SSL_set_verify(ssl.get(), SSL_VERIFY_NONE, nullptr);
    } else {
        SSL_set_verify(ssl.get(), SSL_VERIFY_PEER, nullptr);
        if (ip_name)
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), name.c_str());
        else if (!name.empty())
            SSL_set1_host(ssl.get(), name.c_str());
    }

    bool resuming = false;
    if (context.m_cache->resumption && !options.session_key.empty()) {
        if (SSL_SESSION* kept = context.m_cache->take(options.session_key)) {
            SSL_set_session(ssl.get(), kept);
            SSL_SESSION_free(kept);
            resuming = true;
        }
    }
    auto forget = [&] {
        if (resuming)
            context.m_cache->drop(options.session_key);
    };

    for (;;) {
        ERR_clear_error();
        int rc = SSL_connect(ssl.get());
        if (rc == 1)
            break;
        int error = SSL_get_error(ssl.get(), rc);
        if (error == SSL_ERROR_WANT_READ) {
            auto ready = net::wait(fd, net::Direction::Read, options.handshake_wait_ms);
            if (ready == net::Ready::TimedOut)
                return forget(), fail(Failure::NoResponse, 0, "no handshake answer");
            if (ready == net::Ready::Failed)
                return forget(), fail(Failure::PeerClosed, 0, "socket failed during handshake");
            continue;
        }
        if (error == SSL_ERROR_WANT_WRITE) {
            if (net::wait(fd, net::Direction::Write, options.handshake_wait_ms) != net::Ready::Yes)
                return forget(), fail(Failure::SendFailed, 0, "handshake send did not go out");
            continue;
        }
        forget();
        unsigned long code = ERR_peek_last_error();
        long verify = SSL_get_verify_result(ssl.get());
        if (!pinned && verify != X509_V_OK) {
            Failure kind = from_verify_result(verify);
            return fail(kind, kind == Failure::Other ? static_cast<unsigned long>(verify) : code,
                X509_verify_cert_error_string(verify));
        }
        if (client_certificate_asked(ssl.get()))
            return fail(Failure::ClientCertRequired, code, "client certificate requested");
        if (error == SSL_ERROR_SYSCALL || error == SSL_ERROR_ZERO_RETURN)
            return fail(Failure::PeerClosed, code, "connection closed during handshake");
        if (looks_like_plain_peer(code))
            return fail(Failure::PeerClosed, code, error_text(code));
        return fail(Failure::Other, code, code ? error_text(code) : "handshake failed");
    }

    std::unique_ptr<Session> session(new Session);
    if (pinned) {
        X509Ptr cert(SSL_get1_peer_certificate(ssl.get()));
        if (!cert)
            return forget(), fail(Failure::NoCertificate, 0, "no server certificate");
        session->m_fingerprint = der_fingerprint(cert.get());
        if (session->m_fingerprint != options.pin) {
            forget();
            failure.fingerprint = session->m_fingerprint;
            return fail(Failure::PinMismatch, 0, "fingerprint differs");
        }
    }
    if (context.m_cache->resumption && !options.session_key.empty()) {
        SSL_SESSION* fresh = SSL_get1_session(ssl.get());
        if (fresh && SSL_SESSION_is_resumable(fresh))
            context.m_cache->keep(options.session_key, fresh);
        else if (fresh)
            SSL_SESSION_free(fresh);
    }
    session->m_ssl = ssl.release();
    session->m_fd = fd;
    return session;
}

Session::~Session()
{
    if (!m_ssl)
        return;
    // No close_notify goes out (the server ends the exchange itself), but a
    // connection that ended in good order marks itself shut down so that its
    // session stays resumable.
    if (m_healthy) {
        SSL_set_quiet_shutdown(m_ssl, 1);
        SSL_shutdown(m_ssl);
    }
    SSL_free(m_ssl);
}

bool Session::resumed() const { return m_ssl && SSL_session_reused(m_ssl) == 1; }

bool Session::has_pending() const { return m_ssl && SSL_pending(m_ssl) > 0; }

ReadOutcome Session::read(std::span<char> buffer, int wait_ms)
{
    using Clock = std::chrono::steady_clock;
    ReadOutcome outcome;
    if (m_closed || buffer.empty()) {
        outcome.status = m_closed ? ReadStatus::Closed : ReadStatus::TimedOut;
        return outcome;
    }
    auto deadline = Clock::now() + std::chrono::milliseconds(wait_ms > 0 ? wait_ms : 0);
    for (;;) {
        ERR_clear_error();
        size_t got = 0;
        int rc = SSL_read_ex(m_ssl, buffer.data(), buffer.size(), &got);
        if (rc == 1) {
            outcome.status = ReadStatus::Data;
            outcome.bytes = got;
            return outcome;
        }
        int error = SSL_get_error(m_ssl, rc);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            auto ready = net::wait(m_fd, error == SSL_ERROR_WANT_READ ? net::Direction::Read : net::Direction::Write,
                left > 0 ? static_cast<int>(left) : 0);
            if (ready == net::Ready::TimedOut) {
                outcome.status = ReadStatus::TimedOut;
                return outcome;
            }
            if (ready == net::Ready::Failed) {
                m_closed = true;
                m_healthy = false;
                outcome.status = ReadStatus::Failed;
                return outcome;
            }
            continue;
        }
        m_closed = true;
        if (error == SSL_ERROR_ZERO_RETURN) {
            outcome.status = ReadStatus::Closed;
            return outcome;
        }
        outcome.code = ERR_peek_last_error();
        if (error == SSL_ERROR_SYSCALL && outcome.code == 0) {
            // A reset by the peer: the connection is over, nothing to decrypt.
            m_healthy = false;
            outcome.status = ReadStatus::Closed;
            return outcome;
        }
        m_healthy = false;
        outcome.status = ReadStatus::Failed;
        return outcome;
    }
}

bool Session::write_all(std::string_view bytes, int timeout_ms)
{
    using Clock = std::chrono::steady_clock;
    if (m_closed)
        return false;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    size_t done = 0;
    while (done < bytes.size()) {
        ERR_clear_error();
        size_t written = 0;
        int rc = SSL_write_ex(m_ssl, bytes.data() + done, bytes.size() - done, &written);
        if (rc == 1) {
            done += written;
            continue;
        }
        int error = SSL_get_error(m_ssl, rc);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return false;
            auto ready = net::wait(m_fd, error == SSL_ERROR_WANT_READ ? net::Direction::Read : net::Direction::Write,
                static_cast<int>(left));
            if (ready != net::Ready::Yes)
                return false;
            continue;
        }
        m_closed = true;
        m_healthy = false;
        return false;
    }
    return true;
}

} // namespace tillbay::os::tls

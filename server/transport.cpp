#include "server/transport.h"

#include "base/thread_role.h"
#include "foundation/log.h"
#include "os/net.h"
#include "os/tls.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

namespace tillbay::transport {

namespace {

// One TLS connection: its socket (-1 when the slot is free) and its session.
struct Slot {
    std::atomic<int> socket { -1 };
    std::unique_ptr<os::tls::Session> session;
};

struct Config {
    bool tls = true;
    std::string pin;
    std::string server_name;
};

// The configuration is written once at start-up, before any connection, and
// only read afterwards.
Config g_config;
std::atomic<bool> g_resumption { true };

std::mutex g_slot_lock;
std::array<Slot, max_tls_connections> g_slots;

std::mutex g_context_lock;
std::unique_ptr<os::tls::ClientContext> g_context;

os::tls::ClientContext* context()
{
    std::lock_guard guard(g_context_lock);
    if (!g_context) {
        g_context = os::tls::ClientContext::create();
        if (g_context)
            g_context->set_resumption(g_resumption);
    }
    return g_context.get();
}

// Finding a socket's slot reads the table without the lock: a slot's socket
// changes only when its owner takes or frees it.
Slot* find_slot(int socket)
{
    if (socket < 0)
        return nullptr;
    for (Slot& slot : g_slots) {
        if (slot.socket.load(std::memory_order_acquire) == socket)
            return &slot;
    }
    return nullptr;
}

template<typename... Args>
std::string format(char const* pattern, Args... args)
{
    char text[512];
    int n = std::snprintf(text, sizeof text, pattern, args...);
    if (n < 0)
        return {};
    return std::string(text, static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1);
}

std::string handshake_message(os::tls::HandshakeFailure const& failure)
{
    using os::tls::Failure;
    switch (failure.kind) {
    case Failure::Setup:
        return format("TLS 자격 준비 실패 (0x%08lx)", failure.code);
    case Failure::NoResponse:
        return "TLS 핸드셰이크 응답 없음";
    case Failure::PeerClosed:
        return "TLS 핸드셰이크 중 끊김 — 서버가 TLS 포트가 아닐 수 있습니다";
    case Failure::SendFailed:
        return "TLS 핸드셰이크 전송 실패";
    case Failure::ClientCertRequired:
        return "서버가 클라이언트 인증서를 요구합니다";
    case Failure::UntrustedRoot:
        return "서버 인증서를 신뢰할 수 없습니다";
    case Failure::Expired:
        return "서버 인증서 기한이 지났습니다";
    case Failure::WrongName:
        return "서버 인증서 이름이 주소와 다릅니다";
    case Failure::NoCertificate:
        return "서버 인증서를 받지 못했습니다";
    case Failure::PinMismatch:
        return format("서버 인증서 지문이 다릅니다 (받은 것 %.8s…, ini %.8s…) — 접속을 끊습니다",
            failure.fingerprint.c_str(), g_config.pin.c_str());
    case Failure::None:
    case Failure::Other:
        break;
    }
    return format("TLS 핸드셰이크 실패 (0x%08lx)", failure.code);
}

void free_slot(Slot& slot)
{
    std::lock_guard guard(g_slot_lock);
    slot.session.reset();
    slot.socket.store(-1, std::memory_order_release);
}

// What one read brought, in either mode.
enum class Got {
    Data,
    Nothing,
    End, // closed or failed: nothing more will come
};

Got read_some(int socket, Slot* slot, char* buffer, size_t room, int wait_ms, size_t& bytes)
{
    bytes = 0;
    if (slot) {
        auto outcome = slot->session->read(std::span<char>(buffer, room), wait_ms);
        switch (outcome.status) {
        case os::tls::ReadStatus::Data:
            bytes = outcome.bytes;
            return Got::Data;
        case os::tls::ReadStatus::TimedOut:
            return Got::Nothing;
        case os::tls::ReadStatus::Closed:
            return Got::End;
        case os::tls::ReadStatus::Failed:
            log::transport("DECRYPT sock=%u 0x%08lx in=%d", static_cast<unsigned>(socket), outcome.code, 0);
            return Got::End;
        }
        return Got::End;
    }
    auto ready = os::net::wait(socket, os::net::Direction::Read, wait_ms);
    if (ready == os::net::Ready::TimedOut)
        return Got::Nothing;
    if (ready == os::net::Ready::Failed)
        return Got::End;
    auto got = os::net::recv_some(socket, std::span<char>(buffer, room));
    if (!got.ok())
        return got.error().code == EAGAIN || got.error().code == EWOULDBLOCK ? Got::Nothing : Got::End;
    if (got.value() == 0)
        return Got::End;
    bytes = got.value();
    return Got::Data;
}

// Set by abort_all(): every wait ends at once and no new connection starts.
std::atomic<bool> g_aborted { false };

// Every socket of an open connection, so that abort_all() can end their waits.
std::mutex g_open_lock;
std::vector<int> g_open;

void remember_open(int socket)
{
    std::lock_guard guard(g_open_lock);
    g_open.push_back(socket);
}

void forget_open(int socket)
{
    std::lock_guard guard(g_open_lock);
    std::erase(g_open, socket);
}

Error receive_error(ReceiveFailure failure, std::string detail)
{
    return Error { static_cast<int>(failure), std::move(detail), {} };
}

} // namespace

std::string normalise_pin(std::string_view fingerprint)
{
    std::string pin;
    for (char c : fingerprint) {
        if (c == ':' || c == ' ' || c == '-')
            continue;
        if (c >= 'A' && c <= 'F')
            c = static_cast<char>(c - 'A' + 'a');
        pin.push_back(c);
        if (pin.size() == pin_length)
            return pin;
    }
    return {};
}

void configure(bool tls, std::string_view fingerprint, std::string_view server_name)
{
    g_config.tls = tls;
    g_config.pin = normalise_pin(fingerprint);
    g_config.server_name = std::string(server_name.substr(0, max_server_name));
    {
        std::lock_guard guard(g_slot_lock);
        for (Slot& slot : g_slots) {
            slot.session.reset();
            slot.socket.store(-1, std::memory_order_release);
        }
    }
    std::lock_guard guard(g_context_lock);
    if (g_context)
        g_context->forget_sessions();
}

bool tls_enabled() { return g_config.tls; }

std::string const& pin() { return g_config.pin; }

void set_session_resumption(bool on)
{
    g_resumption = on;
    std::lock_guard guard(g_context_lock);
    if (g_context)
        g_context->set_resumption(on);
}

Result<int> connect(std::string_view host, int port, int timeout_ms)
{
    thread_role::expect_off_ui_thread("서버 연결");
    if (g_aborted.load())
        return Error::with_message("프로그램을 닫는 중입니다", "transport aborted");
    if (host.empty() || port < 1 || port > 65535)
        return Error::with_message("주소나 포트가 비어 있습니다");
    std::string host_text(host);

    auto outcome = os::net::connect_tcp(host, port, timeout_ms);
    if (!outcome.resolved)
        return Error::with_message(format("주소를 찾을 수 없습니다 (%s)", host_text.c_str()), "resolve " + host_text);
    if (!outcome.socket.valid()) {
        return Error::with_message(
            format("연결 실패 (%s:%d, 주소 %d개 시도)", host_text.c_str(), port, outcome.addresses_tried),
            "connect failed", os::net::program_code(outcome.last_error));
    }
    (void)os::net::set_no_delay(outcome.socket.get());

    if (!g_config.tls) {
        log::transport("PLAIN %s:%d (tls=0)", host_text.c_str(), port);
        remember_open(outcome.socket.get());
        return outcome.socket.release();
    }

    int socket = outcome.socket.get();
    Slot* slot = nullptr;
    {
        std::lock_guard guard(g_slot_lock);
        for (Slot& candidate : g_slots) {
            if (candidate.socket.load(std::memory_order_acquire) < 0) {
                slot = &candidate;
                slot->session.reset();
                slot->socket.store(socket, std::memory_order_release);
                break;
            }
        }
    }
    if (!slot) {
        log::transport("FAIL %s:%d 슬롯 없음", host_text.c_str(), port);
        return Error::with_message("TLS 연결이 너무 많습니다");
    }

    // The handshake runs outside the lock: it may take seconds.
    os::tls::HandshakeFailure failure;
    std::unique_ptr<os::tls::Session> session;
    if (auto* ctx = context()) {
        os::tls::ClientOptions options;
        options.server_name = g_config.server_name;
        options.pin = g_config.pin;
        options.session_key = host_text + ":" + std::to_string(port);
        session = os::tls::Session::connect(*ctx, socket, options, failure);
    } else {
        failure.kind = os::tls::Failure::Setup;
    }
    if (!session) {
        std::string reason = handshake_message(failure);
        free_slot(*slot);
        log::transport("FAIL %s:%d %s", host_text.c_str(), port, reason.c_str());
        return Error::with_message("보안 연결 실패: " + reason, failure.detail, static_cast<int>(failure.kind));
    }
    slot->session = std::move(session);
    log::transport("OK   %s:%d sock=%u (pin=%s)", host_text.c_str(), port, static_cast<unsigned>(socket),
        g_config.pin.empty() ? "신뢰저장소" : "지문");
    remember_open(socket);
    if (g_aborted.load())
        os::net::shutdown_both(socket);
    return outcome.socket.release();
}

bool send(int socket, std::string_view bytes)
{
    if (socket < 0)
        return false;
    if (!g_config.tls)
        return os::net::send_all(socket, bytes, send_timeout_ms).ok();
    Slot* slot = find_slot(socket);
    return slot && slot->session && slot->session->write_all(bytes, send_timeout_ms);
}

Result<SecretString> receive_until_quiet(int socket, size_t max_bytes, int first_wait_ms)
{
    if (socket < 0)
        return receive_error(ReceiveFailure::Closed, "no socket");
    Slot* slot = g_config.tls ? find_slot(socket) : nullptr;
    if (g_config.tls && !slot)
        return receive_error(ReceiveFailure::Closed, "no TLS session");
    // Bytes arrive in chunks through a small buffer; the answer grows by
    // append_secret so that no copy of it stays behind in freed memory.
    std::array<char, 16 * 1024> chunk;
    SecretString answer;
    size_t bytes = 0;
    Got got = read_some(socket, slot, chunk.data(), chunk.size(), first_wait_ms, bytes);
    if (got == Got::Nothing)
        return receive_error(ReceiveFailure::TimedOut, "no answer within the first wait");
    while (got == Got::Data) {
        if (answer.size() + bytes > max_bytes) {
            wipe(chunk.data(), chunk.size());
            return receive_error(ReceiveFailure::TooLarge, "answer over " + std::to_string(max_bytes) + " bytes");
        }
        answer.append(std::string_view(chunk.data(), bytes));
        got = read_some(socket, slot, chunk.data(), chunk.size(), quiet_gap_ms, bytes);
    }
    wipe(chunk.data(), chunk.size());
    if (answer.empty())
        return receive_error(g_aborted.load() ? ReceiveFailure::Aborted : ReceiveFailure::Closed, "closed before an answer");
    return answer;
}

Result<size_t> receive_available(int socket, std::span<char> out, int wait_ms)
{
    if (socket < 0 || out.empty())
        return receive_error(ReceiveFailure::Closed, "no socket");
    Slot* slot = g_config.tls ? find_slot(socket) : nullptr;
    if (g_config.tls && !slot)
        return receive_error(ReceiveFailure::Closed, "no TLS session");
    size_t total = 0;
    size_t bytes = 0;
    Got got = read_some(socket, slot, out.data(), out.size(), wait_ms, bytes);
    if (got == Got::Nothing)
        return receive_error(ReceiveFailure::TimedOut, "nothing within the wait");
    total += bytes;
    // TLS may hold more already decrypted, or readable without a wait.
    while (slot && got == Got::Data && total < out.size()) {
        got = read_some(socket, slot, out.data() + total, out.size() - total, 0, bytes);
        total += bytes;
    }
    if (total == 0)
        return receive_error(ReceiveFailure::Closed, "closed");
    return total;
}

void abort_all()
{
    g_aborted.store(true);
    std::lock_guard guard(g_open_lock);
    for (int socket : g_open)
        os::net::shutdown_both(socket);
}

void close(int& socket)
{
    if (socket < 0)
        return;
    if (Slot* slot = find_slot(socket))
        free_slot(*slot);
    forget_open(socket);
    os::net::shutdown_and_close(socket);
}

void shutdown()
{
    std::lock_guard guard(g_context_lock);
    g_context.reset();
}

bool session_resumed(int socket)
{
    Slot* slot = g_config.tls ? find_slot(socket) : nullptr;
    return slot && slot->session && slot->session->resumed();
}

int slots_in_use()
{
    std::lock_guard guard(g_slot_lock);
    int used = 0;
    for (Slot const& slot : g_slots)
        used += slot.socket.load() >= 0;
    return used;
}

Result<Connection> Connection::open(std::string_view host, int port, int timeout_ms)
{
    auto socket = connect(host, port, timeout_ms);
    if (!socket.ok())
        return socket.release_error();
    return Connection(socket.value());
}

Connection& Connection::operator=(Connection&& other) noexcept
{
    if (this != &other) {
        close(m_socket);
        m_socket = other.m_socket;
        other.m_socket = -1;
    }
    return *this;
}

} // namespace tillbay::transport

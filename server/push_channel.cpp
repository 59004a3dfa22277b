#include "server/push_channel.h"

#include "foundation/log.h"
#include "os/process.h"
#include "server/transport.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <thread>

namespace tillbay::push {

namespace {

constexpr std::string_view k_ping = "ping";
constexpr std::string_view k_pong = "pong";
constexpr std::string_view k_store_key = "storeidx=";
constexpr std::string_view k_order_key = "orderidx=";

// atoi's reading (blanks, a sign, digits up to the first other byte) of
// the first 31 bytes, clamped to the 32-bit range instead of overflowing.
int32_t number_value(std::string_view value)
{
    value = value.substr(0, max_number_text);
    size_t i = 0;
    while (i < value.size() && (value[i] == ' ' || (value[i] >= '\t' && value[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '-' || value[i] == '+'))
        negative = value[i++] == '-';
    long long number = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i)
        number = std::min<long long>(number * 10 + (value[i] - '0'), 1LL << 31);
    number = negative ? -number : number;
    return static_cast<int32_t>(std::clamp<long long>(number, INT32_MIN, INT32_MAX));
}

bool is_proper_prefix(std::string_view fragment, std::string_view word)
{
    return fragment.size() < word.size() && word.substr(0, fragment.size()) == fragment;
}

// Whether a text that runs to the end of a receive may still be growing:
// a keyword cut short, a text without its order number yet, or one whose
// order number is its last pair and may have been cut in the middle.
bool may_continue(std::string_view message)
{
    if (is_proper_prefix(message, k_ping) || is_proper_prefix(message, k_pong) || is_proper_prefix(message, k_store_key))
        return true;
    size_t start = 0;
    bool found = false;
    size_t value_end = 0;
    while (start <= message.size()) {
        size_t end = message.find('&', start);
        if (end == std::string_view::npos)
            end = message.size();
        std::string_view pair = message.substr(start, end - start);
        if (pair.starts_with(k_order_key)) {
            found = true;
            value_end = end;
            break;
        }
        start = end + 1;
    }
    if (!found)
        return true;
    return value_end == message.size() && message.size() > 0 && message.back() >= '0' && message.back() <= '9';
}

} // namespace

std::optional<OrderEvent> parse_event_text(std::string_view text)
{
    std::optional<std::string_view> orderidx, storeidx, event;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('&', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view pair = text.substr(start, end - start);
        size_t equals = pair.find('=');
        std::string_view name = pair.substr(0, equals);
        std::string_view value = equals == std::string_view::npos ? std::string_view {} : pair.substr(equals + 1);
        if (equals != std::string_view::npos) {
            if (name == "orderidx" && !orderidx)
                orderidx = value;
            else if (name == "storeidx" && !storeidx)
                storeidx = value;
            else if (name == "event" && !event)
                event = value;
        }
        start = end + 1;
    }
    if (!orderidx)
        return std::nullopt;
    OrderEvent out;
    out.orderidx = number_value(*orderidx);
    out.storeidx = storeidx ? number_value(*storeidx) : 0;
    if (event) {
        std::string_view name = event->substr(0, max_event_name);
        size_t stop = name.find_first_of("\r\n ");
        out.event = std::string(name.substr(0, stop));
    }
    // A text that names no event (or an empty one) announces a new order.
    if (out.event.empty())
        out.event = "NEWORDER";
    return out;
}

void EventScanner::feed(std::string_view data, Handlers const& handlers)
{
    std::string joined;
    if (!m_carry.empty()) {
        joined = std::move(m_carry);
        m_carry.clear();
        joined.append(data);
        data = joined;
    }
    size_t i = 0;
    while (i < data.size()) {
        std::string_view rest = data.substr(i);
        if (rest.starts_with(k_ping)) {
            if (handlers.ping)
                handlers.ping();
            i += 4;
            continue;
        }
        if (rest.starts_with(k_pong)) {
            i += 4;
            continue;
        }
        size_t end = data.size();
        for (std::string_view word : { k_store_key, k_ping, k_pong })
            end = std::min(end, data.find(word, i + 1) == std::string_view::npos ? data.size() : data.find(word, i + 1));
        std::string_view message = data.substr(i, end - i);
        if (end == data.size() && message.size() < max_carry && may_continue(message)) {
            m_carry = std::string(message);
            return;
        }
        if (auto event = parse_event_text(message); event && handlers.event)
            handlers.event(*event);
        i = end;
    }
}

// Everything the channel thread touches. Each start makes a new one, so a
// thread that did not stop in time keeps its own flags and never sees the
// next thread's.
struct PushChannel::Shared {
    ChannelConfig config;
    std::atomic<bool> running { false };
    std::atomic<bool> reconnect_now { false };
    std::atomic<int> state { 0 };
    std::atomic<int>* store = nullptr;
    std::atomic<double>* backoff_scale = nullptr;
    std::atomic<bool> abandoned { false };

    std::mutex lock;
    std::condition_variable wake;
    bool finished = false;

    // Held while a callback runs and when the channel is abandoned, so that
    // once stop() returns no callback runs or will run.
    std::mutex callback_lock;

    template<typename F>
    void notify(F&& call)
    {
        std::lock_guard guard(callback_lock);
        if (!abandoned.load())
            call(config.callbacks);
    }

    void set_state(ChannelState next, std::string const& text)
    {
        state.store(static_cast<int>(next));
        notify([&](ChannelCallbacks const& callbacks) {
            if (callbacks.state)
                callbacks.state(next, text);
        });
    }
};

namespace {

enum class Outcome {
    Clean,
    Failed,
};

Outcome run_connection(PushChannel::Shared& shared)
{
    // Registering follows: a store change noticed until now is part of it.
    shared.reconnect_now.store(false);
    int storeidx = shared.store->load();
    if (storeidx < 1) {
        shared.set_state(ChannelState::Failed, text::no_store);
        return Outcome::Failed;
    }
    shared.set_state(ChannelState::Connecting, text::connecting);
    auto connected = transport::connect(shared.config.host, shared.config.port, connect_timeout_ms);
    if (!connected.ok()) {
        shared.set_state(ChannelState::Failed, connected.error().message);
        return Outcome::Failed;
    }
    int socket = connected.value();
    if (!transport::send(socket, shared.config.header.str())) {
        transport::close(socket);
        shared.set_state(ChannelState::Failed, text::header_failed);
        return Outcome::Failed;
    }
    std::string registration = "register&storeidx=" + std::to_string(storeidx) + "&devicetype=" + std::to_string(shared.config.devicetype);
    if (!transport::send(socket, registration)) {
        transport::close(socket);
        shared.set_state(ChannelState::Failed, text::register_failed);
        return Outcome::Failed;
    }
    shared.set_state(ChannelState::Receiving, text::receiving);
    shared.notify([](ChannelCallbacks const& callbacks) {
        if (callbacks.connected)
            callbacks.connected();
    });

    EventScanner scanner;
    EventScanner::Handlers handlers;
    handlers.ping = [&] { (void)transport::send(socket, k_pong); };
    handlers.event = [&](OrderEvent const& event) {
        shared.notify([&](ChannelCallbacks const& callbacks) {
            if (callbacks.event)
                callbacks.event(event);
        });
    };
    std::array<char, receive_chunk> buffer;
    // The receive wait is cut into short slices so that a stop or a store
    // change is noticed within one slice: a sign-out waits for this thread on
    // the UI thread, and a whole receive wait there would freeze the screen.
    int quiet_ms = 0;
    while (shared.running.load()) {
        if (shared.reconnect_now.exchange(false)) {
            transport::close(socket);
            return Outcome::Clean;
        }
        auto got = transport::receive_available(socket, buffer, receive_slice_ms);
        if (!got.ok() && got.error().code == static_cast<int>(transport::ReceiveFailure::TimedOut)) {
            quiet_ms += receive_slice_ms;
            if (quiet_ms < receive_wait_ms)
                continue;
            quiet_ms = 0;
            // Nothing followed what was held back: read it as it stands.
            std::string held = scanner.held_back();
            scanner.flush();
            if (!held.empty())
                if (auto event = parse_event_text(held))
                    handlers.event(*event);
            continue;
        }
        if (!got.ok()) {
            transport::close(socket);
            shared.set_state(ChannelState::Failed, text::lost);
            return Outcome::Failed;
        }
        quiet_ms = 0;
        scanner.feed(std::string_view(buffer.data(), got.value()), handlers);
    }
    transport::close(socket);
    return Outcome::Clean;
}

// Channel threads still running, for wait_for_channel_threads().
std::mutex g_live_lock;
std::condition_variable g_live_changed;
int g_live = 0;

void run_thread(std::shared_ptr<PushChannel::Shared> shared)
{
    struct Live {
        ~Live()
        {
            std::lock_guard guard(g_live_lock);
            --g_live;
            g_live_changed.notify_all();
        }
    } live;
    // The channel is a convenience on top of the board's own reloads: a
    // failure inside it is logged and must not take the program down.
    log::guarded("주문 알림 연결 실패", [&] {
        int backoff = first_backoff_ms;
        while (shared->running.load()) {
            if (run_connection(*shared) == Outcome::Clean) {
                backoff = first_backoff_ms;
                continue;
            }
            auto pause = std::chrono::milliseconds(static_cast<long long>(backoff * shared->backoff_scale->load()));
            auto deadline = std::chrono::steady_clock::now() + pause;
            {
                std::unique_lock lock(shared->lock);
                shared->wake.wait_until(lock, deadline,
                    [&] { return !shared->running.load() || shared->reconnect_now.load(); });
            }
            backoff = std::min(backoff * 2, max_backoff_ms);
        }
    });
    shared->set_state(ChannelState::Stopped, text::stopped);
    std::lock_guard lock(shared->lock);
    shared->finished = true;
    shared->wake.notify_all();
}

std::atomic<int> g_store { 0 };

} // namespace

namespace {
std::atomic<double> g_backoff_scale { 1.0 };
}

PushChannel::PushChannel() = default;

PushChannel::~PushChannel() { stop(); }

bool PushChannel::start(ChannelConfig config)
{
    if (m_shared && m_shared->running.load())
        return false;
    if (config.host.empty() || config.host.size() > max_host || config.header.empty() || config.header.str().size() > max_header
        || config.port <= 0 || config.port > 65535)
        return false;
    if (m_shared)
        stop();
    if (config.devicetype < 1)
        config.devicetype = 1;
    g_store.store(config.storeidx);
    auto shared = std::make_shared<Shared>();
    shared->config = std::move(config);
    shared->store = &g_store;
    shared->backoff_scale = &g_backoff_scale;
    shared->running.store(true);
    m_shared = shared;
    {
        std::lock_guard guard(g_live_lock);
        ++g_live;
    }
    // Detached: a thread stuck in a connect must not hold up a sign-out. It
    // owns its record, calls nobody back once abandoned, and the end of the
    // program waits for it (wait_for_channel_threads).
    os::process::start_thread([shared] { run_thread(shared); }).detach();
    return true;
}

void PushChannel::stop()
{
    if (!m_shared)
        return;
    auto shared = std::move(m_shared);
    shared->running.store(false);
    {
        std::lock_guard guard(shared->callback_lock);
        shared->abandoned.store(true);
    }
    std::lock_guard lock(shared->lock);
    shared->wake.notify_all();
}

bool wait_for_channel_threads(int timeout_ms)
{
    std::unique_lock lock(g_live_lock);
    return g_live_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [] { return g_live == 0; });
}

void PushChannel::set_store(int storeidx)
{
    g_store.store(storeidx);
    if (m_shared) {
        m_shared->reconnect_now.store(true);
        std::lock_guard lock(m_shared->lock);
        m_shared->wake.notify_all();
    }
}

int PushChannel::store() const { return g_store.load(); }

ChannelState PushChannel::state() const
{
    return m_shared ? static_cast<ChannelState>(m_shared->state.load()) : ChannelState::Stopped;
}

bool PushChannel::running() const { return m_shared && m_shared->running.load(); }

void PushChannel::set_backoff_scale_for_testing(double factor) { g_backoff_scale.store(factor); }

} // namespace tillbay::push

#pragma once

// The order push channel: one long-lived connection to the platform's relay
// port, on which the signed-in store is registered and the server announces
// new and paid orders as short form-style texts
// ("storeidx=12&orderidx=3456&event=NEWORDER"), with "ping" now and then,
// answered by "pong". The channel thread never touches a page: its three
// callbacks only hand over to the UI thread.
//
// A failed connection is retried after a pause that doubles from 1 s up to
// 30 s; a change of store drops the connection and registers again at once.

#include "os/crypto.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::push {

inline constexpr size_t max_host = 127;
inline constexpr size_t max_header = 255;
inline constexpr size_t max_event_name = 63;
inline constexpr size_t max_number_text = 31;
// One receive takes at most this much.
inline constexpr size_t receive_chunk = 4096;
// A fragment held back for the next receive never grows beyond this.
inline constexpr size_t max_carry = 1024;

inline constexpr int connect_timeout_ms = 5000;
inline constexpr int receive_wait_ms = 1000;
// The slice of that wait after which the thread looks at its flags again.
inline constexpr int receive_slice_ms = 100;
inline constexpr int first_backoff_ms = 1000;
inline constexpr int max_backoff_ms = 30000;
inline constexpr int backoff_step_ms = 200;

enum class ChannelState : int {
    Stopped = 0,
    Connecting = 1,
    Receiving = 2,
    Failed = 3,
};

namespace text {
inline constexpr char const* no_store = "매장이 정해지지 않았습니다 (로그인 필요)";
inline constexpr char const* connecting = "연결 중";
inline constexpr char const* header_failed = "헤더 전송 실패";
inline constexpr char const* register_failed = "등록 전송 실패";
inline constexpr char const* receiving = "주문 수신 중";
inline constexpr char const* lost = "연결이 끊겼습니다";
inline constexpr char const* stopped = "정지";
inline constexpr char const* waiting = "연결 대기";
inline constexpr char const* header_missing = "주문 알림 연결 설정이 비어 있습니다 — 설치 담당자에게 알려 주세요";
} // namespace text

struct OrderEvent {
    int32_t storeidx = 0;
    int32_t orderidx = 0;
    std::string event; // at most max_event_name bytes

    bool operator==(OrderEvent const&) const = default;
};

// Reads one event text. Nothing without an `orderidx` pair.
std::optional<OrderEvent> parse_event_text(std::string_view text);

// Splits what the relay sends into pings, pongs and event texts. The relay
// ends nothing with a delimiter, so a receive that stops in the middle of a
// keyword or before an event's order number is held back and joined to the
// next one instead of being read as a broken event.
class EventScanner {
public:
    struct Handlers {
        std::function<void()> ping;
        std::function<void(OrderEvent const&)> event;
    };
    void feed(std::string_view data, Handlers const& handlers);
    // A receive that timed out: whatever was held back was not the start of anything.
    void flush() { m_carry.clear(); }
    std::string const& held_back() const { return m_carry; }

private:
    std::string m_carry;
};

// The end of the program: waits until every channel thread ever started has
// ended (after transport::abort_all() that is at once). False on time-out.
bool wait_for_channel_threads(int timeout_ms);

struct ChannelCallbacks {
    std::function<void(OrderEvent const&)> event;
    std::function<void()> connected;
    std::function<void(ChannelState state, std::string const& text)> state;
};

struct ChannelConfig {
    std::string host;
    int port = 0;
    SecretString header;
    int storeidx = 0;
    int devicetype = 1;
    ChannelCallbacks callbacks;
};

class PushChannel {
public:
    PushChannel();
    ~PushChannel(); // stops the thread

    PushChannel(PushChannel const&) = delete;
    PushChannel& operator=(PushChannel const&) = delete;

    // Starts the channel thread; false when one is running, or the host,
    // the header or the port is missing. A device type below 1 becomes 1.
    bool start(ChannelConfig config);
    // Clears the running flag and returns at once: from then on the thread
    // calls nobody back, and it ends within its current receive slice, or
    // its connect or send.
    void stop();
    // The store to register; raises the reconnect-now flag.
    void set_store(int storeidx);
    int store() const;
    ChannelState state() const;
    bool running() const;

    // Tests shorten the pauses; every pause is multiplied by the factor.
    void set_backoff_scale_for_testing(double factor);

    struct Shared;

private:
    std::shared_ptr<Shared> m_shared;
};

} // namespace tillbay::push

#pragma once

// The platform's service status and the two link clocks. A watch thread
// fetches "/v2/pos/service.json" from the web host every minute; the service
// block tells the pages which parts of the platform are under maintenance,
// and the clocks feed the server-down warning when the order push channel or
// the web host has been unreachable for some minutes.

#include "base/result.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace tillbay::bridge {


inline constexpr std::string_view service_status_path = "/v2/pos/service.json";
// The message shown when the service file gives none.
inline constexpr char const* default_service_message = "서비스 점검중입니다";

struct ServiceBlock {
    int merchant = 0; // owner screens under maintenance
    int food = 0;     // the food business mode
    int shop = 0;     // the shop business mode
    int pos = 0;      // the POS itself (the kitchen display page is covered)
    std::string message; // up to 199 bytes
    std::string notice;  // up to 399 bytes

    bool operator==(ServiceBlock const&) const = default;
};

// Reads the service file's members; missing integers are 0, texts are cut to
// their sizes, an empty message becomes the default text.
ServiceBlock parse_service_block(std::string_view json_text);

// "window.setServiceBlock&&setServiceBlock(merchant,food,shop,message,notice,pos)"
std::string service_block_script(ServiceBlock const& block);

// Milliseconds of a monotonic clock; never 0 so that 0 can mean "not set".
uint64_t tick_now();

// The shared record: the last service block under its own lock, the clocks
// as single atomic words.
class ServiceState {
public:
    ServiceBlock block() const;
    // Stores the block; true when it differed from the stored one.
    bool store_block(ServiceBlock const& block);

    // Order push channel state as the relaystate commands report it: "on"
    // clears the down clock; the first "off" after "on" starts it.
    void set_channel_state(bool connected, uint64_t now = tick_now());
    bool channel_connected() const { return m_channel_connected.load(); }
    uint64_t channel_down_since() const { return m_channel_down_since.load(); }
    // A staff sign-out stops the channel and forgets its clock.
    void clear_channel_clock() { m_channel_down_since.store(0); }

    void web_reachable() { m_web_down_since.store(0); }
    void web_unreachable(uint64_t now = tick_now());
    uint64_t web_down_since() const { return m_web_down_since.load(); }

    // "window.setServerDown&&setServerDown(minutes,names)". threshold_minutes
    // 0 reads it from TILLBAY_DOWNMIN (its first character 1-9, else 3).
    std::string server_down_script(uint64_t now = tick_now(), int threshold_minutes = 0) const;

private:
    mutable std::mutex m_lock;
    ServiceBlock m_block;
    std::atomic<bool> m_channel_connected { false };
    std::atomic<uint64_t> m_channel_down_since { 0 };
    std::atomic<uint64_t> m_web_down_since { 0 };
};

} // namespace tillbay::bridge

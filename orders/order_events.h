#pragma once

// Where the order push channel meets the order board. The channel thread
// hands its order events straight to the bridge as order notices; the drain
// passes every notice waiting at that moment to the board's reloads, which
// reload the list once on the command lane and then tell the page which
// orders it concerns. The channel's "connected" asks for one more reload, so
// that nothing that arrived while the link was down is missed.

#include "bridge/bridge.h"
#include "orders/board_reloads.h"
#include "orders/order_board.h"
#include "server/push_channel.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tillbay::orders {

// The page callback that follows the reload, by event name; "" for names
// that only reload the board.
std::string event_callback_name(std::string_view event);

// The channel's settings as the program runs it: the settings host and
// relay port, the relay header, device type 1.
struct PushSettings {
    std::string host;
    int relayport = 0;
    SecretString header;
    static PushSettings configured();
};

class PushLink {
public:
    PushLink(OrderBoard& board, bridge::Bridge& bridge, std::function<PushSettings()> settings = PushSettings::configured);

    // Page set-up: starts the channel when it is not running, or tells the
    // page its state.
    void start_or_report(bridge::Page& page);
    // Sign-in: register the new store at once.
    void store_changed(int storeidx);
    // Sign-out: the channel stops calling back at once; its thread ends on
    // its own (wait_for_channel_threads() waits for it at the end).
    void stop();
    // The notices one drain took from the bridge. Any thread.
    void deliver(std::vector<bridge::OrderNotice> notices);
    // On the lane: one reload of the board, then each notice's callback.
    void answer(std::vector<bridge::OrderNotice> const& notices, bridge::Page& page);

    push::PushChannel& channel() { return m_channel; }
    BoardReloads& reloads() { return m_reloads; }

private:
    void reload(std::vector<bridge::OrderNotice> notices);
    void report_state(push::ChannelState state, std::string const& text);

    OrderBoard& m_board;
    bridge::Bridge& m_bridge;
    std::function<PushSettings()> m_settings;
    BoardReloads m_reloads;
    push::PushChannel m_channel;
    // The last failure text written to the log, so a channel that keeps
    // failing the same way writes one line, not one per retry.
    std::mutex m_log_lock;
    std::string m_last_failure;
};

} // namespace tillbay::orders

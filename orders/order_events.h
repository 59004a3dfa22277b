#pragma once

// Where the order push channel meets the order board. The channel thread's
// callbacks post app messages (an order event, "connected", a state text);
// on the UI thread each event reloads the board and then tells the page
// which order it concerns, and the connected notice reloads the board once
// more so that nothing that arrived while the link was down is missed.

#include "bridge/family.h"
#include "shell/app_queue.h"
#include "orders/order_board.h"
#include "server/push_channel.h"

#include <memory>
#include <mutex>
#include <string>

namespace tillbay::orders {

// An order event on its way from the channel thread to the UI thread.
struct OrderEventMessage final : shell::AppPayload {
    explicit OrderEventMessage(push::OrderEvent e)
        : event(std::move(e))
    {
    }
    push::OrderEvent event;
};

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
    PushLink(OrderBoard& board, shell::AppQueue& app_queue, std::function<PushSettings()> settings = PushSettings::configured);

    // Page set-up: starts the channel when it is not running, or tells the
    // page its state.
    void start_or_report(bridge::Page& page);
    // Sign-in: register the new store at once.
    void store_changed(int storeidx);
    // Sign-out and the end of the program.
    void stop();
    // UI thread: one event from the channel.
    void deliver(push::OrderEvent const& event, bridge::Page& page);

    push::PushChannel& channel() { return m_channel; }

private:
    OrderBoard& m_board;
    shell::AppQueue& m_app_queue;
    std::function<PushSettings()> m_settings;
    push::PushChannel m_channel;
    // The last failure text written to the log, so a channel that keeps
    // failing the same way writes one line, not one per retry.
    std::mutex m_log_lock;
    std::string m_last_failure;
};

} // namespace tillbay::orders

#pragma once

// Everything the order subsystem adds to the running program, in one place:
// the order board, the `order` family, the push channel and the hooks that
// tie them to the bridge, the sign-in and the app-message queue. start-up
// makes one of these after the bridge and the login hooks exist.

#include "bridge/bridge.h"
#include "shell/app_queue.h"
#include "orders/order_board.h"
#include "orders/order_events.h"
#include "orders/order_family.h"
#include "server/login_family.h"

namespace tillbay::orders {

class OrderWiring {
public:
    OrderWiring(bridge::Bridge& bridge, shell::AppQueue& app_queue);

    // Registers the `order` family with the bridge.
    void attach();
    // Page set-up starts the push channel and reloads the board; the resync notice reloads it.
    void add_bridge_hooks(bridge::BridgeHooks& hooks);
    // Sign-in re-registers the channel; sign-out stops it (after whatever the hook already did).
    void add_login_hooks(server::LoginHooks& hooks);
    // An order event from the channel: queued for the drain, ahead of any
    // command. True when the message was one.
    bool take_app_message(shell::AppMessage& message);
    // The end of the program: stops the push channel.
    void shut_down();

    OrderBoard& board() { return m_board; }
    PushLink& push_link() { return m_push; }

private:
    bridge::Bridge& m_bridge;
    OrderBoard m_board;
    OrderFamily m_family;
    PushLink m_push;
};

} // namespace tillbay::orders

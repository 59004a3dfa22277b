#pragma once

// Everything the order subsystem adds to the running program, in one place:
// the order board, the `order` family, the push channel and the hooks that
// tie them to the bridge and the sign-in. The program makes one of these
// after the bridge exists.

#include "bridge/bridge.h"
#include "orders/order_board.h"
#include "orders/order_events.h"
#include "orders/order_family.h"
#include "orders/outage_watch.h"
#include "server/login_family.h"

namespace tillbay::orders {

class OrderWiring {
public:
    explicit OrderWiring(bridge::Bridge& bridge);

    // Registers the `order` family and the push handler with the bridge.
    void attach();
    // Page set-up starts the push channel and reloads the board.
    void add_bridge_hooks(bridge::BridgeHooks& hooks);
    // Sign-in re-registers the channel; sign-out stops it (after whatever the hook already did).
    void add_login_hooks(server::LoginHooks& hooks);
    // The end of the program: stops the outage watch and the push channel.
    void shut_down();

    OrderBoard& board() { return m_board; }
    PushLink& push_link() { return m_push; }

private:
    bridge::Bridge& m_bridge;
    OrderBoard m_board;
    OrderFamily m_family;
    PushLink m_push;
    std::function<void(std::string_view)> m_navigate;
    OutageWatch m_outage;
};

} // namespace tillbay::orders

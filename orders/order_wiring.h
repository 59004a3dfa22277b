#pragma once

// Everything the order subsystem adds to the running program, in one place:
// the order board, the `order` family, the push channel and the hooks that
// tie them to the bridge and the sign-in. The program makes one of these
// after the bridge exists.

#include "bridge/bridge.h"
#include "orders/order_actions.h"
#include "orders/order_board.h"
#include "orders/order_events.h"
#include "orders/order_family.h"
#include "orders/order_taking.h"
#include "orders/outage_watch.h"
#include "server/login_family.h"
#include "server/staff_lock.h"

namespace tillbay::orders {

class OrderWiring {
public:
    explicit OrderWiring(bridge::Bridge& bridge);

    // Registers the `order` families (board, order taking, order actions), the lock commands
    // (`pc` slot) and the push handler with the bridge.
    void attach();
    // Page set-up sends the order request context, starts the push channel
    // and reloads the board.
    void add_bridge_hooks(bridge::BridgeHooks& hooks);
    // Sign-in re-registers the channel; sign-out stops it (after whatever the hook already did).
    void add_login_hooks(server::LoginHooks& hooks);
    // The end of the program: stops the outage watch and the push channel.
    void shut_down();

    OrderBoard& board() { return m_board; }
    OrderActions& actions() { return m_actions; }
    PushLink& push_link() { return m_push; }

private:
    bridge::Bridge& m_bridge;
    OrderBoard m_board;
    OrderFamily m_family;
    OrderTakingFamily m_taking;
    server::StaffLock m_lock;
    server::LockFamily m_lock_family;
    OrderActions m_actions;
    OrderActionFamily m_action_family;
    PushLink m_push;
    std::function<void(std::string_view)> m_navigate;
    OutageWatch m_outage;
};

} // namespace tillbay::orders

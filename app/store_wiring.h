#pragma once

// The owner's back-office families as the program runs them: the command
// table's families in their bridge slots, with the hooks that tie them to the
// window (the page script, the desktop's address handler), the order board
// and the navigation family's routing.

#include "bridge/bridge.h"
#include "store/store_families.h"

#include <functional>
#include <string_view>

namespace tillbay::app {

class StoreWiring {
public:
    explicit StoreWiring(bridge::Bridge& bridge);

    // Registers the families after the ones already in their slots.
    void attach();

    // The navigation family's page routing and merchready's history entry.
    void set_route_page(std::function<void(std::string_view page)> route);
    void set_record_page(std::function<void(std::string_view page, bool old)> record);

private:
    bridge::Bridge& m_bridge;
    store::Context m_context;
    store::StoreFamily m_menu;
    store::StoreFamily m_store;
    store::StoreFamily m_product;
    store::StoreFamily m_pc;
    store::StoreFamily m_sales;
    store::StoreFamily m_history;
};

} // namespace tillbay::app

#pragma once

// The owner's back-office families as the program runs them: the command
// table's families in their bridge slots, with the hooks that tie them to the
// window (the page script, the desktop's address handler), the order board
// and the navigation family's routing.

#include "bridge/bridge.h"
#include "bridge/lane.h"
#include "os/file_dialog.h"
#include "store/file_family.h"
#include "store/store_families.h"

#include <functional>
#include <memory>
#include <string_view>

namespace tillbay::app {

class StoreWiring {
public:
    explicit StoreWiring(bridge::Bridge& bridge);
    ~StoreWiring();

    // Registers the families after the ones already in their slots.
    void attach();

    // The navigation family's page routing and merchready's history entry.
    void set_route_page(std::function<void(std::string_view page)> route);
    void set_record_page(std::function<void(std::string_view page, bool old)> record);
    // The file dialogs: GTK's, or fixed answers for tests of the running program.
    void use_dialogs(std::unique_ptr<os::dialog::Dialogs> dialogs);

private:
    bridge::Bridge& m_bridge;
    store::Context m_context;
    store::StoreFamily m_menu;
    store::StoreFamily m_store;
    store::StoreFamily m_product;
    store::StoreFamily m_pc;
    store::StoreFamily m_sales;
    store::StoreFamily m_history;
    // The files the owner keeps: dialogs on the UI thread, the work after
    // them on a worker of its own, so a long export never holds up the
    // command lane.
    std::unique_ptr<os::dialog::Dialogs> m_dialogs;
    bridge::Lane m_files_worker { "files" };
    store::FileHooks m_file_hooks;
    store::FileFamily m_menu_files;
    store::FileFamily m_product_files;
};

} // namespace tillbay::app

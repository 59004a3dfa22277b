#pragma once

// Navigation, the page API relay and the PC preferences as the program runs
// them: the page router with its `nav` family in the `nav` slot, the
// preference commands in the `pc` slot, the bundle page check that starts a
// bundle fetch when a page is missing, and the relay workers behind the
// API virtual host.

#include "main_view.h"

#include "bridge/bridge.h"
#include "bridge/policy.h"
#include "os/autostart.h"
#include "server/login_family.h"
#include "shell/nav_family.h"
#include "shell/page_router.h"
#include "shell/preferences.h"
#include "shell/relay.h"

#include <functional>
#include <memory>
#include <string_view>

namespace tillbay::app {

class NavWiring {
public:
    // What the wiring needs from the rest of the program.
    struct Context {
        std::function<server::UpdateState()> update_state;
        std::function<void(server::UpdateState)> set_update_state;
        std::function<void(bridge::Page&)> send_update_state;
        // Starts an update run; finished is called on the update thread at its end.
        std::function<void(std::function<void()> finished)> start_update_thread;
        std::function<void()> play_test_sound;
    };

    NavWiring(bridge::PagePolicy const& policy, MainView& view, Context context);
    ~NavWiring();

    NavWiring(NavWiring const&) = delete;
    NavWiring& operator=(NavWiring const&) = delete;

    // Registers the families and joins the main view (relay, commits).
    void attach();
    // The page set-up's first-run request and the address page's `back`.
    void add_bridge_hooks(bridge::BridgeHooks& hooks);
    // Opens a page the sign-in commands ask for; any thread.
    void open_page(std::string_view name);
    // Routes to a page of the merchant folder for a back-office command; any thread.
    void route_page(std::string_view name);
    // A page that reported itself ready asks to be in the back history
    // (an old store page when old); any thread.
    void record_page(std::string_view name, bool old);
    // The relay workers start with the web view and stop at the end.
    void start();
    void shut_down();

private:
    bool page_check(std::string_view relative_path, bridge::Page& page);
    void end_page_fetch();

    bridge::PagePolicy const& m_policy;
    MainView& m_view;
    bridge::Bridge& m_bridge;
    Context m_context;
    std::unique_ptr<os::Autostart> m_autostart;
    shell::PageRouter m_router;
    shell::NavFamily m_nav_family;
    shell::PreferencesFamily m_preferences;
    shell::relay::Relay m_relay;
};

} // namespace tillbay::app

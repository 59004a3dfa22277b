#pragma once

// The bridge commands of signing in and out: `loginready`, `setloginmode`,
// `login`, `logout` (the login page) and `merchlogin`, `merchlogout`,
// `getmaindash` (the owner's screens). Those that ask the server run on the
// command lane, the rest on the UI thread; all answer through page callbacks
// and status messages.
//
// The family needs a few things from other subsystems (navigation, the
// update state, the push channel); they come as hooks, so the family runs in
// tests without a display and with whatever a test wants to record.

#include "bridge/family.h"

#include <functional>
#include <string>
#include <string_view>

namespace tillbay::server {

struct UpdateState {
    std::string name;    // "app-fetch", "ui-ready", ... or empty
    std::string message; // the update's text for the user, may be empty
};

struct LoginHooks {
    // Opens a page of the UI bundle ("orders.html", "login.html", "home.html").
    // Called from the command lane too: it must hand the navigation to the UI thread.
    std::function<void(std::string_view page)> navigate;
    // The program and UI update state (read from the command lane too), and
    // its report to a page.
    std::function<UpdateState()> update_state;
    std::function<void(bridge::Page&)> send_update_state;
    // The push channel's server-down report to a page.
    std::function<void(bridge::Page&)> send_server_down;
    // The service block (maintenance flags and notices) to a page.
    std::function<void(bridge::Page&)> send_service_block;
    // The push channel follows the signed-in store.
    std::function<void(int storeidx)> push_store_changed;
    // Stops the push channel and clears its down clock.
    std::function<void()> push_stop;
    // A staff sign-in got no answer from the server: offer the order list
    // kept from before the outage, when there is one.
    std::function<void(bridge::Page&)> offer_kept_board;
};

class LoginFamily final : public bridge::Family {
public:
    explicit LoginFamily(LoginHooks hooks);
    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override;
    // The sign-ins and the owner's dashboard ask the server: the command lane.
    bridge::Runs runs(std::string_view name) const override;

private:
    void loginready(bridge::Page& page);
    void setloginmode(bridge::Command const& command, bridge::Page& page);
    void login(bridge::Command const& command, bridge::Page& page);
    void logout(bridge::Page& page);
    void merchlogin(bridge::Command const& command, bridge::Page& page);
    void merchlogout(bridge::Page& page);
    void getmaindash(bridge::Page& page);

    // The update and TLS refusals shared by both sign-ins; true when refused.
    bool refused(bridge::Page& page);
    void sign_out_staff(bridge::Page& page);

    LoginHooks m_hooks;
};

} // namespace tillbay::server

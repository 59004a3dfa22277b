#pragma once

// The tablet door and the customer display as the program runs them: the door
// server with its settings commands, the machine's firewall, and the
// customer display's window with its commands, all in the `pc` slot of the
// bridge. Start-up opens the door (when TABLET/on says so) and the customer
// window once the main web view exists; shutdown closes both before the
// views go.

#include "bridge/bridge.h"
#include "bridge/policy.h"
#include "door/customer_display.h"
#include "door/door_server.h"
#include "door/tablet_family.h"
#include "os/firewall.h"
#include "os/linux/gtk_customer_window.h"

#include <memory>

namespace tillbay::app {

class DoorWiring {
public:
    DoorWiring(bridge::Bridge& bridge, bridge::PagePolicy const& policy, bool developer_extras);
    ~DoorWiring();

    DoorWiring(DoorWiring const&) = delete;
    DoorWiring& operator=(DoorWiring const&) = delete;

    // Registers the door's and the customer display's commands.
    void attach();
    // Inside the main loop, once the main web view exists.
    void start();
    // The main window is going: the door closes, then the customer window.
    void shut_down();
    // The sign-in page is about to open: the customer sees the idle screen.
    void before_login_page();
    // A page of the main view was set up: the customer screen gets the
    // shop's name again.
    void page_setup();

    gtk::WebView* customer_view() const { return m_window.view(); }

private:
    bridge::Bridge& m_bridge;
    door::Door m_door;
    std::unique_ptr<os::firewall::Firewall> m_firewall;
    door::TabletFamily m_tablet_family;
    gtk::CustomerWindow m_window;
    door::CustomerDisplay m_display;
    door::CustomerFamily m_customer_family;
};

} // namespace tillbay::app

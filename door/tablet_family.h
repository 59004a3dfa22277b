#pragma once

// The door's settings commands in the `pc` family: `gettablet`, `settablet`,
// `tablettoken`, `tabletfw` and `tabletfwclose`. Each answers the page with
// the door's status (setTabletCfg). They open sockets, run the firewall
// tools and list the interfaces, so they run on the command lane.
//
// The firewall tools ask the user for consent in a dialog of their own and
// report later; their outcome comes back as the program's own command
// `tabletfwdone`, which a page cannot send.

#include "bridge/family.h"
#include "door/door_server.h"
#include "os/firewall.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tillbay::door {

// The private IPv4 addresses among the PC's interface addresses, as
// "%u.%u.%u.%u", in order, without repeats; loopback and link-local left out.
std::vector<std::string> private_addresses(std::vector<std::array<uint8_t, 4>> const& addresses);

// The ports the program itself opened in the firewall (TABLET/fwports).
std::vector<int> ports_we_opened();

struct TabletHooks {
    // The PC's interface addresses (os::lan::ipv4_addresses).
    std::function<std::vector<std::array<uint8_t, 4>>()> interface_addresses;
    // Queues a trusted command for the UI thread, from any thread.
    std::function<void(std::string)> queue_command;
};

class TabletFamily final : public bridge::Family {
public:
    TabletFamily(Door& door, os::firewall::Firewall& firewall, TabletHooks hooks);

    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override;
    bridge::Runs runs(std::string_view name) const override;

    // The status object setTabletCfg gets.
    std::string status_json();

private:
    void set_tablet(bridge::Command const& command, bridge::Page& page);
    void open_firewall(bridge::Page& page);
    void close_firewall(bridge::Page& page);
    void firewall_done(bridge::Command const& command, bridge::Page& page);
    void answer(bridge::Page& page);

    Door& m_door;
    os::firewall::Firewall& m_firewall;
    TabletHooks m_hooks;
};

} // namespace tillbay::door

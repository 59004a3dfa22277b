#pragma once

// What the printer search needs to know about this PC's place on the LAN:
// its IPv4 interfaces with their kind, and the kernel's neighbour table.
// Addresses are IPv4 in host byte order (192.168.0.1 is 0xC0A80001).
//
// The directory roots are parameters so that tests can point the readers at
// a made-up sysfs or procfs tree.

#include "base/result.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tillbay::os::lan {

struct Roots {
    std::string sys = "/sys";
    std::string proc = "/proc";
};

enum class InterfaceKind {
    Ethernet,
    Wireless,
    Other, // loopback, tunnels, point-to-point links, anything without Ethernet framing
};

struct Interface {
    std::string name;
    uint32_t address = 0;
    uint32_t netmask = 0;
    bool up = false; // administratively up and with a carrier
    InterfaceKind kind = InterfaceKind::Other;
};

// Every IPv4 address of every interface (getifaddrs), with the interface's
// kind read from <sys>/class/net/<name>.
Result<std::vector<Interface>> ipv4_interfaces(Roots const& roots);

// The kind of one interface: the link type 1 (Ethernet framing) is Ethernet,
// or Wireless when the interface has a "wireless" or "phy80211" entry.
InterfaceKind interface_kind(std::string_view name, Roots const& roots);

enum class NeighbourState {
    Known,      // the neighbour answered (reachable, stale, delayed, probing, permanent)
    Incomplete, // address resolution was asked and has had no answer yet
    Failed,     // address resolution gave up: nobody has this address on the link
    Other,
};

struct Neighbour {
    uint32_t address = 0;
    NeighbourState state = NeighbourState::Other;
};

// The IPv4 rows of the neighbour table, at most max_rows: from netlink, or
// from <proc>/net/arp when netlink cannot be read.
Result<std::vector<Neighbour>> ipv4_neighbours(Roots const& roots, size_t max_rows);

// The rows of a /proc/net/arp text, at most max_rows; lines that do not read
// as a row are skipped.
std::vector<Neighbour> parse_proc_arp(std::string_view text, size_t max_rows);

} // namespace tillbay::os::lan

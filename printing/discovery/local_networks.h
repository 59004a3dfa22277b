#pragma once

// The networks the printer search may look at: the private IPv4 networks of
// this PC's wired and wireless interfaces. Only addresses on them are ever
// probed or become candidates, so the search never reaches past the PC's
// own LAN. Addresses are IPv4 in host byte order.

#include "os/discovery_lan.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tillbay::discovery {

inline constexpr size_t max_networks = 8;

struct Network {
    uint32_t own = 0;  // this PC's address on it
    uint32_t mask = 0;
    int prefix = 0;

    uint32_t base() const { return own & mask; }
    uint32_t broadcast() const { return base() | ~mask; }
    // Addresses between base and broadcast, this PC's own included.
    uint64_t host_count() const { return (uint64_t { 1 } << (32 - prefix)) - 2; }
    bool contains(uint32_t address) const { return (address & mask) == base(); }
};

// 10.0.0.0/8, 172.16.0.0/12, 192.168.0.0/16 or 169.254.0.0/16.
bool is_private(uint32_t address);

// The prefix length of a contiguous mask, or -1.
int prefix_length(uint32_t mask);

class LocalNetworks {
public:
    // Up to max_networks networks from interfaces that are up, Ethernet or
    // wireless, with a private address and a prefix of 1 to 30 bits.
    static LocalNetworks from(std::vector<os::lan::Interface> const& interfaces);

    bool empty() const { return m_networks.empty(); }
    std::vector<Network> const& list() const { return m_networks; }

    // On one of the networks, and neither this PC's own address on any of
    // them nor a network's base or broadcast address.
    bool is_local(uint32_t address) const;

private:
    std::vector<Network> m_networks;
};

} // namespace tillbay::discovery

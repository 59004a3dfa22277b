#pragma once

// Which addresses and ports the TCP scan tries, in which order. The host list
// holds at most max_hosts addresses, all of them local: the candidates found
// so far, the local rows of the neighbour table, the rest of the PC's own /24
// where it lies on the PC's network, then each network's host addresses from
// the bottom up. The pairs are each candidate's known ports first, then the
// printer ports in order over the whole host list, each pair once.

#include "printing/discovery/candidates.h"
#include "printing/discovery/local_networks.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tillbay::discovery {

inline constexpr size_t max_hosts = 1024;
inline constexpr size_t max_hosts_per_network = 1024;
inline constexpr std::array<uint16_t, 5> printer_ports = { 9100, 9101, 9102, 631, 515 };

struct Pair {
    uint32_t address = 0;
    uint16_t port = 0;
    bool operator==(Pair const&) const = default;
};

struct ScanPlan {
    std::vector<uint32_t> hosts;
    std::vector<Pair> pairs;
    bool limited = false; // some local addresses are left out
};

ScanPlan make_scan_plan(LocalNetworks const& networks, CandidateSet const& candidates,
    std::vector<uint32_t> const& neighbours);

} // namespace tillbay::discovery

#include "printing/discovery/scan_plan.h"

#include <unordered_set>

namespace tillbay::discovery {

namespace {

class HostList {
public:
    HostList(LocalNetworks const& networks, ScanPlan& plan)
        : m_networks(networks)
        , m_plan(plan)
    {
    }

    // False once the list is full.
    bool add(uint32_t address)
    {
        if (!m_networks.is_local(address) || m_seen.count(address))
            return true;
        if (m_plan.hosts.size() >= max_hosts) {
            m_plan.limited = true;
            return false;
        }
        m_seen.insert(address);
        m_plan.hosts.push_back(address);
        return true;
    }

private:
    LocalNetworks const& m_networks;
    ScanPlan& m_plan;
    std::unordered_set<uint32_t> m_seen;
};

uint64_t pair_key(Pair pair) { return (uint64_t { pair.address } << 16) | pair.port; }

} // namespace

ScanPlan make_scan_plan(LocalNetworks const& networks, CandidateSet const& candidates,
    std::vector<uint32_t> const& neighbours)
{
    ScanPlan plan;
    HostList hosts(networks, plan);
    bool room = true;
    for (auto const& candidate : candidates.all())
        room = room && hosts.add(candidate.address);
    for (uint32_t address : neighbours)
        room = room && hosts.add(address);
    // The PC's own /24, but only the part of it that is the PC's network: a
    // smaller network (a /25 to a /30) shares its /24 with addresses that
    // belong to other links, where the PC has no business knocking.
    for (auto const& network : networks.list()) {
        uint32_t block = network.own & 0xFFFFFF00u;
        for (uint32_t last = 1; room && last <= 254; ++last)
            if (network.contains(block | last))
                room = hosts.add(block | last);
    }
    for (auto const& network : networks.list()) {
        if (network.host_count() > max_hosts_per_network + 1)
            plan.limited = true;
        uint64_t count = std::min<uint64_t>(network.host_count(), max_hosts_per_network);
        for (uint64_t i = 1; room && i <= count; ++i)
            room = hosts.add(static_cast<uint32_t>(network.base() + i));
    }

    std::unordered_set<uint64_t> seen;
    auto add_pair = [&](Pair pair) {
        if (seen.insert(pair_key(pair)).second)
            plan.pairs.push_back(pair);
    };
    for (auto const& candidate : candidates.all())
        for (uint16_t port : candidate.known_ports)
            add_pair({ candidate.address, port });
    for (uint16_t port : printer_ports)
        for (uint32_t address : plan.hosts)
            add_pair({ address, port });
    return plan;
}

} // namespace tillbay::discovery

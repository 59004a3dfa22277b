#include "printing/discovery/local_networks.h"

namespace tillbay::discovery {

bool is_private(uint32_t address)
{
    return (address >> 24) == 10 || (address >> 20) == ((172u << 4) | 1) || (address >> 16) == ((192u << 8) | 168)
        || (address >> 16) == ((169u << 8) | 254);
}

int prefix_length(uint32_t mask)
{
    int length = 0;
    while (length < 32 && (mask & (0x80000000u >> length)))
        ++length;
    uint32_t expected = length == 0 ? 0 : ~uint32_t { 0 } << (32 - length);
    return mask == expected ? length : -1;
}

LocalNetworks LocalNetworks::from(std::vector<os::lan::Interface> const& interfaces)
{
    LocalNetworks networks;
    for (auto const& interface : interfaces) {
        if (networks.m_networks.size() >= max_networks)
            break;
        if (!interface.up || interface.kind == os::lan::InterfaceKind::Other || !is_private(interface.address))
            continue;
        int prefix = prefix_length(interface.netmask);
        if (prefix < 1 || prefix > 30)
            continue;
        Network network { interface.address, interface.netmask, prefix };
        bool repeated = false;
        for (auto const& known : networks.m_networks)
            repeated = repeated || (known.own == network.own && known.mask == network.mask);
        if (!repeated)
            networks.m_networks.push_back(network);
    }
    return networks;
}

bool LocalNetworks::is_local(uint32_t address) const
{
    bool inside = false;
    for (auto const& network : m_networks) {
        if (address == network.own)
            return false;
        if (network.contains(address) && address != network.base() && address != network.broadcast())
            inside = true;
    }
    return inside;
}

} // namespace tillbay::discovery

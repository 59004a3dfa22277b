#include "os/lan.h"

#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace tillbay::os::lan {

std::vector<std::array<uint8_t, 4>> ipv4_addresses()
{
    std::vector<std::array<uint8_t, 4>> addresses;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return addresses;
    for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !(entry->ifa_flags & IFF_UP))
            continue;
        auto const* in4 = reinterpret_cast<sockaddr_in const*>(entry->ifa_addr);
        std::array<uint8_t, 4> octets {};
        std::memcpy(octets.data(), &in4->sin_addr.s_addr, 4);
        addresses.push_back(octets);
    }
    ::freeifaddrs(list);
    return addresses;
}

} // namespace tillbay::os::lan

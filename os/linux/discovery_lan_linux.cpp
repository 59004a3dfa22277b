#include "os/discovery_lan.h"

#include "os/net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace tillbay::os::lan {

namespace {

constexpr size_t max_proc_arp_bytes = 4 * 1024 * 1024;
constexpr int netlink_wait_ms = 500;

bool path_exists(std::string const& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string read_small(std::string const& path, size_t limit)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::string text(limit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

bool safe_interface_name(std::string_view name)
{
    return !name.empty() && name.size() < IFNAMSIZ && name.find('/') == std::string_view::npos && name != "."
        && name != "..";
}

NeighbourState state_of(uint16_t nud)
{
    if (nud & NUD_INCOMPLETE)
        return NeighbourState::Incomplete;
    if (nud & NUD_FAILED)
        return NeighbourState::Failed;
    if (nud & (NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE | NUD_PERMANENT))
        return NeighbourState::Known;
    return NeighbourState::Other;
}

Result<std::vector<Neighbour>> netlink_neighbours(size_t max_rows)
{
    net::Fd socket(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!socket.valid())
        return Error::from_detail(std::string("netlink socket: ") + std::strerror(errno), errno);
    int fd = socket.get();

    struct {
        nlmsghdr header;
        ndmsg body;
    } request {};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ndmsg));
    request.header.nlmsg_type = RTM_GETNEIGH;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.body.ndm_family = AF_INET;
    sockaddr_nl kernel {};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, &request, request.header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0)
        return Error::from_detail(std::string("netlink send: ") + std::strerror(errno), errno);

    std::vector<Neighbour> rows;
    std::vector<char> buffer(64 * 1024);
    while (true) {
        pollfd p { fd, POLLIN, 0 };
        int ready = ::poll(&p, 1, netlink_wait_ms);
        if (ready <= 0)
            return Error::from_detail("netlink: no answer", ETIMEDOUT);
        ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return Error::from_detail(std::string("netlink recv: ") + std::strerror(errno), errno);
        }
        size_t left = static_cast<size_t>(got);
        for (auto* header = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(header, left);
             header = NLMSG_NEXT(header, left)) {
            if (header->nlmsg_type == NLMSG_DONE)
                return rows;
            if (header->nlmsg_type == NLMSG_ERROR)
                return Error::from_detail("netlink: the dump failed", EIO);
            if (header->nlmsg_type != RTM_NEWNEIGH || header->nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg)))
                continue;
            auto* body = static_cast<ndmsg*>(NLMSG_DATA(header));
            if (body->ndm_family != AF_INET)
                continue;
            int attributes_left = static_cast<int>(header->nlmsg_len - NLMSG_LENGTH(sizeof(ndmsg)));
            for (auto* attribute = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(body) + NLMSG_ALIGN(sizeof(ndmsg)));
                 RTA_OK(attribute, attributes_left); attribute = RTA_NEXT(attribute, attributes_left)) {
                if (attribute->rta_type != NDA_DST || RTA_PAYLOAD(attribute) != 4)
                    continue;
                uint32_t network_order;
                std::memcpy(&network_order, RTA_DATA(attribute), 4);
                if (rows.size() < max_rows)
                    rows.push_back({ ntohl(network_order), state_of(body->ndm_state) });
            }
        }
    }
}

} // namespace

InterfaceKind interface_kind(std::string_view name, Roots const& roots)
{
    if (!safe_interface_name(name))
        return InterfaceKind::Other;
    std::string base = roots.sys + "/class/net/" + std::string(name);
    std::string type = read_small(base + "/type", 16);
    while (!type.empty() && (type.back() == '\n' || type.back() == ' '))
        type.pop_back();
    if (type != "1")
        return InterfaceKind::Other;
    if (path_exists(base + "/wireless") || path_exists(base + "/phy80211"))
        return InterfaceKind::Wireless;
    return InterfaceKind::Ethernet;
}

Result<std::vector<Interface>> ipv4_interfaces(Roots const& roots)
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return Error::from_detail(std::string("getifaddrs: ") + std::strerror(errno), errno);
    std::vector<Interface> interfaces;
    for (ifaddrs* at = list; at; at = at->ifa_next) {
        if (!at->ifa_addr || at->ifa_addr->sa_family != AF_INET || !at->ifa_name)
            continue;
        Interface item;
        item.name = at->ifa_name;
        item.address = ntohl(reinterpret_cast<sockaddr_in const*>(at->ifa_addr)->sin_addr.s_addr);
        if (at->ifa_netmask)
            item.netmask = ntohl(reinterpret_cast<sockaddr_in const*>(at->ifa_netmask)->sin_addr.s_addr);
        item.up = (at->ifa_flags & IFF_UP) && (at->ifa_flags & IFF_RUNNING);
        // An address label such as "eth0:1" names the interface before the colon.
        std::string device = item.name.substr(0, item.name.find(':'));
        item.kind = interface_kind(device, roots);
        interfaces.push_back(std::move(item));
    }
    ::freeifaddrs(list);
    return interfaces;
}

std::vector<Neighbour> parse_proc_arp(std::string_view text, size_t max_rows)
{
    std::vector<Neighbour> rows;
    std::istringstream lines { std::string(text) };
    std::string line;
    bool header = true;
    while (rows.size() < max_rows && std::getline(lines, line)) {
        if (header) {
            header = false;
            continue;
        }
        std::istringstream fields(line);
        std::string ip, hw_type, flags;
        if (!(fields >> ip >> hw_type >> flags))
            continue;
        in_addr parsed {};
        if (::inet_pton(AF_INET, ip.c_str(), &parsed) != 1)
            continue;
        char* end = nullptr;
        unsigned long value = std::strtoul(flags.c_str(), &end, 16);
        if (end == flags.c_str() || *end)
            continue;
        // ATF_COM (0x2) marks a resolved entry; without it resolution is
        // still running or has failed, which this file does not tell apart.
        NeighbourState state = (value & 0x2) || (value & 0x4) ? NeighbourState::Known : NeighbourState::Incomplete;
        rows.push_back({ ntohl(parsed.s_addr), state });
    }
    return rows;
}

Result<std::vector<Neighbour>> ipv4_neighbours(Roots const& roots, size_t max_rows)
{
    auto from_netlink = netlink_neighbours(max_rows);
    if (from_netlink.ok())
        return from_netlink;
    std::string text = read_small(roots.proc + "/net/arp", max_proc_arp_bytes);
    if (text.empty())
        return from_netlink.release_error();
    return parse_proc_arp(text, max_rows);
}

} // namespace tillbay::os::lan

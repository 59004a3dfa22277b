#pragma once

// A printer queue on this PC that already sends to a LAN address is evidence
// that a printer lives there. The queue's device URI tells the address;
// only literal IPv4 addresses count (names are not resolved), and only a raw
// socket:// queue tells the printer's port.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::discovery {

struct QueuePointer {
    std::string queue;
    uint32_t address = 0;
    uint16_t port = 0; // the raw port of a socket:// queue, else 0
};

// For "socket://192.168.0.50:9100" (port 9100 when none is given) and for
// lpd, ipp, ipps, http and https URIs with a literal IPv4 host (without a
// port); nothing for any other URI.
std::optional<QueuePointer> queue_pointer(std::string_view queue, std::string_view device_uri);

// A dotted IPv4 address of four decimal numbers 0 to 255, nothing else.
std::optional<uint32_t> parse_ipv4(std::string_view text);

} // namespace tillbay::discovery

#pragma once

// The PC's own addresses on the networks it is attached to, for the pairing
// links tablets open. Host-name resolution is no use for this on Linux
// (Debian maps the host name to 127.0.1.1), so the interfaces are asked.

#include <array>
#include <cstdint>
#include <vector>

namespace tillbay::os::lan {

// The IPv4 address of every interface that is up, in the system's order;
// empty when the interfaces cannot be listed.
std::vector<std::array<uint8_t, 4>> ipv4_addresses();

} // namespace tillbay::os::lan

#pragma once

// The sockets of the printer search: UDP sockets for the multicast
// announcements and SNMP, non-blocking TCP connects for the port scan, and
// one poll over all of them. poll, never select: descriptor numbers above
// 1023 must work. Addresses are IPv4 in host byte order.

#include "base/result.h"
#include "os/net.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tillbay::os::probe {

using net::Fd;

// A non-blocking UDP socket bound to local_address (0: any) and an ephemeral
// port. With Multicast::OnThisInterface, multicasts leave through
// local_address with a time-to-live of 1, so they never pass a router.
enum class Multicast {
    No,
    OnThisInterface,
};
Result<Fd> open_udp(uint32_t local_address, Multicast multicast);

Status send_to(int fd, uint32_t address, uint16_t port, std::span<uint8_t const> bytes);

struct Datagram {
    uint32_t source = 0;
    uint16_t source_port = 0;
    size_t length = 0;      // bytes put into the buffer
    bool truncated = false; // the datagram was longer than the buffer
};
// One datagram, or nothing when none is waiting.
Result<std::optional<Datagram>> receive_from(int fd, std::span<uint8_t> buffer);

enum class ConnectState {
    Connected, // accepted at once
    Pending,   // in progress: wait for writability, then read connect_error
    Failed,    // refused or unreachable at once
};
struct ConnectStart {
    Fd socket; // valid while Connected or Pending
    ConnectState state = ConnectState::Failed;
    int error = 0;
};
// Opens a non-blocking TCP socket and starts connecting to address:port.
ConnectStart start_connect(uint32_t address, uint16_t port);
// The pending connect's outcome once the socket is writable: 0 when
// connected, else the errno value.
int connect_error(int fd);

struct Watch {
    int fd = -1;
    bool want_read = false;
    bool want_write = false;
    // Filled by wait_any:
    bool readable = false;
    bool writable = false;
    bool failed = false; // error or hang-up
};
// Waits up to timeout_ms for any of the watches (an empty list just sleeps).
// Returns the number of watches with something to report.
Result<int> wait_any(std::span<Watch> watches, int timeout_ms);

} // namespace tillbay::os::probe

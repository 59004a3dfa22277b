#pragma once

#include "tools/platform/net.h"
#include "tools/platform/platform.h"

#include <string_view>

namespace tillbay::platform {

// Plays the part of a fault that acts on the connection itself, the same for
// the API and the web listener: Late waits fault.delay_ms and lets the request
// be answered; Silent holds the connection without a word until the client
// speaks or 30 s pass; Close drops it; Garbage writes `garbage` and drops it.
// Refuse and BadByte shape the answer, which is the listener's own business.
// False when the connection is done with and nothing more may be written.
bool play_connection_fault(Conn& conn, Fault const& fault, std::string_view garbage);

} // namespace tillbay::platform

#pragma once

// The first phase of a printer search: ask the printers to announce
// themselves. From this PC's address on each local network one UDP socket
// multicasts a DNS-SD query for the four printer services and a
// WS-Discovery Probe, then reads the answers for a bounded time, asking
// DNS-SD responders about instances they named without details.

#include "printing/discovery/search_state.h"

namespace tillbay::discovery {

void run_announcements(SearchState& state, SearchLimits const& limits);

} // namespace tillbay::discovery

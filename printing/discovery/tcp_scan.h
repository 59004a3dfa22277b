#pragma once

// The TCP connect scan: every planned address and port pair is tried with a
// non-blocking connect, at most max_in_flight at a time, each given up after
// attempt_time, the whole scan within scan_budget. An accepted connection
// marks the port open and makes the host a candidate.
//
// A host that never answered address resolution is not on the link, so
// once the kernel's neighbour table says so (absent_after past the first
// knock), its remaining pairs count as tried without another knock: on a
// LAN of mostly empty addresses this saves most of the scan's time and
// traffic.

#include "base/result.h"
#include "os/discovery_lan.h"
#include "printing/discovery/scan_plan.h"
#include "printing/discovery/search_state.h"

#include <functional>
#include <vector>

namespace tillbay::discovery {

using NeighbourSource = std::function<Result<std::vector<os::lan::Neighbour>>()>;

// Runs the scan; state.checked counts the pairs tried. Returns true when
// every pair was tried.
bool run_tcp_scan(SearchState& state, ScanPlan const& plan, SearchLimits const& limits,
    NeighbourSource const& neighbours);

} // namespace tillbay::discovery

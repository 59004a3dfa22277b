#pragma once

// The last phase of a printer search: ask every candidate for its SNMP
// system description, which names the printer better than anything else.

#include "printing/discovery/search_state.h"

namespace tillbay::discovery {

void run_snmp_query(SearchState& state, SearchLimits const& limits);

} // namespace tillbay::discovery

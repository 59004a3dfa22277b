#pragma once

// What a printer search tells the page, in progress answers and once at the
// end: window.setPrinterDiscovery&&setPrinterDiscovery({...}) with an object
// literal in the page's script syntax (keys without quotes).

#include "printing/discovery/candidates.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tillbay::discovery {

struct SearchResult {
    std::string id;     // echoed as the page sent it
    std::string target; // echoed as the page sent it
    bool done = false;
    bool cancelled = false;
    bool limited = false;
    size_t checked = 0; // address and port pairs tried so far
    size_t total = 0;   // pairs planned
    std::string error;  // the user's message, empty when none
    std::vector<Entry> items;
};

// "192.168.0.50".
std::string dotted(uint32_t address);

// The callback's argument: the object literal.
std::string discovery_argument(SearchResult const& result);
// The whole page callback script for the result.
std::string discovery_script(SearchResult const& result);

} // namespace tillbay::discovery

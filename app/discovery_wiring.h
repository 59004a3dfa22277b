#pragma once

// The printer search as the program runs it: this PC's printers read from
// CUPS, usblp and the serial ports, the search on the machine's own
// interfaces, and the commands in the `pc` slot of the bridge.

#include "bridge/bridge.h"
#include "printing/discovery/discovery_family.h"

#include <memory>

namespace tillbay::app {

class DiscoveryWiring {
public:
    // Adds the commands to the `pc` slot; the workers answer through the
    // bridge's internal commands. Must go before the bridge does.
    explicit DiscoveryWiring(bridge::Bridge& bridge);

private:
    discovery::SystemLocalPrinters m_printers;
    std::unique_ptr<discovery::DiscoveryFamily> m_family;
};

} // namespace tillbay::app

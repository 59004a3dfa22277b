#include "discovery_wiring.h"

namespace tillbay::app {

DiscoveryWiring::DiscoveryWiring(bridge::Bridge& bridge)
{
    discovery::DiscoveryHooks hooks;
    hooks.queue_internal = [&bridge](std::string command) { bridge.queue_internal(std::move(command)); };
    hooks.saved_link = discovery::saved_link_from_settings;
    m_family = std::make_unique<discovery::DiscoveryFamily>(m_printers, discovery::system_machine(), std::move(hooks));
    bridge.add_family(bridge::FamilySlot::Pc, m_family.get());
}

} // namespace tillbay::app

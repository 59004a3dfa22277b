#include "printing/discovery/search_result.h"

#include "foundation/json_text.h"

namespace tillbay::discovery {

std::string dotted(uint32_t address)
{
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "."
        + std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::string discovery_argument(SearchResult const& result)
{
    auto flag = [](bool on) { return on ? "true" : "false"; };
    std::string script = "{id:" + json::quote(result.id)
        + ",target:" + json::quote(result.target) + ",done:" + flag(result.done)
        + ",cancelled:" + flag(result.cancelled) + ",limited:" + flag(result.limited)
        + ",checked:" + std::to_string(result.checked) + ",total:" + std::to_string(result.total)
        + ",error:" + json::quote(result.error) + ",items:[";
    for (size_t i = 0; i < result.items.size(); ++i) {
        Entry const& entry = result.items[i];
        if (i)
            script += ",";
        script += "{ip:" + json::quote(dotted(entry.address)) + ",port:" + std::to_string(entry.port)
            + ",name:" + json::quote(entry.name) + ",evidence:" + json::quote(entry.evidence)
            + ",selectable:" + flag(entry.selectable) + "}";
    }
    script += "]}";
    return script;
}

std::string discovery_script(SearchResult const& result)
{
    return "window.setPrinterDiscovery&&setPrinterDiscovery(" + discovery_argument(result) + ")";
}

} // namespace tillbay::discovery

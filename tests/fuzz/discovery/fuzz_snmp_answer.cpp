// The SNMP answer reader on any datagram: it never reads outside it, and a
// description it gives is bounded and clean enough to show.

#include "printing/discovery/display_text.h"
#include "printing/discovery/snmp_message.h"

#include <cstdint>
#include <cstdlib>
#include <span>

using namespace tillbay::discovery;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    auto description = snmp::read_sysdescr(std::span<uint8_t const>(data, size), 0x01020304);
    if (description.ok()
        && (description.value().size() > max_display_name || display_text(description.value()) != description.value()))
        std::abort();
    return 0;
}

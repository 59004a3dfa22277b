// The DNS-SD answer reader on any datagram: it never reads outside it, and
// whatever it reports is bounded and clean enough to show.

#include "printing/discovery/display_text.h"
#include "printing/discovery/dns_message.h"

#include <cstdint>
#include <cstdlib>
#include <span>

using namespace tillbay::discovery;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    std::span<uint8_t const> bytes(data, size);
    // The id the reader expects is the datagram's own, so that the records are reached.
    uint16_t id = size >= 2 ? static_cast<uint16_t>((data[0] << 8) | data[1]) : 0;
    auto answer = dns::read_answer(bytes, id);
    if (!answer.ok())
        return 0;
    if (answer.value().services.size() > static_cast<size_t>(dns::max_records))
        std::abort();
    for (auto const& service : answer.value().services) {
        if (service.instance.size() != 4 || service.display_name.size() > max_display_name
            || display_text(service.display_name) != service.display_name)
            std::abort();
        for (auto const& label : service.instance)
            if (label.size() > dns::max_label)
                std::abort();
    }
    for (auto const& instance : answer.value().instances)
        (void)dns::instance_query(id, instance);
    return 0;
}

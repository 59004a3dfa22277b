// The connection address parser on any text: an accepted address is
// printable ASCII within its limits, its kind's fields hold what the
// grammar allows, and describing it never fails.

#include "printing/connection_address.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace tillbay::printing;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    std::string_view text(reinterpret_cast<char const*>(data), size);
    auto parsed = parse_address(text);
    if (!parsed)
        return 0;
    if (text.size() > max_address_bytes)
        std::abort();
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126)
            std::abort();
    }
    switch (parsed->kind) {
    case AddressKind::Tcp:
        if (parsed->port < 1 || parsed->port > 65535)
            std::abort();
        break;
    case AddressKind::Usb:
        if (parsed->text.size() != 64)
            std::abort();
        break;
    case AddressKind::Queue:
        if (parsed->text.empty() || parsed->text.size() > max_queue_name_bytes)
            std::abort();
        for (char c : parsed->text) {
            if (static_cast<unsigned char>(c) < 32 || c == 127)
                std::abort();
        }
        break;
    default:
        break;
    }
    PrinterRecord record;
    record.connection = std::string(text);
    if (describe(record, true).text.empty())
        std::abort();
    return 0;
}

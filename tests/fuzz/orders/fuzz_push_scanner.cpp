// The push channel's scanner on any bytes, fed in pieces of any size: it
// never reads outside the data, never holds back more than its limit, and
// every event it reports carries a bounded name without line breaks.

#include "server/push_channel.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    if (size < 1)
        return 0;
    size_t piece = 1 + data[0] % 64;
    std::string_view bytes(reinterpret_cast<char const*>(data) + 1, size - 1);
    tillbay::push::EventScanner scanner;
    tillbay::push::EventScanner::Handlers handlers;
    handlers.ping = [] { };
    handlers.event = [](tillbay::push::OrderEvent const& event) {
        if (event.event.empty() || event.event.size() > tillbay::push::max_event_name
            || event.event.find_first_of("\r\n ") != std::string::npos)
            std::abort();
    };
    for (size_t at = 0; at < bytes.size(); at += piece) {
        scanner.feed(bytes.substr(at, piece), handlers);
        if (scanner.held_back().size() > tillbay::push::max_carry)
            std::abort();
    }
    (void)tillbay::push::parse_event_text(bytes);
    return 0;
}

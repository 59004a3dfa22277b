// The page's order JSON and the journal's contents on any bytes. A prepared
// order is one object that starts with the signed-in store, holds no other
// top-level storeidx and no '&', and preparing it again changes nothing but
// its ampersand escapes; a journal is read as nothing, pending or unreadable
// without reading past its text.

#include "orders/order_journal.h"
#include "orders/order_json.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    using namespace tillbay::orders;
    std::string_view text(reinterpret_cast<char const*>(data), size);
    auto prepared = prepare_order_json(text, 7);
    if (prepared) {
        constexpr std::string_view head = "{\"storeidx\":7";
        if (prepared->compare(0, head.size(), head) != 0 || prepared->back() != '}'
            || prepared->find('&') != std::string::npos)
            std::abort();
        auto again = prepare_order_json(*prepared, 8);
        if (!again || again->compare(0, 13, "{\"storeidx\":8") != 0 || again->substr(13) != prepared->substr(13))
            std::abort();
    }
    JournalEntry entry = parse_journal(text);
    if (entry.state == JournalState::Pending
        && (!valid_request_key(entry.key) || entry.order_json.empty() || entry.context.empty()
            || entry.key.size() + entry.order_json.size() + entry.context.size() + 2 != size))
        std::abort();
    return 0;
}

// The customer state from a page on hostile text: what is accepted is
// written anew, reads back to itself, and never carries "<" or a raw line
// break into the script it goes into.

#include "door/json_value.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace tillbay::door;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    std::string_view input(reinterpret_cast<char const*>(data), size);
    auto canonical = canonical_json(input);
    if (!canonical)
        return 0;
    if (canonical->find('<') != std::string::npos || canonical->find('\n') != std::string::npos
        || canonical->find("\xe2\x80\xa8") != std::string::npos)
        std::abort();
    auto again = canonical_json(*canonical);
    if (canonical->size() <= max_state_bytes && (!again || *again != *canonical))
        std::abort();
    return 0;
}

// The kitchen filter on any text: it must stay inside the text, and when it
// rebuilds the list every kept object must be a piece of the input that the
// kitchen rule keeps.

#include "orders/kitchen_filter.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    std::string_view text(reinterpret_cast<char const*>(data), size);
    std::string out = tillbay::orders::kitchen_filter(text);
    if (out != text) {
        constexpr std::string_view head = "{\"orders\":[";
        if (out.compare(0, head.size(), head) != 0 || out.size() < head.size() + 2 || out.substr(out.size() - 2) != "]}")
            std::abort();
    }
    return 0;
}

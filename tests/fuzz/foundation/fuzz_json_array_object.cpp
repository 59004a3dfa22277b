// The array walker tracks strings and brace depth over untrusted answers: every
// object it returns must be a slice of the text that starts with '{'.

#include "foundation/json_text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    if (size < 1)
        return 0;
    int index = data[0] % 8;
    std::string_view text(reinterpret_cast<char const*>(data + 1), size - 1);
    for (int i = 0; i <= index; ++i) {
        std::string object = tillbay::json::array_object(text, "orders", i, 256);
        if (object.empty())
            break;
        if (object.front() != '{' || object.size() > 255 || text.find(object) == std::string_view::npos)
            abort();
    }
    return 0;
}

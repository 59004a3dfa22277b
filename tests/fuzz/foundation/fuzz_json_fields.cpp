// Server answers are outside input: the field readers must stay inside the
// text whatever it holds. The first byte chooses the key length, so keys that
// occur in the text itself are tried too.

#include "foundation/json_text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    if (size < 2)
        return 0;
    size_t key_length = data[0] % 12;
    std::string_view rest(reinterpret_cast<char const*>(data + 1), size - 1);
    std::string_view key = rest.substr(0, key_length);
    std::string_view text = rest.substr(key.size());

    (void)tillbay::json::int_field(text, key, -7);
    (void)tillbay::json::int_field(text, "resultCode", 0);

    std::string out;
    size_t out_size = data[1] % 64;
    if (tillbay::json::text_field(text, key, out, out_size) && out_size > 0 && out.size() > out_size - 1)
        abort();
    if (out_size == 0 && !out.empty())
        abort();
    (void)tillbay::json::text_field(text, "message", out, 4096);
    return 0;
}

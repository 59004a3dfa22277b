// Form values from pages are percent-decoded: decoding never grows the text,
// and decoding what we encoded gives the original bytes back.

#include "foundation/json_text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    std::string_view bytes(reinterpret_cast<char const*>(data), size);
    if (tillbay::json::percent_decode(bytes).size() > size)
        abort();
    if (tillbay::json::percent_decode(tillbay::json::percent_encode(bytes)) != bytes)
        abort();
    return 0;
}

// Uploaded files arrive as Base64 text from pages: decoding must fail cleanly
// on anything malformed, and whatever decodes must encode back to the same
// characters once blanks are removed (pads aside).

#include "foundation/json_text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    std::string_view text(reinterpret_cast<char const*>(data), size);
    auto decoded = tillbay::json::base64_decode(text);
    if (decoded) {
        if (decoded->size() > size)
            abort();
        auto again = tillbay::json::base64_decode(tillbay::json::base64_encode(*decoded));
        if (!again || *again != *decoded)
            abort();
    }
    auto round = tillbay::json::base64_decode(tillbay::json::base64_encode(text));
    if (!round || *round != text)
        abort();
    return 0;
}

// Uploaded files in any encoding, or none: the decoder either refuses them or
// gives valid UTF-8, and the loose reading accepts everything the strict one
// does, with the same result.

#include "base/utf8.h"
#include "store/text_decoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace tillbay;
using namespace tillbay::store;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    std::string_view bytes(reinterpret_cast<char const*>(data), size);
    auto strict = decode_text(bytes, Leniency::Strict);
    auto loose = decode_text(bytes, Leniency::Loose);
    if (strict) {
        if (!utf8::is_valid(strict.value().text) || !loose || loose.value().text != strict.value().text
            || loose.value().encoding != strict.value().encoding)
            std::abort();
    }
    if (loose && !utf8::is_valid(loose.value().text))
        std::abort();
    return 0;
}

// The POS's reader of store call answers against arbitrary server bytes. It
// keeps nothing longer than its limits and never more than it was given:
// unescaping only ever shortens a text.

#include "server/api.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace tillbay;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* bytes, size_t size)
{
    std::string_view answer(reinterpret_cast<char const*>(bytes), size);
    api::StoreResult const result = api::read_store_answer(answer);
    if (result.resultCode.size() > api::max_result_code || result.resultData.size() > api::max_result_data)
        std::abort();
    if (result.resultCode.size() > size || result.resultType.size() > size || result.message.size() > size
        || result.resultData.size() > size)
        std::abort();
    (void)result.accepted();
    (void)result.refusal("거절");
    return 0;
}

// The push relay's registration reader against arbitrary bytes, with and
// without the right header in front. It is fed as the bytes arrive, so a
// buffer it reads as complete must read, cut anywhere, as "need more" or as
// the same registration: never as invalid.

#include "tools/platform/relay.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace tillbay::platform;

namespace {

constexpr std::string_view header = "RELAYHDR-0123456789abcdefghijklmnopq";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* bytes, size_t size)
{
    if (size == 0 || size > k_register_limit)
        return 0;
    std::string_view rest(reinterpret_cast<char const*>(bytes) + 1, size - 1);
    std::string buffer = bytes[0] & 1 ? std::string(header) + std::string(rest) : std::string(rest);

    Registration whole;
    RegisterParse state = parse_registration(buffer, header, whole);
    if (state == RegisterParse::Complete && (whole.storeidx < 0 || whole.devicetype < 0))
        std::abort();
    if (state != RegisterParse::Complete)
        return 0;
    for (size_t cut = 0; cut < buffer.size(); ++cut) {
        Registration part;
        RegisterParse early = parse_registration(std::string_view(buffer).substr(0, cut), header, part);
        if (early == RegisterParse::Invalid)
            std::abort();
        if (early == RegisterParse::Complete && (part.storeidx != whole.storeidx || part.devicetype != whole.devicetype))
            std::abort();
    }
    return 0;
}

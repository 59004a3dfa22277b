// The owner answer's payload on its way in: Base64, then AES-256-CBC with the
// owner's key. Arbitrary text must fail cleanly or give at most the payload
// limit; a command the POS encrypts itself must come back unchanged.

#include "server/api.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace tillbay;

namespace {

constexpr std::string_view key_hex = "00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF";
constexpr std::string_view iv_hex = "0f1e2d3c4b5a69788796a5b4c3d2e1f0";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* bytes, size_t size)
{
    if (size == 0)
        return 0;
    std::string_view rest(reinterpret_cast<char const*>(bytes) + 1, size - 1);
    switch (bytes[0] % 3) {
    case 0: {
        auto payload = api::decrypt_payload(rest, key_hex, iv_hex);
        if (payload.ok() && payload.value().str().size() > api::max_result_data)
            std::abort();
        if (!payload.ok() && payload.error().message.empty())
            std::abort();
        break;
    }
    case 1: {
        if (rest.size() > api::max_result_data)
            return 0;
        auto cipher = api::encrypt_command(rest, key_hex, iv_hex);
        if (!cipher.ok())
            std::abort();
        auto back = api::decrypt_payload(cipher.value(), key_hex, iv_hex);
        if (!back.ok() || back.value().str() != rest)
            std::abort();
        break;
    }
    default: {
        // Keys of the wrong form are refused, never used.
        size_t half = rest.size() / 2;
        auto payload = api::decrypt_payload("AAAAAAAAAAAAAAAAAAAAAA==", rest.substr(0, half), rest.substr(half));
        if (payload.ok() && (rest.substr(0, half).size() != 64 || rest.substr(half).size() != 32))
            std::abort();
        break;
    }
    }
    return 0;
}

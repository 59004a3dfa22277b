// The platform's API answer to whatever a client sends: a raw envelope, a
// store call under the right client header, and owner calls encrypted with
// the right keys, so the fuzzer reaches the command parsers behind the
// header and cipher checks. Every answer the server writes back must be one
// JSON object, and the envelope scanner must never point past its buffer.

#include "tools/platform/api.h"
#include "tools/platform/pcrypto.h"
#include "tools/platform/platform.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>

using namespace tillbay::platform;

namespace {

struct Peer {
    std::string dir;
    Platform* platform = nullptr;
    std::string owner_key, owner_iv;
    long long owner_useridx = 0;
};

Peer& peer()
{
    static Peer* p = [] {
        auto* made = new Peer;
        char name[] = "/tmp/tb-fuzz-platform-XXXXXX";
        if (!::mkdtemp(name))
            std::abort();
        made->dir = name;
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(peer().dir, ec);
        });
        ServeOptions options;
        options.data_dir = made->dir + "/data";
        options.ui_dir = made->dir + "/ui";
        made->platform = new Platform(options);
        std::string error;
        if (!made->platform->open(error)) {
            std::fprintf(stderr, "platform: %s\n", error.c_str());
            std::abort();
        }
        Json owner = made->platform->db().query_one("SELECT useridx, devkey, deviv FROM accounts WHERE role='owner'");
        if (!owner.is_null()) {
            made->owner_useridx = owner["useridx"];
            made->owner_key = hex_decode(owner["devkey"].get<std::string>()).value_or("");
            made->owner_iv = hex_decode(owner["deviv"].get<std::string>()).value_or("");
        }
        return made;
    }();
    return *p;
}

std::string envelope(std::string const& header, int grade, long long useridx, std::string const& data)
{
    Json j = { { "header", header }, { "version", "1.0" }, { "grade", grade }, { "useridx", useridx }, { "data", data } };
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* bytes, size_t size)
{
    if (size == 0)
        return 0;
    Peer& p = peer();
    Platform& platform = *p.platform;
    std::string rest(reinterpret_cast<char const*>(bytes) + 1, size - 1);
    auto const& secrets = platform.secrets();

    std::string text;
    switch (bytes[0] % 5) {
    case 0:
        text = rest;
        break;
    case 1:
        text = envelope(secrets.server_header, 5, 0, rest);
        break;
    case 2: {
        auto key = hex_decode(secrets.app_key), iv = hex_decode(secrets.app_iv);
        auto cipher = key && iv ? aes_encrypt(rest, *key, *iv) : std::nullopt;
        text = envelope(secrets.server_header, 1, 0, cipher ? base64_encode(*cipher) : rest);
        break;
    }
    case 3: {
        auto cipher = aes_encrypt(rest, p.owner_key, p.owner_iv);
        text = envelope(secrets.server_header, 3, p.owner_useridx, cipher ? base64_encode(*cipher) : rest);
        break;
    }
    default:
        // The right header with data that is not a cipher text.
        text = envelope(secrets.server_header, 3, p.owner_useridx, rest);
        break;
    }

    size_t end = json_object_end(text);
    if (end != std::string::npos && end > text.size())
        std::abort();

    std::optional<Fault> fault;
    std::string answer = answer_envelope(platform, text, fault);
    if (!answer.empty() && !Json::parse(answer, nullptr, false).is_object()) {
        std::fprintf(stderr, "answer is not a JSON object: %s\n", answer.c_str());
        std::abort();
    }
    return 0;
}

#pragma once

#include "tools/platform/net.h"
#include "tools/platform/platform.h"

#include <string_view>

namespace tillbay::platform {

// The header and the registration must arrive within this time and size.
constexpr int k_register_wait_ms = 10000;
constexpr size_t k_register_limit = 1024;

// Serves one push-relay connection until the client goes away.
void serve_relay_connection(Platform& platform, Conn& conn);

struct Registration {
    long long storeidx = 0;
    long long devicetype = 0;
};
enum class RegisterParse { NeedMore, Complete, Invalid };
// Reads "HEADER" + "register&storeidx=N&devicetype=M" from the start of buffer.
RegisterParse parse_registration(std::string_view buffer, std::string_view header, Registration& out);

} // namespace tillbay::platform

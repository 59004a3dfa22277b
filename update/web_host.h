#pragma once

// The web host as the update uses it: HTTPS, or plain HTTP for a private test
// host only.

#include "os/http.h"

#include <optional>
#include <string_view>

namespace tillbay::update {

// The endpoint of a configured web host text; nullopt when it has no host, or
// is not "https://" and its host part is not localhost or a private IPv4
// address.
std::optional<os::http::Endpoint> web_host_endpoint(std::string_view web_host);

} // namespace tillbay::update

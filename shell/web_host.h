#pragma once

// The web-host request: one request to the configured web host (settings
// `webhost`) with the program's own header. The page API relay, the photo
// upload and the mall export send through it, always from a worker thread.

#include "base/result.h"
#include "os/http.h"

#include <string_view>

namespace tillbay::shell {

// The text every failure to read the web host's address gives.
inline constexpr char const* unknown_web_host_text = "서버 주소를 알 수 없습니다";

// Where requests to the configured web host text go. "https://" selects a
// secure connection and "http://" a plain one; without either, a plain
// connection for localhost and the loopback and private IPv4 addresses, a
// secure one otherwise. The text is cut at the first "/"; an explicit port
// after ":" must be 1 to 65535 (anything else is refused, never wrapped
// around), else 443 or 80. Fails with unknown_web_host_text.
Result<os::http::Endpoint> web_host_endpoint(std::string_view web_host);

// Sends the request to the web host with "X-Requested-With: TillBay".
Result<os::http::Response> web_host_request(std::string_view web_host, os::http::Request request);

} // namespace tillbay::shell

#pragma once

#include "tools/platform/http.h"
#include "tools/platform/platform.h"

namespace tillbay::platform {

// Serves one control-port request (loopback HTTP, JSON in and out). `info` is
// what GET /control/info answers: the listeners, fingerprint and accounts.
void serve_control_connection(Platform& platform, Json const& info, Conn& conn);
HttpResponse control_response(Platform& platform, Json const& info, HttpRequest const& request);

} // namespace tillbay::platform

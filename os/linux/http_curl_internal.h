#pragma once

// What the two halves of the web client on libcurl share: the one global
// initialisation, the end-of-program abort flag, and the address of a path
// on an endpoint. Private to os/linux.

#include "os/http.h"

#include <string>
#include <string_view>

namespace tillbay::os::http::detail {

bool global_init();
// Set once abort_all() was called.
bool aborted();
std::string url_for(Endpoint const& endpoint, std::string_view path);

} // namespace tillbay::os::http::detail

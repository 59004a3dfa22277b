#pragma once

// The page script (resources/inject.js), embedded into the program at build
// time. The guard script of the page policy is built around it.

#include <string>
#include <string_view>

namespace tillbay::bridge {

// The embedded bytes as they are.
std::string_view embedded_page_script();

// The page script with a leading UTF-8 byte-order mark dropped. When it is
// missing or empty the log names it and the result is empty: the guard
// script then runs with an empty body and no page gets the bridge.
std::string load_page_script();

} // namespace tillbay::bridge

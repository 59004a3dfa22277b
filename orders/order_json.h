#pragma once

// The order JSON a page builds, made ready for the server. The page must
// not choose the store: whatever it wrote, the order goes to the store that
// is signed in.

#include <optional>
#include <string>
#include <string_view>

namespace tillbay::orders {

// The deepest nesting an order JSON may have.
inline constexpr int max_order_json_depth = 32;

// The order JSON with every top-level "storeidx" member removed and
// "storeidx":N put first, then every '&' written as \u0026 so that the text
// cannot end the request parameter that carries it. Members below the top
// level and text inside strings (a memo that mentions storeidx) stay as they
// are. nullopt when the text is not exactly one JSON object.
std::optional<std::string> prepare_order_json(std::string_view text, int storeidx);

} // namespace tillbay::orders

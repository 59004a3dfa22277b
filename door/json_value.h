#pragma once

// One JSON value from a page, checked and written again. The customer state
// a page sends goes into a script in the customer display and out to every
// paired tablet, so nothing of the page's text is passed on as it came: the
// value is parsed within limits and re-serialised in a compact form in which
// every string is escaped anew.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::door {

inline constexpr size_t max_state_bytes = 16 * 1024;
inline constexpr size_t max_state_depth = 16;

// The value re-serialised (no blanks; strings with only the escapes JSON
// needs plus "<" as \u003c, U+2028 and U+2029 escaped), or nullopt when the
// text is not exactly one JSON value, is longer than max_state_bytes, nests
// deeper than max_state_depth, or holds text that is not UTF-8.
std::optional<std::string> canonical_json(std::string_view text);

} // namespace tillbay::door

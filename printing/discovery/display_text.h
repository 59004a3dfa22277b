#pragma once

// Names that arrive from the LAN (DNS-SD instance names, TXT values, SNMP
// system descriptions) are shown in the page, so they are cleaned first:
// only whole UTF-8 characters, no control characters, no blanks at either
// end, and a bounded length.

#include <cstddef>
#include <string>
#include <string_view>

namespace tillbay::discovery {

inline constexpr size_t max_display_name = 255;

// The text with invalid UTF-8 bytes and control characters dropped, blanks
// trimmed, cut to at most max_bytes on a character boundary.
std::string display_text(std::string_view bytes, size_t max_bytes = max_display_name);

} // namespace tillbay::discovery

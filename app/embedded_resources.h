#pragma once

// The files of resources/ that the build embeds into the executable.

#include <string_view>

namespace tillbay::resources {

// The bytes of "icon.png", "ding.wav" or "ding2.wav"; empty for other names.
std::string_view find(std::string_view name);

} // namespace tillbay::resources

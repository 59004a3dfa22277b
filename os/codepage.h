#pragma once

// Text for printers and old files: UTF-8 to a Windows code page number
// (949 Korean, 932, 936, 950, 437, 1252, …).

#include <optional>
#include <string>
#include <string_view>

namespace tillbay::os::codepage {

inline constexpr int utf8 = 65001;

// Whether the machine can convert to and from the code page.
bool supported(int codepage);

// UTF-8 converted one character at a time: a character the code page lacks,
// and every byte that is not valid UTF-8, becomes '?', so one odd character
// never spoils the rest of the text. Nothing when the code page itself is
// unknown to the machine.
std::optional<std::string> from_utf8(int codepage, std::string_view utf8_text);

} // namespace tillbay::os::codepage

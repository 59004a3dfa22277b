#pragma once

// Reads the server's JSON answers member by member. Unlike a search for the
// first quoted key anywhere in the text, a member is looked up only among
// the object's own members, so a name or memo that happens to hold a key's
// spelling can never stand in for a field. No tree is built: the readers
// hand out views of the raw value text.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tillbay::printing::json_reader {

// Deeper nesting than this reads as malformed.
inline constexpr int max_depth = 64;

// The raw text of the object's member (a string with its quotes, a number,
// an object, an array, true, false or null); nothing when the object does
// not have it or is malformed up to that member.
std::optional<std::string_view> member(std::string_view object, std::string_view key);

// The raw texts of an array's elements; empty for anything but an array.
std::vector<std::string_view> elements(std::string_view array);

// A string value unescaped (\uXXXX and surrogate pairs as UTF-8; a broken
// escape as U+FFFD), or a number's own text; "" for anything else. At most
// max_bytes, never ending inside a character.
std::string text(std::optional<std::string_view> raw, size_t max_bytes);

// A number, or a string holding one: the integer part, saturated at the ends
// of the 64-bit range; default_value when there is none.
long long integer(std::optional<std::string_view> raw, long long default_value);

} // namespace tillbay::printing::json_reader

#pragma once

// UTF-8 text as a receipt printer lays it out: display widths, cuts on
// character boundaries, and the removal of control bytes from text that
// comes from the server or a customer.

#include <cstddef>
#include <string>
#include <string_view>

namespace tillbay::printing {

bool is_valid_utf8(std::string_view text);

// At most max_bytes, never ending inside a character.
std::string cut_utf8(std::string_view text, size_t max_bytes);

// Columns on paper: a character from U+1100 upwards (Hangul, CJK and other
// wide characters) takes two, every other character one. Text that is not
// valid UTF-8 counts one column per byte.
int display_width(std::string_view text);

// The longest start of text that fits into columns, and where it ends.
size_t fit_width(std::string_view text, int columns);

// Without bytes below 0x20 and without 0x7F: text from outside (shop name,
// menu names, options, memos) can then never carry a printer command such as
// the drawer pulse or the cut into the document.
std::string without_controls(std::string_view text);

} // namespace tillbay::printing

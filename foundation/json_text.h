#pragma once

// JSON as text. The program never builds a document tree: it writes JSON with
// a few escaping helpers and reads the server's answers with flat field
// readers that look for the first occurrence of a quoted key anywhere in the
// text. Page callbacks, server requests and log scrubbing depend on the exact
// bytes these helpers produce, so each one is small and literal. All text is
// 8-bit; bytes of 128 and above are always copied unchanged.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::json {

// Longest key the field readers accept; a longer key is never found.
inline constexpr size_t max_key_length = 127;

// A double-quoted JSON string literal: tab, LF and CR as \t \n \r, the quote
// and the backslash escaped, other bytes below 32 as \u%04x; everything else
// (127, bytes of 128 and above, the slash, U+2028/U+2029) is copied.
std::string quote(std::string_view text);

// The same escapes without the quotes, for a fixed buffer of buffer_size
// bytes: writing stops silently before an escape that would take the output
// beyond buffer_size - 7 bytes, so that a six-byte escape and the terminating
// NUL always fit. The input ends at its first NUL; a null input gives "".
std::string escape_bounded(char const* text, size_t buffer_size);

// Every '&' becomes the six characters \u0026, so that JSON carried as the
// value of a name=value request parameter cannot end that parameter early.
std::string guard_ampersand(std::string_view text);

// Adds the member "storeidx":N right after the first '{' unless the quoted key
// "storeidx" appears anywhere in the text. Text without '{' is returned as is.
std::string inject_storeidx(std::string_view object_text, int storeidx);

// The integer after the first "key": blanks, colons and quotes are skipped;
// a digit or '-' starts a base-10 number (clamped to the 32-bit range),
// anything else gives default_value.
int int_field(std::string_view text, std::string_view key, int default_value);

// The string value after the first "key", unescaped (\n \r \t decoded, any
// other escaped byte taken literally, \u not decoded), at most size - 1 bytes.
// Returns false, with out empty, when the key is missing or its value is not
// a string.
bool text_field(std::string_view text, std::string_view key, std::string& out, size_t size);

// The text of object number index (from 0) of the array that follows the
// first "key", braces included, at most size - 1 bytes; "" when there is no
// such object. Braces inside string values do not count.
std::string array_object(std::string_view text, std::string_view key, int index, size_t size);

// The next object of an array, braces included, with at just inside the '['
// (or just after the previous object): moves at past the object. Braces inside
// string values and a stray '}' outside any object do not count. nullopt, with
// at on the ']', once the array ends; nullopt, with at at the end, when the
// text ends first (an object left open there is no object).
std::optional<std::string_view> next_array_object(std::string_view text, size_t& at);

// Builds the on-screen receipt view: a JSON array of elements in a buffer of
// fixed capacity. An append that would not leave two bytes free (length + 2 +
// piece length >= capacity) is dropped and sets the overflow flag.
class PreviewWriter {
public:
    explicit PreviewWriter(size_t capacity);

    // Longest escaped value of a text member, in bytes.
    static constexpr size_t max_member_value = 1093;

    // ,{"t":"type"  (no comma before the first element).
    void open_element(std::string_view type);
    // ,"name":"value" with the value escaped: quote and backslash get a
    // backslash, other bytes below 32 become \u%04x.
    void text_member(std::string_view name, std::string_view value);
    // ,"a":%d,"z":%d,"b":%d, written only when one of the three is not 0.
    void style_members(int align, int size, int bold);
    void append_raw(std::string_view piece);

    bool overflow() const { return m_overflow; }
    std::string const& text() const { return m_text; }
    size_t length() const { return m_text.size(); }
    size_t capacity() const { return m_capacity; }

    // A point to roll back to, so that a caller can drop an element that did
    // not fit whole instead of leaving half of it in the array.
    struct Mark {
        size_t length = 0;
        size_t elements = 0;
    };
    Mark mark() const { return { m_text.size(), m_elements }; }
    void rollback(Mark mark);

private:
    bool append(std::string_view piece);

    std::string m_text;
    size_t m_capacity = 0;
    size_t m_elements = 0;
    bool m_overflow = false;
};

// Letters, digits and "-_.~" stay; every other byte becomes %XX (upper case).
std::string percent_encode(std::string_view bytes);
// %XX (either case) becomes the byte, '+' a blank; a '%' without two hex
// digits after it is copied as it is.
std::string percent_decode(std::string_view bytes);

// Standard RFC 4648 alphabet. CR, LF, blanks and tabs are skipped anywhere;
// a byte outside the alphabet, an alphabet byte after a pad, more than two
// pads, or a lone trailing character that cannot form a byte fail.
std::optional<std::string> base64_decode(std::string_view text);
std::string base64_encode(std::string_view bytes);

} // namespace tillbay::json

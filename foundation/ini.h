#pragma once

// The profile reader and writer for the settings file, with the rules every
// settings file this program meets was written by:
// - sections and keys match case-insensitively (ASCII), after blanks around
//   them are trimmed; the first section of a name that holds the key wins;
// - a value is what follows the first "=", trimmed, with one pair of
//   matching surrounding quotes (" or ') removed; "key=" gives an empty
//   text, a missing key (or a line without "=") gives the caller's default;
// - the writer stores "key=value" without blanks, replacing the key's line,
//   adding the key at the end of its section, or adding the section at the
//   end of the file; the file is created when missing;
// - a null value deletes the key.
// Unlike the old platform writer, every other byte of the file stays as it
// was, and the file is replaced through a temporary file, so a failed write
// never damages it.

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::ini {

// The largest settings file the profile functions read or rewrite. A real
// settings file holds a few kilobytes; anything far beyond that is not ours
// to parse on every lookup, so it reads as empty and is never rewritten.
inline constexpr size_t k_max_file_bytes = 1024 * 1024;

// Names and values that can be written without breaking the line structure
// of the file: no CR, LF or NUL anywhere; a section without "]"; a key
// without "=", not beginning with "[" and without blanks at either end.
// Both names must be non-empty.
bool is_valid_section(std::string_view section);
bool is_valid_key(std::string_view key);
bool is_valid_value(std::string_view value);

// The value of the key in the settings text, or nothing when absent.
std::optional<std::string_view> find_value(std::string_view content, std::string_view section, std::string_view key);

// The settings text with the key set to the value, or deleted when there is
// no value. The arguments must pass the checks above.
std::string with_value(std::string_view content, std::string_view section, std::string_view key,
    std::optional<std::string_view> value);

// A decimal integer the way the profile integer reader takes it: leading
// blanks, an optional sign, digits up to the first other byte (none gives
// 0), saturated at the ends of int. An empty text gives the default.
int parse_int(std::string_view text, int default_value);

// File forms. A missing, unreadable or oversized file reads as empty.
std::optional<std::string> get_string(std::string const& path, std::string_view section, std::string_view key);
int get_int(std::string const& path, std::string_view section, std::string_view key, int default_value);
// False when the path is empty, the arguments are not writable, the file
// cannot be read, or the new file cannot be written; the old file then
// stays. Deleting a key from a missing file succeeds without creating it.
bool set_string(std::string const& path, std::string_view section, std::string_view key,
    std::optional<std::string_view> value);

// Every writer of the settings file takes this lock around its
// read-modify-replace, so that two writers in one process never lose each
// other's change.
std::mutex& write_lock();

} // namespace tillbay::ini

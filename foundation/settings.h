#pragma once

// The settings file "tillbay.ini" next to the executable: the server settings
// record read once at start, the readers and the two writers every subsystem
// uses for its own sections, and the start-up housekeeping (line endings,
// the one-time migration of the old plain-text server defaults).
//
// Two writers exist on purpose. The profile writer (write_profile) stores
// "key=value" and may create the file; it serves LOGIN, UI, CUSTOMER,
// TABLET, UPDATE and the printers' connection keys. The line-preserving
// writer (write_line_preserving) changes one key's value and nothing else,
// never creates the file, and serves NOTIFY, PRINTER, DRAWER, KITCHEN and
// LOCK, whose lines installers annotate by hand.

#include "os/crypto.h"

#include <cstddef>
#include <optional>
#include <span>
#include <utility>
#include <string>
#include <string_view>

namespace tillbay::settings {

// The largest settings file the line-preserving writer and the line-ending
// normaliser touch; a larger file is left as it is.
inline constexpr size_t k_max_rewrite_bytes = 262144;

struct ServerSettings {
    std::string host;    // ASCII, at most 127 bytes
    std::string webhost; // ASCII, at most 127 bytes
    int port = 9000;
    int relayport = 2626;
    int storeidx = 0;
    int devicetype = 1;
    bool tls = true;
    std::string tlsfp; // ASCII, at most 79 bytes
};

// Ok: the file names a SERVER port or host. NoFile: there is no settings
// file. MissingServer: the file exists but names neither.
enum class State { Ok = 0, NoFile = 1, MissingServer = 2 };

// Once at start, before read_server_settings: moves the old plain-text
// defaults (port 9000, relay port 2626, TLS off) to the encrypted ones.
void migrate_old_server_settings();
// Once at start: fills the record and the state. The record then stays as
// it is for the life of the process.
void read_server_settings();
ServerSettings const& server();
State state();
// True once after a migration (the sign-in page tells the user), then false.
bool take_migrated_flag();

// A text setting: at most 511 characters of the value, cut to size - 1
// bytes on a character boundary. Empty when absent (or size is 0).
std::string read_text(std::string_view section, std::string_view key, size_t size);
// An integer setting; range checks are the caller's.
int read_int(std::string_view section, std::string_view key, int default_value);

// The profile writer; no value deletes the key. False when the settings
// path is unknown, a name or value holds a line break, or the file cannot
// be read or replaced (the old file then stays).
bool write_profile(std::string_view section, std::string_view key, std::optional<std::string_view> value);

// The line-preserving writer: true when the file was rewritten completely.
// False, with the file untouched, when it is missing (it is never created),
// larger than k_max_rewrite_bytes, unreadable, when a name or the value
// holds a line break, or when the replacement cannot be written.
bool write_line_preserving(std::string_view section, std::string_view key, std::string_view value);
// Several keys of one section in one replacement of the file: values that
// only make sense together (a salt and the hash made with it) are written
// all or none.
bool write_line_preserving(std::string_view section,
    std::span<std::pair<std::string_view, std::string_view> const> values);

// The client headers and the owner sign-in key and IV: the settings value
// when present, else the built-in value.
SecretString server_header();
SecretString relay_header();
SecretString app_key();
SecretString app_iv();

std::string const& builtin_host();
std::string const& builtin_webhost();

// Text forms of the two rewriting rules, for the file functions above and
// for tests and fuzzing.
//
// The settings text with the key's value replaced (or the key or section
// added) by the line-preserving rules. The arguments must not hold CR, LF
// or NUL, and the section no "]".
std::string line_preserving_edit(std::string_view content, std::string_view section, std::string_view key,
    std::string_view value);
// The text without a UTF-8 byte-order mark and with every line end made
// CR LF, or nothing when it has neither a mark nor a lone CR or LF (or is
// shorter than 3 bytes, or longer than k_max_rewrite_bytes).
std::optional<std::string> normalised_line_endings(std::string_view content);
// Applies normalised_line_endings to the file; a failed write leaves it.
void normalise_line_endings(std::string const& path);

} // namespace tillbay::settings

#pragma once

// Addresses as the page policy judges them. The policy trusts a document only
// when it can name it in advance, so every address that reaches a decision is
// first reduced by one strict parser to scheme, host, port and a decoded path;
// anything the parser cannot reduce unambiguously is refused outright.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::bridge {

// Longest address the parser looks at.
inline constexpr size_t max_address_length = 8192;

struct Address {
    std::string scheme; // lower case
    std::string host;   // lower case; empty for file addresses
    uint16_t port = 0;  // 0 for file addresses
    std::string path;   // percent-decoded, begins with "/"
    bool file = false;  // a "file" address
};

// Valid UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool is_valid_utf8(std::string_view text);

// No byte below 32, no 127, no backslash, no double quote, no '<' or '>', and
// valid UTF-8. The empty text passes.
bool is_safe_text(std::string_view text);

// The number of UTF-16 code units the UTF-8 text would take (invalid bytes
// count one each), so that limits stated in the web view's own units can be
// checked on the converted text.
size_t utf16_length(std::string_view utf8);

// Parses "scheme://authority/path". Accepted schemes: "file" (empty authority,
// absolute path), "http", "https", and ui_scheme, the custom scheme that
// serves the two virtual hosts (default port 443, like https). Query and
// fragment are cut off first and never count.
std::optional<Address> parse_address(std::string_view text, std::string_view ui_scheme);

// The scheme a configured web host without one gets: "http://" for exactly
// "localhost" and for texts that begin with the numbers of a loopback or
// private IPv4 range (127.x, 10.x, 192.168, 172.16-31), "https://" otherwise.
// A text that already has "://" is returned unchanged.
std::string web_host_with_scheme(std::string_view configured_web_host);

// The text with every byte that does not begin a valid UTF-8 sequence
// replaced by U+FFFD, so that a web view that refuses invalid UTF-8 as a
// whole still gets the rest of it.
std::string with_valid_utf8(std::string_view text);

// "file://" + the absolute POSIX path with only what a URL path must not hold
// percent-encoded: control bytes, the blank, bytes of 128 and above, and
// " # % < > ? [ \ ] ^ ` { | }. Everything else, "@ + , ; = & $ :" included,
// stays as it is, which is the form the web view itself reports for the
// address, and its decoded path is the path itself.
std::string file_address(std::string_view absolute_path);

} // namespace tillbay::bridge

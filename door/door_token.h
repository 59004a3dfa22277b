#pragma once

// The door token: the secret a tablet shows to be served. It is made from the
// operating system's random source only; when that fails there is no token
// and the door stays closed, since a token made from clocks could be guessed
// by anyone on the LAN.

#include "door/http_request.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tillbay::door {

// 32 letters without I, O, 0 and 1, so that a token read aloud is not misheard.
inline constexpr std::string_view token_alphabet = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789";
inline constexpr size_t token_length = 12;
// A stored token shorter than this counts as missing.
inline constexpr size_t min_stored_token = 8;
inline constexpr size_t max_stored_token = 63;

using RandomSource = std::function<bool(std::span<uint8_t>)>;

// A new token, or nullopt when the random source failed.
std::optional<std::string> make_token(RandomSource const& random);

// Whether a token read from the settings file is used as it is: 8 to 63
// letters, digits, "-" or "_" (anything else could break the cookie it
// travels in).
bool usable_stored_token(std::string_view stored);

// True when given equals token; the time taken does not depend on where
// they differ. An empty token never matches.
bool same_token(std::string_view given, std::string_view token);

// The query parameter "t", the header "x-tilla-token", or the cookie "ttk"
// (matched by its exact name) equals the token.
bool is_authorised(Request const& request, std::string_view token);

// The query parameter "t" equals the token: the answer then pairs the browser.
bool carries_token_in_query(Request const& request, std::string_view token);

} // namespace tillbay::door

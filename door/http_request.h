#pragma once

// The door's request reader: one HTTP/1.1 request per connection, read from
// the bytes received so far. It says "need more" until the header block and
// the declared body are there, and fails on anything it will not serve. The
// limits are named here, next to the reader.

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::door {

// The header block must end within this many bytes.
inline constexpr size_t max_head_bytes = 16384;
// The largest Content-Length accepted.
inline constexpr size_t max_body_bytes = 4096;
// The first bytes kept for the diagnostics of a failed request.
inline constexpr size_t kept_prefix_bytes = 48;

struct Request {
    std::string method; // as sent, case kept
    std::string path;   // the target up to the first "?"; always begins with "/"
    std::string query;  // after the first "?", not percent-decoded
    std::string body;
    // Lower-cased names; values trimmed of spaces and tabs; a repeated name keeps the last value.
    std::map<std::string, std::string> headers;

    // The header's value, or empty when it is absent.
    std::string_view header(std::string_view lower_name) const;
};

enum class ReadFailure {
    None,
    NoHeaderEnd,      // the header block did not end within max_head_bytes, or the input ended first
    NoSpace,          // a request line without a space
    BadTarget,        // a target that is neither "/..." nor an absolute http(s) address
    BadContentLength, // above max_body_bytes, or negative
    ShortBody,        // the input ended before the declared body was there
};

struct ReadOutcome {
    enum class State {
        NeedMore,
        Done,
        Failed,
    };
    State state = State::NeedMore;
    ReadFailure failure = ReadFailure::None;
    Request request;
};

// Reads a request from received. ended: no more bytes will come (the peer
// closed, the deadline passed). A request is Done once its header block and
// its whole declared body are there; bytes past the body are ignored.
ReadOutcome read_request(std::string_view received, bool ended);

// The first up to kept_prefix_bytes of received.
std::string_view kept_prefix(std::string_view received);

// The query parameter's value, as sent: pieces split at "&", each at its
// first "="; the first piece with that name wins; pieces without "=" are
// skipped. nullopt when absent.
std::optional<std::string_view> query_parameter(std::string_view query, std::string_view name);

// The value of the cookie with exactly this name in a Cookie header
// ("a=1; ttk=X"): the header is split into pairs at ";", each trimmed and
// split at its first "=". nullopt when absent.
std::optional<std::string_view> cookie_value(std::string_view header, std::string_view name);

} // namespace tillbay::door

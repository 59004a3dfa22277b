#pragma once

// The door's answers: the status line and fixed headers, the content types it
// serves files as, and the ETag of a polled JSON answer.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::door {

inline constexpr std::string_view json_type = "application/json; charset=UTF-8";
inline constexpr std::string_view html_type = "text/html; charset=UTF-8";

// "OK", "Not Found", ... and "Error" for any status without a text of its own.
std::string_view reason_text(int status);

// The whole answer: "HTTP/1.1 <status> <reason>", Content-Type,
// Content-Length, "Cache-Control: no-store", "Connection: close", then the
// extra header lines as given (each ending in CR LF), a blank line and the body.
std::string format_response(int status, std::string_view content_type, std::string_view body,
    std::string_view extra_headers = {});

inline std::string format_json(int status, std::string_view body, std::string_view extra_headers = {})
{
    return format_response(status, json_type, body, extra_headers);
}

// The Content-Type of a file name by the extension after its last "."
// (lower-cased); nullopt for every other extension and for a name without ".".
std::optional<std::string_view> content_type_for(std::string_view name);

// 32-bit FNV-1a of the bytes.
uint32_t fnv1a(std::string_view bytes);
// "\"%08x\"" of the body's FNV-1a hash.
std::string etag_of(std::string_view body);

} // namespace tillbay::door

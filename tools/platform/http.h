#pragma once

// A small HTTP/1.1 server side for the web host and the control port: one
// request per connection, answered and closed.

#include "tools/platform/net.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::platform {

struct HttpRequest {
    std::string method;
    std::string target; // as sent: path and query
    std::string path;   // percent-decoded, without the query
    std::string query;
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;

    std::string header(std::string const& name) const
    {
        auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
    // A query or form parameter, percent-decoded.
    std::string param(std::string const& name) const;
};

struct HttpLimits {
    size_t head = 16 * 1024;       // request line and headers
    size_t body = 12 * 1024 * 1024; // photos are at most 10 MiB
    int wait_ms = 15000;           // the whole request must arrive in this time
};

enum class HttpParseError { None, Closed, Timeout, BadRequest, HeadTooLarge, BodyTooLarge };

HttpParseError read_http_request(Conn& conn, HttpLimits const& limits, HttpRequest& out);
// Parses a complete head (up to and including the blank line).
bool parse_http_head(std::string_view head, HttpRequest& out);

struct HttpResponse {
    int status = 200;
    std::string content_type = "application/json; charset=utf-8";
    std::string body;
    bool head_only = false;
    std::map<std::string, std::string> extra_headers;
};

bool write_http_response(Conn& conn, HttpResponse const& response);
std::string percent_decode(std::string_view text, bool plus_is_space);
std::map<std::string, std::string> parse_urlencoded(std::string_view text);

} // namespace tillbay::platform

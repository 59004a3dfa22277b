#include "tools/platform/http.h"

#include <cctype>

namespace tillbay::platform {

namespace {

char const* reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 410: return "Gone";
    case 413: return "Payload Too Large";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

std::string lower(std::string_view s)
{
    std::string out(s);
    for (auto& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string trim(std::string_view s)
{
    size_t a = 0, b = s.size();
    while (a < b && (s[a] == ' ' || s[a] == '\t'))
        ++a;
    while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r'))
        --b;
    return std::string(s.substr(a, b - a));
}

} // namespace

std::string percent_decode(std::string_view text, bool plus_is_space)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1]))
            && std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else if (c == '+' && plus_is_space) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

std::map<std::string, std::string> parse_urlencoded(std::string_view text)
{
    std::map<std::string, std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('&', start);
        if (end == std::string_view::npos)
            end = text.size();
        auto pair = text.substr(start, end - start);
        size_t eq = pair.find('=');
        std::string name = percent_decode(pair.substr(0, eq), true);
        std::string value = eq == std::string_view::npos ? "" : percent_decode(pair.substr(eq + 1), true);
        out.emplace(std::move(name), std::move(value));
        start = end + 1;
    }
    return out;
}

std::string HttpRequest::param(std::string const& name) const
{
    auto q = parse_urlencoded(query);
    if (auto it = q.find(name); it != q.end())
        return it->second;
    if (header("content-type").starts_with("application/x-www-form-urlencoded")) {
        auto f = parse_urlencoded(body);
        if (auto it = f.find(name); it != f.end())
            return it->second;
    }
    return {};
}

bool parse_http_head(std::string_view head, HttpRequest& out)
{
    size_t line_end = head.find("\r\n");
    if (line_end == std::string_view::npos)
        return false;
    std::string_view line = head.substr(0, line_end);
    size_t sp1 = line.find(' ');
    size_t sp2 = line.rfind(' ');
    if (sp1 == std::string_view::npos || sp2 == sp1)
        return false;
    out.method = std::string(line.substr(0, sp1));
    out.target = std::string(line.substr(sp1 + 1, sp2 - sp1 - 1));
    if (!line.substr(sp2 + 1).starts_with("HTTP/1.") || out.target.empty() || out.target[0] != '/')
        return false;
    for (char c : out.method)
        if (c < 'A' || c > 'Z')
            return false;
    size_t q = out.target.find('?');
    out.path = percent_decode(std::string_view(out.target).substr(0, q), false);
    out.query = q == std::string::npos ? "" : out.target.substr(q + 1);
    size_t pos = line_end + 2;
    while (pos < head.size()) {
        size_t end = head.find("\r\n", pos);
        if (end == std::string_view::npos || end == pos)
            break;
        std::string_view h = head.substr(pos, end - pos);
        size_t colon = h.find(':');
        if (colon == std::string_view::npos || colon == 0)
            return false;
        out.headers[lower(h.substr(0, colon))] = trim(h.substr(colon + 1));
        pos = end + 2;
    }
    return true;
}

HttpParseError read_http_request(Conn& conn, HttpLimits const& limits, HttpRequest& out)
{
    std::string buffer;
    auto deadline = deadline_in(std::chrono::milliseconds(limits.wait_ms));
    size_t head_end;
    for (;;) {
        head_end = buffer.find("\r\n\r\n");
        if (head_end != std::string::npos)
            break;
        if (buffer.size() > limits.head)
            return HttpParseError::HeadTooLarge;
        auto r = conn.read_some(buffer, limits.head + 4 - buffer.size() + 1, deadline);
        if (r == Conn::ReadResult::Closed)
            return buffer.empty() ? HttpParseError::Closed : HttpParseError::BadRequest;
        if (r == Conn::ReadResult::Timeout)
            return buffer.empty() ? HttpParseError::Closed : HttpParseError::Timeout;
    }
    if (!parse_http_head(std::string_view(buffer).substr(0, head_end + 2), out))
        return HttpParseError::BadRequest;
    if (!out.header("transfer-encoding").empty())
        return HttpParseError::BadRequest; // chunked uploads are not used by any client of ours
    size_t length = 0;
    std::string cl = out.header("content-length");
    if (!cl.empty()) {
        for (char c : cl)
            if (c < '0' || c > '9')
                return HttpParseError::BadRequest;
        if (cl.size() > 12)
            return HttpParseError::BodyTooLarge;
        length = std::stoull(cl);
    }
    if (length > limits.body)
        return HttpParseError::BodyTooLarge;
    out.body = buffer.substr(head_end + 4);
    if (out.body.size() > length)
        out.body.resize(length);
    while (out.body.size() < length) {
        auto r = conn.read_some(out.body, length - out.body.size(), deadline);
        if (r == Conn::ReadResult::Closed)
            return HttpParseError::BadRequest;
        if (r == Conn::ReadResult::Timeout)
            return HttpParseError::Timeout;
    }
    return HttpParseError::None;
}

bool write_http_response(Conn& conn, HttpResponse const& response)
{
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + reason(response.status) + "\r\n";
    head += "Content-Type: " + response.content_type + "\r\n";
    head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    head += "Cache-Control: no-store\r\nConnection: close\r\n";
    for (auto const& [name, value] : response.extra_headers)
        head += name + ": " + value + "\r\n";
    head += "\r\n";
    if (response.head_only)
        return conn.write_all(head);
    return conn.write_all(head + response.body);
}

} // namespace tillbay::platform

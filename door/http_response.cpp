#include "door/http_response.h"

#include "base/ascii.h"

#include <cstdio>

namespace tillbay::door {

std::string_view reason_text(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 302:
        return "Found";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 503:
        return "Service Unavailable";
    default:
        return "Error";
    }
}

std::string format_response(int status, std::string_view content_type, std::string_view body,
    std::string_view extra_headers)
{
    std::string out;
    out.reserve(160 + content_type.size() + extra_headers.size() + body.size());
    out += "HTTP/1.1 ";
    out += std::to_string(status);
    out += ' ';
    out += reason_text(status);
    out += "\r\nContent-Type: ";
    out += content_type;
    out += "\r\nContent-Length: ";
    out += std::to_string(body.size());
    out += "\r\nCache-Control: no-store\r\nConnection: close\r\n";
    out += extra_headers;
    out += "\r\n";
    out += body;
    return out;
}

std::optional<std::string_view> content_type_for(std::string_view name)
{
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return std::nullopt;
    std::string extension = ascii::lowered(name.substr(dot + 1));
    if (extension == "html")
        return html_type;
    if (extension == "js")
        return "application/javascript; charset=UTF-8";
    if (extension == "css")
        return "text/css; charset=UTF-8";
    if (extension == "png")
        return "image/png";
    if (extension == "jpg" || extension == "jpeg")
        return "image/jpeg";
    if (extension == "svg")
        return "image/svg+xml";
    if (extension == "wav")
        return "audio/wav";
    if (extension == "ico")
        return "image/x-icon";
    return std::nullopt;
}

uint32_t fnv1a(std::string_view bytes)
{
    uint32_t hash = 2166136261u;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash;
}

std::string etag_of(std::string_view body)
{
    char text[16];
    std::snprintf(text, sizeof text, "\"%08x\"", fnv1a(body));
    return text;
}

} // namespace tillbay::door

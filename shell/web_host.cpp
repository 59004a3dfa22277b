#include "shell/web_host.h"

#include "base/ascii.h"

#include <optional>

namespace tillbay::shell {

namespace {

Error unknown(std::string detail) { return Error::with_message(unknown_web_host_text, std::move(detail)); }

} // namespace

Result<os::http::Endpoint> web_host_endpoint(std::string_view web_host)
{
    std::string_view rest = web_host;
    std::optional<os::http::Security> security;
    if (ascii::starts_with_ignoring_case(rest, "https://")) {
        security = os::http::Security::Secure;
        rest.remove_prefix(8);
    } else if (ascii::starts_with_ignoring_case(rest, "http://")) {
        security = os::http::Security::Plain;
        rest.remove_prefix(7);
    }
    rest = rest.substr(0, rest.find('/'));

    std::string_view host = rest;
    std::optional<std::string_view> port_text;
    // An IPv6 literal keeps its colons inside the brackets.
    size_t search_from = 0;
    if (!host.empty() && host.front() == '[') {
        size_t close = host.find(']');
        if (close == std::string_view::npos)
            return unknown("unclosed bracket: " + std::string(web_host));
        search_from = close;
    }
    if (size_t colon = host.find(':', search_from); colon != std::string_view::npos) {
        port_text = host.substr(colon + 1);
        host = host.substr(0, colon);
    }
    if (host.empty())
        return unknown("no host: " + std::string(web_host));
    for (char c : host) {
        auto u = static_cast<unsigned char>(c);
        if (u <= 32 || u == 127 || c == '@' || c == '?' || c == '#' || c == '\\')
            return unknown("host with a forbidden byte: " + std::string(web_host));
    }

    os::http::Endpoint endpoint;
    endpoint.host = std::string(host);
    if (!security) {
        bool plain = ascii::equals_ignoring_case(host, "localhost") || os::http::is_private_host(host);
        security = plain ? os::http::Security::Plain : os::http::Security::Secure;
    }
    endpoint.security = *security;
    endpoint.port = endpoint.security == os::http::Security::Secure ? 443 : 80;
    if (port_text) {
        if (port_text->empty() || port_text->size() > 5)
            return unknown("port: " + std::string(web_host));
        long port = 0;
        for (char c : *port_text) {
            if (c < '0' || c > '9')
                return unknown("port: " + std::string(web_host));
            port = port * 10 + (c - '0');
        }
        if (port < 1 || port > 65535)
            return unknown("port out of range: " + std::string(web_host));
        endpoint.port = static_cast<uint16_t>(port);
    }
    return endpoint;
}

Result<os::http::Response> web_host_request(std::string_view web_host, os::http::Request request)
{
    auto endpoint = TRY(web_host_endpoint(web_host));
    request.headers.insert(request.headers.begin(), { "X-Requested-With", "TillBay" });
    return os::http::request(endpoint, request);
}

} // namespace tillbay::shell

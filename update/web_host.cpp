#include "update/web_host.h"

namespace tillbay::update {

std::optional<os::http::Endpoint> web_host_endpoint(std::string_view web_host)
{
    bool secure = web_host.size() >= 8;
    for (size_t i = 0; secure && i < 8; ++i) {
        char c = web_host[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        secure = c == "https://"[i];
    }
    auto security = secure ? os::http::Security::Secure : os::http::Security::Plain;
    auto endpoint = os::http::endpoint_from_host_text(web_host, security);
    if (endpoint.host.empty())
        return std::nullopt;
    if (!secure && !os::http::is_private_host(os::http::host_part(web_host)))
        return std::nullopt;
    return endpoint;
}

} // namespace tillbay::update

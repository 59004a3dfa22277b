#include "printing/discovery/queue_pointer.h"

#include "base/ascii.h"

#include <array>

namespace tillbay::discovery {

namespace {

constexpr uint16_t default_raw_port = 9100;
constexpr std::array<std::string_view, 5> evidence_only_schemes = { "lpd", "ipp", "ipps", "http", "https" };

} // namespace

std::optional<uint32_t> parse_ipv4(std::string_view text)
{
    uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (text.empty() || text[0] != '.')
                return std::nullopt;
            text.remove_prefix(1);
        }
        size_t digits = 0;
        unsigned value = 0;
        while (digits < text.size() && digits < 4 && text[digits] >= '0' && text[digits] <= '9')
            value = value * 10 + static_cast<unsigned>(text[digits++] - '0');
        if (digits == 0 || digits > 3 || value > 255)
            return std::nullopt;
        address = (address << 8) | value;
        text.remove_prefix(digits);
    }
    if (!text.empty())
        return std::nullopt;
    return address;
}

std::optional<QueuePointer> queue_pointer(std::string_view queue, std::string_view device_uri)
{
    size_t separator = device_uri.find("://");
    if (separator == std::string_view::npos)
        return std::nullopt;
    std::string scheme = ascii::lowered(device_uri.substr(0, separator));
    bool raw = scheme == "socket";
    bool known = raw;
    for (auto other : evidence_only_schemes)
        known = known || scheme == other;
    if (!known)
        return std::nullopt;

    std::string_view authority = device_uri.substr(separator + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    size_t at = authority.rfind('@');
    if (at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    std::string_view host = authority.substr(0, authority.find(':'));
    auto address = parse_ipv4(host);
    if (!address)
        return std::nullopt;

    QueuePointer pointer { std::string(queue), *address, 0 };
    if (raw) {
        pointer.port = default_raw_port;
        if (host.size() < authority.size()) {
            std::string_view digits = authority.substr(host.size() + 1);
            unsigned value = 0;
            if (digits.empty() || digits.size() > 5)
                return std::nullopt;
            for (char c : digits) {
                if (c < '0' || c > '9')
                    return std::nullopt;
                value = value * 10 + static_cast<unsigned>(c - '0');
            }
            if (value < 1 || value > 65535)
                return std::nullopt;
            pointer.port = static_cast<uint16_t>(value);
        }
    }
    return pointer;
}

} // namespace tillbay::discovery

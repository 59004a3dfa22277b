#include "door/door_token.h"

#include <array>

namespace tillbay::door {

std::optional<std::string> make_token(RandomSource const& random)
{
    std::array<uint8_t, token_length> bytes {};
    if (!random || !random(bytes))
        return std::nullopt;
    std::string token(token_length, ' ');
    // 256 is a multiple of 32, so every letter is equally likely.
    for (size_t i = 0; i < token_length; ++i)
        token[i] = token_alphabet[bytes[i] & 31];
    bytes.fill(0);
    return token;
}

bool usable_stored_token(std::string_view stored)
{
    if (stored.size() < min_stored_token || stored.size() > max_stored_token)
        return false;
    for (char c : stored) {
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

bool same_token(std::string_view given, std::string_view token)
{
    if (token.empty())
        return false;
    unsigned difference = given.size() == token.size() ? 0u : 1u;
    for (size_t i = 0; i < token.size(); ++i) {
        unsigned char g = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
        difference |= g ^ static_cast<unsigned char>(token[i]);
    }
    return difference == 0;
}

bool is_authorised(Request const& request, std::string_view token)
{
    if (token.empty())
        return false;
    if (auto t = query_parameter(request.query, "t"); t && same_token(*t, token))
        return true;
    if (auto it = request.headers.find("x-tilla-token"); it != request.headers.end() && same_token(it->second, token))
        return true;
    if (auto it = request.headers.find("cookie"); it != request.headers.end()) {
        if (auto value = cookie_value(it->second, "ttk"); value && same_token(*value, token))
            return true;
    }
    return false;
}

bool carries_token_in_query(Request const& request, std::string_view token)
{
    auto t = query_parameter(request.query, "t");
    return t && same_token(*t, token);
}

} // namespace tillbay::door

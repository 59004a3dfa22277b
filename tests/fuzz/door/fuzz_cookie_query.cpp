// The query and cookie readers and the token check on hostile text: a value
// they return lies inside the input, and a cookie is only ever found under
// its exact name.

#include "door/door_token.h"
#include "door/http_request.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace tillbay::door;

namespace {

bool inside(std::string_view outer, std::string_view part)
{
    return part.empty() || (part.data() >= outer.data() && part.data() + part.size() <= outer.data() + outer.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    std::string_view input(reinterpret_cast<char const*>(data), size);
    for (std::string_view name : { "t", "ttk", "" }) {
        if (auto value = query_parameter(input, name); value && !inside(input, *value))
            std::abort();
        if (auto value = cookie_value(input, name); value && !inside(input, *value))
            std::abort();
    }
    if (auto value = cookie_value(input, "ttk")) {
        // The pair it came from is named "ttk" exactly, give or take blanks.
        size_t start = static_cast<size_t>(value->data() - input.data());
        std::string_view before = input.substr(0, start);
        size_t pair = before.rfind(';');
        std::string_view name = before.substr(pair == std::string_view::npos ? 0 : pair + 1);
        size_t equals = name.rfind('=');
        name = name.substr(0, equals);
        while (!name.empty() && (name.front() == ' ' || name.front() == '\t'))
            name.remove_prefix(1);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
            name.remove_suffix(1);
        if (name != "ttk")
            std::abort();
    }
    std::string_view token = input.substr(0, input.size() / 2);
    if (same_token(token, input.substr(input.size() / 2)) != (!token.empty() && token == input.substr(input.size() / 2)))
        std::abort();
    return 0;
}

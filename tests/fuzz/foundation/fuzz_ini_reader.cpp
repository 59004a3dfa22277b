// The settings file is edited by hand and may hold any bytes. The profile
// reader must stay inside it, and the profile writer must change exactly the
// key it was asked to: afterwards the reader finds the new value (or nothing,
// after a delete), and a key of another section reads as before.

#include "foundation/ini.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view k_sections[] = { "SERVER", "server", "PRINTER", "A", "[", "S S" };
constexpr std::string_view k_keys[] = { "host", "PORT", "k", "id", "a b" };

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    using namespace tillbay;
    if (size < 2)
        return 0;
    std::string_view section = k_sections[data[0] % std::size(k_sections)];
    std::string_view key = k_keys[(data[0] / 8) % std::size(k_keys)];
    bool remove = data[1] & 1;
    std::string_view content(reinterpret_cast<char const*>(data + 2), size - 2);

    (void)ini::find_value(content, "SERVER", "host");
    (void)ini::parse_int(ini::find_value(content, "SERVER", "port").value_or(""), 9000);
    (void)ini::parse_int(content.substr(0, 32), 0);
    if (!ini::is_valid_section(section) || !ini::is_valid_key(key))
        return 0;

    // A witness in a section of its own, whose value must survive the edit.
    std::string_view witness_section = section == "A" ? "B" : "A";
    auto before = ini::find_value(content, witness_section, "w");
    std::optional<std::string> witness = before ? std::optional<std::string>(*before) : std::nullopt;

    std::optional<std::string_view> value;
    if (!remove)
        value = "v=1";
    auto edited = ini::with_value(content, section, key, value);
    auto after = ini::find_value(edited, section, key);
    if (remove ? after.has_value() : after != std::optional<std::string_view>("v=1"))
        abort();
    auto witness_after = ini::find_value(edited, witness_section, "w");
    if (witness.has_value() != witness_after.has_value() || (witness && *witness != *witness_after))
        abort();
    return 0;
}

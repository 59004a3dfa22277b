// The line-preserving writer rewrites a hand-edited file of any bytes. It
// must stay inside the text, write the value it was given, and keep every
// byte before the section it edits.

#include "foundation/ini.h"
#include "foundation/settings.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view k_sections[] = { "PRINTER", "printer", "NOTIFY", "K", "LOCK" };
constexpr std::string_view k_keys[] = { "width", "pin", "k", "badgex" };
constexpr std::string_view k_values[] = { "58", "", "[X]", "a = b", "영수증" };

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    using namespace tillbay;
    if (size < 1)
        return 0;
    std::string_view section = k_sections[data[0] % std::size(k_sections)];
    std::string_view key = k_keys[(data[0] / 8) % std::size(k_keys)];
    std::string_view value = k_values[(data[0] / 32) % std::size(k_values)];
    std::string_view content(reinterpret_cast<char const*>(data + 1), size - 1);

    auto edited = settings::line_preserving_edit(content, section, key, value);
    if (edited.find(value) == std::string::npos)
        abort();
    // Nothing before the first '[' of the text can change: the writer only
    // ever touches a section body or appends at the end.
    size_t untouched = std::min(content.find('['), content.size());
    if (edited.compare(0, untouched, content.substr(0, untouched)) != 0)
        abort();
    (void)settings::normalised_line_endings(edited);
    (void)ini::find_value(edited, section, key);
    return 0;
}

// The line-ending normaliser rewrites the settings file at every start. Its
// result must have no byte-order mark and only CR LF line ends, keep every
// other byte in order, and need no second pass.

#include "foundation/settings.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

std::string without_line_ends(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c != '\r' && c != '\n')
            out.push_back(c);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    using namespace tillbay;
    std::string_view content(reinterpret_cast<char const*>(data), size);
    auto normalised = settings::normalised_line_endings(content);
    if (!normalised)
        return 0;
    std::string_view const bom = "\xEF\xBB\xBF";
    std::string_view rest = content.starts_with(bom) ? content.substr(bom.size()) : content;
    if (without_line_ends(*normalised) != without_line_ends(rest))
        abort();
    auto const& out = *normalised;
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i] == '\r' && (i + 1 == out.size() || out[i + 1] != '\n'))
            abort();
        if (out[i] == '\n' && (i == 0 || out[i - 1] != '\r'))
            abort();
    }
    // A second mark right after the first is text of the file and goes on
    // the next start; anything else is settled after one pass.
    if (out.size() >= 3 && !std::string_view(out).starts_with(bom) && settings::normalised_line_endings(out))
        abort();
    return 0;
}

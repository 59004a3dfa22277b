// Print jobs come from any program on the LAN: the decoder and both renderers
// must take every byte sequence without reading outside it, and every byte
// must be accounted for (the text output is never empty for a non-empty job).

#include "tools/printer/escpos_decoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    std::string_view bytes(reinterpret_cast<char const*>(data), size);
    auto events = tillbay::printer::decode(bytes);
    auto text = tillbay::printer::render_text(events);
    bool only_carriage_returns = bytes.find_first_not_of('\r') == std::string_view::npos;
    if (size > 0 && text.empty() && !only_carriage_returns)
        abort();
    auto html = tillbay::printer::render_html(events);
    if (html.find("</html>") == std::string::npos)
        abort();
    return 0;
}

// The server's receipt answer on any text: it reads member by member and
// builds the receipt with its view; the printed bytes never carry a control
// byte that came from the answer's texts (only the writer's own commands),
// and the view is one JSON array.

#include "printing/receipt_layout.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace tillbay::printing;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    std::string_view text(reinterpret_cast<char const*>(data), size);
    auto record = receipt_from_json(text);
    if (record.menus.size() > max_menu_lines || record.cards.size() > max_cards)
        std::abort();
    adjust(record, { .cancel = size % 2 == 1, .reissue = size % 3 == 0, .now = 0 });
    PrinterRecord printer;
    printer.width = size % 5 == 0 ? 58 : 80;
    auto document = build_receipt(record, printer, WithView::Yes);
    if (!document.ok())
        return 0;
    auto const& view = document.value().view;
    if (view.size() < 2 || view.front() != '[' || view.back() != ']')
        std::abort();
    // ESC p (the drawer pulse) is never among the writer's own commands.
    if (document.value().bytes.find("\x1bp") != std::string::npos)
        std::abort();
    return 0;
}

// Shipping lists and uploads from anywhere: the reader keeps to its limits,
// what it reads writes back and reads again the same, and the workbook made
// from it is an archive whose sheet holds only characters XML allows.

#include "base/utf8.h"
#include "store/csv.h"
#include "store/workbook.h"
#include "tests/unit/store/zip_reader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace tillbay;
using namespace tillbay::store;

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

bool xml_characters_only(std::string_view text)
{
    if (!utf8::is_valid(text))
        return false;
    for (size_t i = 0; i < text.size();) {
        auto sequence = utf8::sequence_at(text, i);
        char32_t c = sequence.value;
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE || c == 0xFFFF)
            return false;
        i += sequence.length;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    std::string_view text(reinterpret_cast<char const*>(data), size);
    auto table = read_csv(text);
    if (!table)
        return 0;
    require(table.value().size() <= max_csv_rows);
    for (auto const& row : table.value())
        require(!row.empty() && row.size() <= max_csv_fields && !(row.size() == 1 && row[0].empty()));

    auto again = read_csv(write_csv(table.value()));
    require(again && again.value() == table.value());

    if (table.value().empty())
        return 0;
    auto workbook = write_workbook(table.value());
    require(workbook.ok());
    auto parts = test::read_zip(workbook.value().bytes);
    require(parts && parts->size() == 6 && parts->back().name == "xl/worksheets/sheet1.xml");
    require(xml_characters_only(parts->back().data));
    return 0;
}

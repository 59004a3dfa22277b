#pragma once

// The small Excel workbook of the shipping list: one sheet named "발송목록",
// six fixed parts stored in a ZIP archive, every text an inline string, five
// fixed cell styles, the header row frozen, fixed column widths, and numbers
// only in the quantity ("수량") and payment amount ("결제금액") columns. A
// general spreadsheet library would add shared strings, more parts and
// compression; this writer keeps to what spreadsheet programs need to open
// the list and nothing more.

#include "base/result.h"
#include "store/csv.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace tillbay::store {

// Columns written; a wider table loses the rest.
inline constexpr size_t max_workbook_columns = 40;
// The longest cell text, in bytes (cut at a character boundary).
inline constexpr size_t max_cell_text_bytes = 32'767;
// The sheet's XML beyond which the workbook is not built.
inline constexpr size_t max_sheet_data_bytes = 96u * 1024 * 1024;
// The widest integer written as a number; longer ones would lose digits.
inline constexpr size_t max_number_digits = 15;

// The fixed style sheet's cell formats: 0 default; 1 header (bold 11 pt,
// 1D2939 on F5F7FB, thin D0D5DD bottom border, centred); 2 text (number
// format 49, quote prefix); 3 small wrapped text (9 pt, 667085, top); 4
// wrapped text (10 pt, 667085, centred vertically). The shipping list uses 1
// and 2; the others are there for workbooks that pages build on top of it.

enum class WorkbookFailure {
    SheetTooLarge, // the sheet's XML would pass max_sheet_data_bytes
    Package,       // the archive could not be built
};

struct Workbook {
    std::string bytes;
    size_t data_rows = 0; // rows below the header
};

// The workbook of a table whose first row is the header. The error's code is
// a WorkbookFailure; it carries no message (the caller's action has its own).
Result<Workbook> write_workbook(CsvTable const& table);

// Cell text as the sheet stores it: invalid UTF-8, control characters other
// than tab, LF and CR, and U+FFFE and U+FFFF dropped; cut to
// max_cell_text_bytes at a character boundary.
std::string clean_cell_text(std::string_view text);

// "&", "<" and ">" as entities, and an underscore that starts "_xHHHH_" (hex
// digits of either case) as "_x005F_", so that spreadsheet programs do not read
// the text as an escaped character. Quotes stay (the text is never an attribute).
std::string xml_escape(std::string_view text);

// "A" for column 0, "Z" for 25, "AA" for 26, ...
std::string column_name(size_t index);

// A plain decimal integer of at most max_number_digits digits without a
// leading zero ("0" itself is one); no sign, blanks or separators.
bool is_number_text(std::string_view field);

} // namespace tillbay::store

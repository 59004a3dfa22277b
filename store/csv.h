#pragma once

// Comma-separated tables as spreadsheet programs write them: fields separated
// by ",", a field in double quotes may hold commas, line ends and quotes (two
// quotes stand for one), rows end at CR, LF or CR LF.

#include "base/result.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tillbay::store {

using CsvRow = std::vector<std::string>;
using CsvTable = std::vector<CsvRow>;

// The largest table the program reads: fields per row, and rows with the
// header row included (a header and five thousand data rows).
inline constexpr size_t max_csv_fields = 40;
inline constexpr size_t max_csv_rows = 5001;

namespace text {
inline constexpr char const* too_many_fields = "칸이 너무 많아요";
inline constexpr char const* too_many_rows = "줄이 너무 많아요";
} // namespace text

// Reads UTF-8 text (a byte order mark at the start is skipped). A row that is
// one empty field (a blank line) is dropped. A quoted field runs to its
// closing quote, or to the end of the text when there is none; characters
// after a closing quote join the field. A row with more than max_csv_fields
// fields fails with text::too_many_fields, a table of more than max_csv_rows
// rows with text::too_many_rows (as the error's message, the row in its
// detail); reading stops at the first such row.
Result<CsvTable> read_csv(std::string_view text);

enum class ByteOrderMark {
    None,
    Utf8, // EF BB BF first, so that spreadsheet programs read the file as UTF-8
};

// Writes the table with CR LF after every row. A field is quoted when it holds
// a comma, a double quote, CR or LF (or, first in a file without a byte order
// mark, opens with U+FEFF), and its quotes are doubled. A row that is one
// empty field is written as a blank line, which read_csv drops.
std::string write_csv(CsvTable const& table, ByteOrderMark bom = ByteOrderMark::None);

} // namespace tillbay::store

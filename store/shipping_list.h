#pragma once

// The online mall's shipping list as the owner downloads it: the server's CSV
// kept as it is, or turned into the workbook of store/workbook.h. Everything
// here is safe to call from any thread (the download runs on a worker).

#include "base/result.h"
#include "store/workbook.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace tillbay::store {

// The largest shipping list the program accepts from the server (and so the
// download's own cap: a list cut at any smaller size would be saved incomplete).
inline constexpr size_t max_shipping_list_bytes = 24u * 1024 * 1024;

namespace text {
inline constexpr char const* list_too_large
    = "발송 목록이 너무 커서 엑셀로 바꾸지 못했어요. 기간을 나눠 다시 저장해 주세요.";
inline constexpr char const* list_empty = "발송 목록이 비어 있어요.";
inline constexpr char const* workbook_too_large
    = "엑셀 파일이 너무 커서 만들지 못했어요. 기간을 나눠 다시 저장해 주세요.";
inline constexpr char const* unreadable_characters = "글자를 읽지 못했어요";
inline constexpr char const* list_not_received = "발송 목록을 받지 못했습니다";
inline constexpr char const* file_not_written_to_end = "파일을 끝까지 쓰지 못했습니다";
// "파일을 쓰지 못했습니다(열려 있거나 권한이 없음 — 오류 " + error number + ")"
std::string file_not_written(int error_number);
// "발송 목록을 엑셀로 바꾸지 못했어요(" + reason + "). 기간을 나눠 다시 저장해 주세요."
std::string conversion_failed(std::string_view reason);
} // namespace text

// Whether a server answer is a shipping list at all. An answer is CSV when it
// is not empty, decodes as text (store/text_decoder.h, strict), holds no NUL,
// and its first character after a byte order mark and blanks (space, tab, CR,
// LF) is none of "{", "[" and "<": the server reports its own failures as JSON
// objects or arrays, and proxies and web servers theirs as HTML or XML pages.
// Anything else is answered with text::list_not_received.
bool is_csv_answer(std::string_view body);

// The CSV bytes of the list as a workbook, with the Korean message of each
// failure: larger than max_shipping_list_bytes or a sheet too large
// (text::list_too_large), not decodable or not readable as CSV
// (text::conversion_failed with the reason), no rows (text::list_empty), a
// package that cannot be built (text::workbook_too_large).
Result<Workbook> shipping_list_workbook(std::string_view csv_bytes);

// The data rows of a list kept as CSV (the header row not counted); 0 when
// it does not decode or read.
size_t shipping_list_data_rows(std::string_view csv_bytes);

// Saves the list (CSV or workbook) where the user chose, beside the target
// first and then renamed over it (os::write_file_replacing), so a failed save
// never leaves a cut file over a good one. A file that could not be created
// or put in place fails with text::file_not_written and the error number; a
// write that stopped part-way (disk full) with text::file_not_written_to_end.
Status save_shipping_list(std::string const& path, std::string_view bytes);

} // namespace tillbay::store

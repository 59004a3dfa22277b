#include "store/shipping_list.h"

#include "os/fs.h"
#include "store/csv.h"
#include "store/text_decoder.h"

namespace tillbay::store {

std::string text::conversion_failed(std::string_view reason)
{
    return "발송 목록을 엑셀로 바꾸지 못했어요(" + std::string(reason) + "). 기간을 나눠 다시 저장해 주세요.";
}

std::string text::file_not_written(int error_number)
{
    return "파일을 쓰지 못했습니다(열려 있거나 권한이 없음 — 오류 " + std::to_string(error_number) + ")";
}

bool is_csv_answer(std::string_view body)
{
    auto decoded = decode_text(body);
    if (!decoded || !is_plain_text(decoded.value().text))
        return false;
    std::string_view text = decoded.value().text;
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return false;
    char c = text[first];
    return c != '{' && c != '[' && c != '<';
}

Result<Workbook> shipping_list_workbook(std::string_view csv_bytes)
{
    if (csv_bytes.size() > max_shipping_list_bytes)
        return Error::with_message(
            text::list_too_large, "shipping list of " + std::to_string(csv_bytes.size()) + " bytes");
    auto decoded = decode_text(csv_bytes);
    if (!decoded)
        return Error::with_message(
            text::conversion_failed(text::unreadable_characters), "shipping list: encoding unknown");
    auto table = read_csv(decoded.value().text);
    if (!table)
        return Error::with_message(text::conversion_failed(table.error().message), table.error().detail);
    if (table.value().empty())
        return Error::with_message(text::list_empty, "shipping list: no rows");
    auto workbook = write_workbook(table.value());
    if (!workbook) {
        auto kind = static_cast<WorkbookFailure>(workbook.error().code);
        auto message = kind == WorkbookFailure::SheetTooLarge ? text::list_too_large : text::workbook_too_large;
        return Error::with_message(message, workbook.error().detail);
    }
    return workbook;
}

size_t shipping_list_data_rows(std::string_view csv_bytes)
{
    auto decoded = decode_text(csv_bytes);
    if (!decoded)
        return 0;
    auto table = read_csv(decoded.value().text);
    if (!table || table.value().empty())
        return 0;
    return table.value().size() - 1;
}

Status save_shipping_list(std::string const& path, std::string_view bytes)
{
    os::WriteStage stage {};
    auto saved = os::write_file_replacing(path, bytes, &stage);
    if (saved)
        return {};
    auto error = saved.release_error();
    if (stage == os::WriteStage::Write)
        return Error::with_message(text::file_not_written_to_end, error.detail, error.code);
    return Error::with_message(text::file_not_written(error.code), error.detail, error.code);
}

} // namespace tillbay::store

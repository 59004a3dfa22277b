// The spreadsheet commands: the shipping list saved as a workbook or CSV,
// the invoice list and the product list read from the PC, and the files the
// invoice and product pages prepared saved where the owner says.

#include "store/file_family.h"
#include "store/shipping_list.h"
#include "store/text_decoder.h"

#include "base/ascii.h"
#include "foundation/json_text.h"
#include "foundation/log.h"
#include "os/fs.h"
#include "session/session.h"

#include <chrono>

namespace tillbay::store {

namespace {

using os::dialog::Filter;
using os::dialog::Kind;
using os::dialog::Request;

constexpr char const* text_busy = "이미 저장 중입니다 — 잠시 뒤에 다시 눌러 주세요";
constexpr char const* text_missing_terms = "조건이 모자랍니다";
constexpr char const* text_no_server = "서버에 연결하지 못했습니다(30초). 조건을 좁혀 다시 해 주세요.";
constexpr char const* text_list_too_big = "발송 목록이 너무 커서 받지 못했어요. 기간을 나눠 다시 저장해 주세요.";
constexpr char const* text_no_web_host = "웹서버 주소가 설정에 없습니다 (tillbay.ini 의 webhost)";
constexpr int export_timeout_ms = 30'000;

// Invoice lists: a week of a busy mall is well below this.
constexpr size_t max_invoice_bytes = 10u * 1024 * 1024;
constexpr char const* text_invoice_too_big = "송장 파일이 너무 커요(10MB 까지) — 나눠서 올려 주세요.";
constexpr size_t max_product_bytes = 1024 * 1024;
constexpr size_t max_saved_bytes = 204'800;
constexpr size_t max_product_saved_bytes = 1024 * 1024;

constexpr char const* text_macro = "매크로가 든 엑셀 파일(.xlsm·.xlsb)은 읽지 않아요. 엑셀에서 «다른 이름으로 저장» → «Excel 통합 문서(*.xlsx)» 로 저장해서 올려 주세요.";
constexpr char const* text_old_xls = "예전 엑셀 형식(.xls)이에요. 엑셀에서 «다른 이름으로 저장» → «Excel 통합 문서(*.xlsx)» 로 저장해서 올려 주세요.";
constexpr char const* text_wrong_kind = "송장 파일은 엑셀(.xlsx) 또는 CSV(.csv) 파일이어야 해요.";
constexpr char const* text_cannot_open = "파일을 열지 못했어요 — 엑셀에서 열려 있으면 닫고 다시 해 주세요.";
constexpr char const* text_empty = "빈 파일이에요.";
constexpr char const* text_compound = "예전 엑셀 형식이거나 암호가 걸린 파일이에요. 엑셀에서 암호를 풀고 «다른 이름으로 저장» → «Excel 통합 문서(*.xlsx)» 로 저장해서 올려 주세요.";
constexpr char const* text_not_zip = "엑셀(.xlsx) 파일이 아니에요 — 엑셀에서 «다른 이름으로 저장» 으로 다시 저장해 주세요.";
constexpr char const* text_undecodable = "글자를 읽지 못했어요 — CSV(UTF-8 또는 엑셀 기본 CSV)로 저장해서 올려 주세요.";
constexpr char const* text_not_text = "글자 파일(CSV)이 아니에요 — CSV 로 저장해서 올려 주세요.";
constexpr char const* text_product_excel = "엑셀 파일(.xlsx·.xls)은 바로 읽지 못해요. 엑셀에서 Office 단추(2010 이후는 «파일») → 다른 이름으로 저장 → 파일 형식을 «CSV(쉼표로 분리)(*.csv)» 로 골라 저장한 뒤, 그 CSV 파일을 올려 주세요.";
constexpr char const* text_product_too_big = "파일이 너무 커요(1MB 까지) — 나눠서 올려 주세요.";
constexpr char const* text_short_read = "파일을 끝까지 읽지 못했어요.";
constexpr char const* text_nothing_to_save = "저장할 내용이 없어요.";
constexpr char const* text_save_failed = "파일을 쓰지 못했어요(열려 있거나 권한이 없음).";

constexpr std::string_view zip_signature = "PK\x03\x04";
constexpr std::string_view compound_signature = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

std::string lower_extension(std::string const& path)
{
    auto name = files::base_name(path);
    auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string {} : ascii::lowered(name.substr(dot));
}

std::string refusal(std::string_view message) { return "{\"ok\":false,\"msg\":" + json::quote(message) + "}"; }

// The last file saved, for "폴더 열기"; never taken from a page.
std::mutex g_saved_lock;
std::string g_last_saved;

void remember_saved(std::string const& path)
{
    std::lock_guard lock(g_saved_lock);
    g_last_saved = path;
}

struct ReadFile {
    std::string bytes;
    std::string refusal; // the user's text when the file was refused
    std::string label;   // the log's short label
};

// Reads a file the owner chose, up to max bytes (one byte more tells a larger one).
ReadFile read_chosen(std::string const& path, size_t max, char const* too_big)
{
    ReadFile file;
    long long size = os::file_size(path);
    if (size < 0) {
        file.refusal = text_cannot_open;
        file.label = "열기 실패";
        return file;
    }
    if (static_cast<unsigned long long>(size) > max) {
        file.refusal = too_big;
        file.label = "크기 넘음";
        return file;
    }
    auto read = os::read_file(path, max + 1);
    if (!read) {
        file.refusal = text_cannot_open;
        file.label = "열기 실패";
        return file;
    }
    file.bytes = read.release_value();
    if (file.bytes.size() > max) {
        file.refusal = too_big;
        file.label = "크기 넘음";
    } else if (file.bytes.size() < static_cast<size_t>(size)) {
        file.refusal = text_short_read;
        file.label = "읽기 실패";
    } else if (file.bytes.empty()) {
        file.refusal = text_empty;
        file.label = "빈 파일";
    }
    return file;
}

// {"ok":true,"kind":"text",...} for a CSV or text file, or the refusal.
std::string text_file_answer(std::string const& path, std::string_view bytes, Leniency leniency, std::string& label)
{
    auto decoded = decode_text(bytes, leniency);
    if (!decoded) {
        label = "글자 판별 실패";
        return refusal(text_undecodable);
    }
    if (!is_plain_text(decoded.value().text)) {
        label = "글자 파일 아님";
        return refusal(text_not_text);
    }
    return "{\"ok\":true,\"kind\":\"text\",\"name\":" + json::quote(files::base_name(path)) + ",\"enc\":"
        + json::quote(encoding_name(decoded.value().encoding)) + ",\"bytes\":" + std::to_string(bytes.size())
        + ",\"text\":" + json::quote(decoded.value().text) + "}";
}

std::string done_object(bool ok, size_t rows, size_t bytes, long long ms, std::string const& file, std::string_view msg)
{
    return std::string("{\"ok\":") + (ok ? "true" : "false") + ",\"rows\":" + std::to_string(rows) + ",\"bytes\":"
        + std::to_string(bytes) + ",\"ms\":" + std::to_string(ms) + ",\"file\":" + json::quote(file) + ",\"msg\":"
        + json::quote(msg) + "}";
}

void answer_export(bridge::Page& page, std::string const& object) { page.callback("setMallCsvDone", json::quote(object)); }

// The export itself, on the files worker.
void run_export(std::string form, std::string path, bool workbook, std::shared_ptr<bridge::Page> page, FileHooks& hooks)
{
    struct Release {
        ~Release() { FileState::shared().exporting = false; }
    } release;
    auto started = std::chrono::steady_clock::now();
    auto elapsed = [&] {
        return static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count());
    };
    auto fail = [&](std::string_view message, std::string const& detail) {
        log::bridge("MALLCSV", std::string(message) + (detail.empty() ? "" : " — " + detail));
        answer_export(*page, done_object(false, 0, 0, elapsed(), path, message));
    };
    std::string host = hooks.web_host ? hooks.web_host() : std::string {};
    if (host.empty() || !hooks.web)
        return fail(text_no_web_host, {});
    auto endpoint = files::web_endpoint(host);
    os::http::Request call;
    call.method = os::http::Method::Post;
    call.path = "/v2/merchant/mallship_api.php";
    call.content_type = "application/x-www-form-urlencoded; charset=UTF-8";
    call.body = std::move(form);
    call.timeout_ms = export_timeout_ms;
    call.connect_timeout_ms = export_timeout_ms;
    call.max_bytes = max_shipping_list_bytes;
    auto answer = hooks.web(endpoint, call);
    if (!answer) {
        auto failure = static_cast<os::http::Failure>(answer.error().code);
        if (failure == os::http::Failure::TooLarge)
            return fail(text_list_too_big, answer.error().detail);
        return fail(text_no_server, answer.error().detail);
    }
    if (answer.value().status != 200)
        return fail("서버 오류(" + std::to_string(answer.value().status) + ")", {});
    std::string const& body = answer.value().body;
    if (!is_csv_answer(body))
        return fail(text::list_not_received, body.substr(0, 120));
    std::string bytes;
    size_t rows = 0;
    if (workbook) {
        auto book = shipping_list_workbook(body);
        if (!book)
            return fail(book.error().message, book.error().detail);
        rows = book.value().data_rows;
        bytes = std::move(book.value().bytes);
    } else {
        rows = shipping_list_data_rows(body);
        bytes = body;
    }
    if (auto saved = save_shipping_list(path, bytes); !saved)
        return fail(saved.error().message, saved.error().detail);
    log::bridge("MALLCSV", "저장 " + std::to_string(rows) + "줄 " + std::to_string(bytes.size()) + "B " + path);
    remember_saved(path);
    answer_export(*page, done_object(true, rows, bytes.size(), elapsed(), path, "저장했습니다"));
    if (hooks.show_in_folder)
        hooks.show_in_folder(path);
}

} // namespace

namespace files {

// mallshipcsv</>status</>from</>to</>product</>period kind</>"basic"[</>search word[</>"xlsx"]]:
// CSV as the server sends it, or a workbook with "xlsx".
void mallshipcsv(bridge::Command const& command, std::shared_ptr<bridge::Page> page, FileHooks& hooks)
{
    auto refuse = [&](std::string_view message) {
        log::bridge("MALLCSV", std::string(message));
        answer_export(*page, done_object(false, 0, 0, 0, {}, message));
    };
    auto owner = session::owner();
    if (!owner.signed_in())
        return refuse(text_owner_needed);
    if (command.arg_count() < 6)
        return refuse(text_missing_terms);
    auto& state = FileState::shared();
    if (state.exporting.exchange(true))
        return refuse(text_busy);
    bool workbook = command.arg(8) == "xlsx";
    Request request;
    request.kind = Kind::Save;
    request.title = workbook ? "발송 목록을 엑셀로 저장" : "발송 목록을 CSV로 저장";
    request.proposed_name = local_time("발송목록_%Y%m%d_%H%M") + (workbook ? ".xlsx" : ".csv");
    request.filters = workbook ? std::vector<Filter> { { "엑셀 통합 문서 (*.xlsx)", { "*.xlsx" } } }
                               : std::vector<Filter> { { "CSV 파일 (*.csv)", { "*.csv" } } };
    auto answer = ask(hooks, request);
    if (!answer.chosen()) {
        state.exporting = false;
        page->callback("setMallCsvDone", json::quote("{\"ok\":false,\"cancel\":true}"));
        return;
    }
    std::string path = answer.paths.front();
    if (workbook && lower_extension(path) != ".xlsx")
        path += ".xlsx";
    // Every value percent-encoded: a search word may hold "&", "=", "+", "%" or Korean.
    std::string form = "idx=" + std::to_string(owner.idx) + "&devkey=" + json::percent_encode(owner.devkey.str())
        + "&storeidx=" + std::to_string(owner.storeidx) + "&act=csv&status=" + json::percent_encode(command.arg(1))
        + "&from=" + json::percent_encode(command.arg(2)) + "&to=" + json::percent_encode(command.arg(3))
        + "&productidx=" + json::percent_encode(command.arg(4));
    if (!command.arg(7).empty())
        form += "&search=" + json::percent_encode(command.arg(7));
    page->status("발송 목록을 받고 있습니다…");
    post(hooks, [form = std::move(form), path, workbook, page, &hooks]() mutable {
        run_export(std::move(form), path, workbook, page, hooks);
    });
}

void openinvoicefile(bridge::Command const&, std::shared_ptr<bridge::Page> page, FileHooks& hooks)
{
    Request request;
    request.kind = Kind::Open;
    request.title = "송장 파일 고르기";
    request.filters = { { "송장 파일 (*.xlsx;*.csv;*.txt)", { "*.xlsx", "*.csv", "*.txt" } }, { "모든 파일", { "*" } } };
    auto answer = ask(hooks, request);
    if (!answer.chosen()) {
        log::bridge("MALLINV", "열기 취소");
        page->callback("setInvoiceFile", "{\"ok\":false,\"cancel\":true,\"msg\":\"열기 취소\"}");
        return;
    }
    std::string path = answer.paths.front();
    post(hooks, [path, page] {
        auto refuse = [&](std::string_view label, std::string_view message) {
            log::bridge("MALLINV", std::string(label) + " — " + files::base_name(path));
            page->callback("setInvoiceFile", refusal(message));
        };
        std::string ext = lower_extension(path);
        if (ext == ".xlsm" || ext == ".xlsb")
            return refuse("매크로 엑셀", text_macro);
        if (ext == ".xls")
            return refuse("예전 엑셀", text_old_xls);
        if (ext != ".xlsx" && ext != ".csv" && ext != ".txt")
            return refuse("확장자", text_wrong_kind);
        auto file = read_chosen(path, max_invoice_bytes, text_invoice_too_big);
        if (!file.refusal.empty())
            return refuse(file.label, file.refusal);
        if (ext == ".xlsx") {
            if (std::string_view(file.bytes).starts_with(compound_signature))
                return refuse("예전 형식 또는 암호", text_compound);
            if (!std::string_view(file.bytes).starts_with(zip_signature))
                return refuse("ZIP 아님", text_not_zip);
            log::bridge("MALLINV", "엑셀 " + std::to_string(file.bytes.size()) + "B " + files::base_name(path));
            page->callback("setInvoiceFile",
                "{\"ok\":true,\"kind\":\"xlsx\",\"name\":" + json::quote(files::base_name(path)) + ",\"bytes\":"
                    + std::to_string(file.bytes.size()) + ",\"b64\":" + json::quote(json::base64_encode(file.bytes)) + "}");
            return;
        }
        std::string label;
        auto object = text_file_answer(path, file.bytes, Leniency::Strict, label);
        log::bridge("MALLINV", label.empty() ? "CSV " + std::to_string(file.bytes.size()) + "B " + files::base_name(path)
                                             : label + " — " + files::base_name(path));
        page->callback("setInvoiceFile", object);
    });
}

// mallsavecsv</>"template"</>workbook in base64[</>"xlsx"]  or  mallsavecsv</>"fail"</>CSV text
void mallsavecsv(bridge::Command const& command, std::shared_ptr<bridge::Page> page, FileHooks& hooks)
{
    auto answer_page = [page](std::string const& object) { page->callback("setMallSaveDone", json::quote(object)); };
    bool is_template = command.arg(1) == "template";
    std::string data(command.arg(2));
    std::string bytes;
    if (data.empty() || data.size() > max_saved_bytes || (!is_template && command.arg(1) != "fail"))
        return answer_page(refusal(text_nothing_to_save));
    if (is_template) {
        auto decoded = json::base64_decode(data);
        if (!decoded || decoded->empty())
            return answer_page(refusal(text_nothing_to_save));
        bytes = std::move(*decoded);
    } else {
        bytes = "\xEF\xBB\xBF" + data;
    }
    Request request;
    request.kind = Kind::Save;
    if (is_template) {
        request.title = "송장 올리기 양식 저장";
        request.proposed_name = "송장_올리기_양식.xlsx";
        request.filters = { { "엑셀 통합 문서 (*.xlsx)", { "*.xlsx" } } };
    } else {
        request.title = "송장 못 올린 목록 저장";
        request.proposed_name = local_time("송장_못올린목록_%Y%m%d_%H%M.csv");
        request.filters = { { "CSV 파일 (*.csv)", { "*.csv" } } };
    }
    auto chosen = ask(hooks, request);
    if (!chosen.chosen()) {
        log::bridge("MALLINV", is_template ? "양식 저장 취소" : "못 올린 목록 저장 취소");
        return answer_page("{\"ok\":false,\"cancel\":true}");
    }
    std::string path = chosen.paths.front();
    std::string ext = is_template ? ".xlsx" : ".csv";
    if (lower_extension(path) != ext)
        path += ext;
    post(hooks, [path, bytes = std::move(bytes), is_template, answer_page] {
        auto saved = os::write_file_replacing(path, bytes);
        std::string object = std::string("{\"ok\":") + (saved ? "true" : "false") + ",\"file\":" + json::quote(path)
            + ",\"bytes\":" + std::to_string(saved ? bytes.size() : 0);
        if (saved) {
            remember_saved(path);
            log::bridge("MALLINV", std::string(is_template ? "양식(xlsx) 저장 " : "못 올린 목록 저장 ") + std::to_string(bytes.size()) + "B");
        } else {
            log::bridge("MALLINV", std::string(is_template ? "양식 저장 실패" : "못 올린 목록 저장 실패") + " — " + saved.error().detail);
            object += ",\"msg\":" + json::quote(text_save_failed);
        }
        answer_page(object + "}");
    });
}

void openproductcsv(bridge::Command const&, std::shared_ptr<bridge::Page> page, FileHooks& hooks)
{
    Request request;
    request.kind = Kind::Open;
    request.title = "상품 목록 파일 고르기";
    request.filters = { { "CSV 파일 (*.csv)", { "*.csv", "*.txt" } }, { "모든 파일", { "*" } } };
    auto answer = ask(hooks, request);
    if (!answer.chosen()) {
        log::bridge("PRODCSV", "열기 취소");
        page->callback("setProductFile", "{\"ok\":false,\"cancel\":true,\"msg\":\"열기 취소\"}");
        return;
    }
    std::string path = answer.paths.front();
    post(hooks, [path, page] {
        auto refuse = [&](std::string_view label, std::string_view message) {
            log::bridge("PRODCSV", "열기 거절 — " + std::string(label));
            page->callback("setProductFile", refusal(message));
        };
        std::string ext = lower_extension(path);
        if (ext == ".xlsx" || ext == ".xls" || ext == ".xlsm" || ext == ".xlsb")
            return refuse("엑셀 확장자", text_product_excel);
        auto file = read_chosen(path, max_product_bytes, text_product_too_big);
        if (file.label == "크기 넘음")
            file.label = "1MB 넘음";
        if (!file.refusal.empty())
            return refuse(file.label, file.refusal);
        std::string_view bytes = file.bytes;
        if (bytes.starts_with(zip_signature) || bytes.starts_with(compound_signature))
            return refuse("엑셀 파일 내용", text_product_excel);
        std::string label;
        auto object = text_file_answer(path, bytes, Leniency::Loose, label);
        if (!label.empty())
            log::bridge("PRODCSV", "열기 거절 — " + label);
        else
            log::bridge("PRODCSV", "읽음 " + std::to_string(bytes.size()) + "B " + files::base_name(path));
        page->callback("setProductFile", object);
    });
}

// productcsvsave</>CSV text: the product list the page prepared, saved with
// a UTF-8 byte order mark so that spreadsheet programs read its Korean.
void productcsvsave(bridge::Command const& command, std::shared_ptr<bridge::Page> page, FileHooks& hooks)
{
    auto answer_page = [page](std::string const& object) { page->callback("setProductCsvSaved", json::quote(object)); };
    std::string data = command.args_text();
    if (data.empty() || data.size() > max_product_saved_bytes)
        return answer_page(refusal(text_nothing_to_save));
    Request request;
    request.kind = Kind::Save;
    request.title = "상품 목록 저장";
    request.proposed_name = local_time("상품목록_%Y%m%d_%H%M.csv");
    request.filters = { { "CSV 파일 (*.csv)", { "*.csv" } } };
    auto chosen = ask(hooks, request);
    if (!chosen.chosen()) {
        log::bridge("PRODCSV", "저장 취소");
        return answer_page("{\"ok\":false,\"cancel\":true}");
    }
    std::string path = chosen.paths.front();
    if (lower_extension(path) != ".csv")
        path += ".csv";
    post(hooks, [path, bytes = "\xEF\xBB\xBF" + data, answer_page] {
        auto saved = os::write_file_replacing(path, bytes);
        log::bridge("PRODCSV", saved ? "저장 " + std::to_string(bytes.size()) + "B" : "저장 실패 — " + saved.error().detail);
        if (saved)
            remember_saved(path);
        answer_page(std::string("{\"ok\":") + (saved ? "true" : "false") + ",\"file\":" + json::quote(path) + ",\"bytes\":"
            + std::to_string(saved ? bytes.size() : 0) + (saved ? "" : std::string(",\"msg\":") + json::quote(text_save_failed)) + "}");
    });
}

void openfilefolder(bridge::Command const&, std::shared_ptr<bridge::Page> page, FileHooks& hooks)
{
    std::string path;
    {
        std::lock_guard lock(g_saved_lock);
        path = g_last_saved;
    }
    if (path.empty())
        return page->status("아직 저장한 파일이 없습니다");
    if (hooks.show_in_folder)
        hooks.show_in_folder(path);
}

} // namespace files

} // namespace tillbay::store

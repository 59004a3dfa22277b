#include "store/photo_upload.h"

#include "base/ascii.h"
#include "base/utf8.h"
#include "foundation/log.h"
#include "os/fs.h"
#include "os/image.h"

namespace tillbay::store {

namespace {

constexpr char const* text_no_web_host = "웹서버 주소가 설정에 없습니다 (tillbay.ini 의 webhost)";
constexpr char const* text_no_name = "사진 이름을 만들지 못했습니다";
constexpr char const* text_cannot_open = "사진 파일을 열지 못했습니다";
constexpr char const* text_bad_size = "사진 크기가 맞지 않습니다 (10MB 까지)";
constexpr char const* text_unreadable = "사진을 읽지 못했습니다";
constexpr char const* text_no_server = "사진을 올리지 못했습니다 (서버에 닿지 못함)";
constexpr char const* text_bad_stored_name = "서버가 알려 준 사진 이름을 쓸 수 없습니다";
constexpr char const* text_not_found = "올린 사진을 그 주소에서 못 찾습니다 — 설정의 웹서버 주소를 확인해 주십시오";
constexpr size_t max_base_bytes = 100;
constexpr size_t max_answer_shown = 200;

bool name_byte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
}

// The service's answer as a user may see it: valid UTF-8, one line, short.
std::string shown_answer(std::string_view body)
{
    std::string out;
    for (size_t i = 0; i < body.size() && out.size() < max_answer_shown;) {
        size_t length = utf8::sequence_length(body, i);
        if (length == 0) {
            ++i;
            continue;
        }
        unsigned char c = static_cast<unsigned char>(body[i]);
        out += c < 32 ? std::string(" ") : std::string(body.substr(i, length));
        i += length;
    }
    return out;
}

} // namespace

std::string safe_photo_base(std::string_view name)
{
    std::string out;
    // ".." never appears: a stored name holding it is refused.
    for (char c : name.substr(0, max_base_bytes))
        out += name_byte(c) && !(c == '.' && !out.empty() && out.back() == '.') ? c : '_';
    if (!out.empty() && out.front() == '.')
        out.front() = '_';
    return out;
}

bool is_safe_stored_name(std::string_view name)
{
    if (name.empty() || name.size() > max_stored_name || name.front() == '.' || name.find("..") != std::string_view::npos)
        return false;
    for (char c : name)
        if (!name_byte(c))
            return false;
    return true;
}

std::string photo_multipart_body(std::string_view base_name, std::string_view jpeg)
{
    std::string body;
    body.reserve(jpeg.size() + 256);
    body += "--";
    body += photo_boundary;
    body += "\r\nContent-Disposition: form-data; name=\"photo\"; filename=\"";
    body += base_name;
    body += ".jpg\"\r\nContent-Type: image/jpeg\r\n\r\n";
    body += jpeg;
    body += "\r\n--";
    body += photo_boundary;
    body += "--\r\n";
    return body;
}

Result<UploadedPhoto> upload_photo(PhotoJob const& job, FileHooks& hooks)
{
    auto fail = [](std::string message) -> Result<UploadedPhoto> { return Error::with_message(std::move(message)); };
    std::string host = hooks.web_host ? hooks.web_host() : std::string {};
    if (host.empty() || !hooks.web)
        return fail(text_no_web_host);
    std::string base = safe_photo_base(job.base_name);
    if (base.empty())
        return fail(text_no_name);
    if (job.max_bytes > 0) {
        long long size = os::file_size(job.source);
        if (size < 0)
            return fail(text_cannot_open);
        if (size > job.max_bytes)
            return fail("사진이 " + std::to_string(job.max_bytes / (1024 * 1024)) + "MB 를 넘습니다");
    }
    // The prepared file has a name of its own and is deleted when this ends.
    auto prepared = os::image::prepare_photo(job.source, hooks.temp_folder ? hooks.temp_folder() : os::temp_folder());
    if (!prepared)
        return fail(prepared.error().message);
    long long size = os::file_size(prepared.value().file.path());
    if (size < 1 || size > max_upload_bytes)
        return fail(text_bad_size);
    auto jpeg = os::read_file(prepared.value().file.path(), static_cast<size_t>(max_upload_bytes));
    if (!jpeg)
        return fail(text_unreadable);
    UploadedPhoto photo;
    if (job.want_thumb) {
        auto thumb = os::image::preview_data_url(prepared.value().file.path());
        if (thumb && thumb.value().size() <= max_thumb_bytes)
            photo.thumb = thumb.release_value();
    }

    auto endpoint = files::web_endpoint(host);
    os::http::Request call;
    call.method = os::http::Method::Post;
    call.path = photo_upload_path;
    call.content_type = std::string("multipart/form-data; boundary=") + photo_boundary;
    call.body = photo_multipart_body(base, jpeg.value());
    call.connect_timeout_ms = photo_timeout_ms;
    call.timeout_ms = photo_timeout_ms;
    call.max_bytes = 64 * 1024;
    auto answer = hooks.web(endpoint, call);
    if (!answer) {
        log::bridge("PHOTO", "올리기 실패 — " + answer.error().detail);
        return fail(text_no_server);
    }
    if (answer.value().status != 200)
        return fail("서버가 거절했습니다 (" + std::to_string(answer.value().status) + ")");
    std::string const& body = answer.value().body;
    if (body.find("OK") == std::string::npos)
        return fail("서버가 사진을 받지 않았습니다 — " + shown_answer(body));
    std::string stored = base + ".jpg";
    if (auto at = body.find("file="); at != std::string::npos) {
        size_t start = at + 5;
        size_t end = body.find_first_of("\r\n", start);
        stored = body.substr(start, (end == std::string::npos ? body.size() : end) - start);
    }
    if (!is_safe_stored_name(stored)) {
        log::bridge("PHOTO", "쓸 수 없는 저장 이름 — " + shown_answer(stored));
        return fail(text_bad_stored_name);
    }
    os::http::Request head;
    head.method = os::http::Method::Head;
    head.path = photo_stored_path + stored;
    head.connect_timeout_ms = photo_timeout_ms;
    head.timeout_ms = photo_timeout_ms;
    auto found = hooks.web(endpoint, head);
    if (!found || found.value().status != 200)
        return fail(text_not_found);
    bool secure = endpoint.security == os::http::Security::Secure;
    photo.url = std::string(secure ? "https://" : "http://") + endpoint.host;
    if (endpoint.port != (secure ? 443 : 80))
        photo.url += ":" + std::to_string(endpoint.port);
    photo.url += photo_stored_path + stored;
    log::bridge("PHOTO", "올림 " + std::to_string(prepared.value().width) + "x" + std::to_string(prepared.value().height) + " "
        + std::to_string(size) + "B " + stored);
    return photo;
}

} // namespace tillbay::store

// The general web-host request on libcurl: one easy handle and one
// connection per request, any method, a body or a multipart form, the answer
// whatever its status. The answer is held in memory up to the caller's cap;
// a larger answer fails as a whole, so that nothing cut ever passes for a
// complete answer.

#include "os/http.h"
#include "os/linux/http_curl_internal.h"

#include "base/thread_role.h"

#include <chrono>
#include <cstdlib>
#include <curl/curl.h>
#include <memory>

namespace tillbay::os::http {

namespace {

constexpr char const* user_agent = "TillBay/1.0";

struct EasyDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct MimeDeleter {
    void operator()(curl_mime* mime) const { curl_mime_free(mime); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

Error fail(Failure failure, char const* message, std::string detail)
{
    return Error::with_message(message, std::move(detail), static_cast<int>(failure));
}

using Clock = std::chrono::steady_clock;

// The state of one transfer as its callbacks see it.
struct Transfer {
    CURL* curl = nullptr;
    std::string body;
    size_t max_bytes = 0;
    bool too_large = false;
    // The stall clock: it starts once the connection stands (connecting
    // has its own limit) and is reset whenever a byte moves either way.
    std::chrono::milliseconds stall_limit { 0 };
    bool connected = false;
    Clock::time_point last_moved {};
    curl_off_t last_down = 0;
    curl_off_t last_up = 0;
    bool stalled = false;
    bool aborted = false;
};

size_t collect(char* data, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    size_t n = size * count;
    if (n > transfer->max_bytes - transfer->body.size()) {
        transfer->too_large = true;
        return 0;
    }
    transfer->body.append(data, n);
    return n;
}

int watch(void* user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up)
{
    auto* transfer = static_cast<Transfer*>(user);
    if (detail::aborted()) {
        transfer->aborted = true;
        return 1;
    }
    auto now = Clock::now();
    if (!transfer->connected) {
        curl_off_t connect_us = 0;
        curl_easy_getinfo(transfer->curl, CURLINFO_CONNECT_TIME_T, &connect_us);
        if (connect_us <= 0)
            return 0;
        transfer->connected = true;
        transfer->last_moved = now;
    }
    if (down != transfer->last_down || up != transfer->last_up) {
        transfer->last_down = down;
        transfer->last_up = up;
        transfer->last_moved = now;
        return 0;
    }
    if (now - transfer->last_moved >= transfer->stall_limit) {
        transfer->stalled = true;
        return 1;
    }
    return 0;
}

Error transfer_error(CURLcode code, Transfer const& transfer)
{
    std::string detail = curl_easy_strerror(code);
    if (transfer.aborted)
        return fail(Failure::Aborted, text::no_response, "web client aborted");
    if (transfer.stalled)
        return fail(Failure::Timeout, text::timed_out, "nothing moved for " + std::to_string(transfer.stall_limit.count()) + " ms");
    if (transfer.too_large || code == CURLE_FILESIZE_EXCEEDED)
        return fail(Failure::TooLarge, text::too_large, "answer larger than " + std::to_string(transfer.max_bytes) + " bytes");
    switch (code) {
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return fail(Failure::Setup, text::request_failed, detail);
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        return fail(Failure::Connect, text::connect_failed, detail);
    case CURLE_OPERATION_TIMEDOUT:
        // Only the connect limit is set with curl's own timers.
        return fail(transfer.connected ? Failure::Timeout : Failure::Connect,
            transfer.connected ? text::timed_out : text::connect_failed, detail);
    default:
        return fail(Failure::Transfer, text::no_response, detail);
    }
}

bool set_all(CURL* c, Endpoint const& endpoint, Request const& request, Transfer& transfer)
{
    long connect_ms = request.connect_timeout_ms > 0 ? request.connect_timeout_ms : 5000;
    bool ok = curl_easy_setopt(c, CURLOPT_USERAGENT, user_agent) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_PROXY, "") == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, connect_ms) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_FORBID_REUSE, 1L) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, watch) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
    // A declared length beyond the cap fails before anything is read; HEAD
    // declares the length of a body it never sends.
    if (ok && request.method != Method::Head)
        ok = curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(request.max_bytes)) == CURLE_OK;
    if (ok && endpoint.security == Security::Secure) {
        if (char const* ca = std::getenv("SSL_CERT_FILE"); ca && *ca)
            ok = curl_easy_setopt(c, CURLOPT_CAINFO, ca) == CURLE_OK;
    }
    return ok;
}

} // namespace

Failure failure_of(Error const& error)
{
    if (error.code >= static_cast<int>(Failure::Setup) && error.code <= static_cast<int>(Failure::Aborted))
        return static_cast<Failure>(error.code);
    return Failure::Setup;
}

Result<Response> request(Endpoint const& endpoint, Request const& request)
{
    thread_role::expect_off_ui_thread("웹 요청");
    if (detail::aborted())
        return fail(Failure::Aborted, text::no_response, "web client aborted");
    if (!detail::global_init())
        return fail(Failure::Setup, text::init_failed, "curl_global_init");
    if (endpoint.host.empty() || endpoint.port == 0 || request.path.empty() || request.path.front() != '/')
        return fail(Failure::Setup, text::request_failed, "no host, port or path");
    std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
    if (!curl)
        return fail(Failure::Setup, text::init_failed, "curl_easy_init");
    CURL* c = curl.get();

    Transfer transfer;
    transfer.curl = c;
    transfer.max_bytes = request.max_bytes;
    transfer.stall_limit = std::chrono::milliseconds(request.timeout_ms > 0 ? request.timeout_ms : 8000);
    if (!set_all(c, endpoint, request, transfer))
        return fail(Failure::Setup, text::init_failed, "curl_easy_setopt");

    std::string url = detail::url_for(endpoint, request.path);
    if (curl_easy_setopt(c, CURLOPT_URL, url.c_str()) != CURLE_OK)
        return fail(Failure::Setup, text::request_failed, "CURLOPT_URL " + url);

    // Headers: a body's type, the caller's own, and no "Expect: 100-continue"
    // pause before a large body.
    std::unique_ptr<curl_slist, ListDeleter> headers;
    auto add_header = [&](std::string const& line) {
        curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
        if (!grown)
            return false;
        (void)headers.release();
        headers.reset(grown);
        return true;
    };
    bool headers_ok = add_header("Expect:");
    if (!request.content_type.empty() && request.parts.empty())
        headers_ok = headers_ok && add_header("Content-Type: " + request.content_type);
    for (auto const& [name, value] : request.headers)
        headers_ok = headers_ok && add_header(name + ": " + value);
    if (!headers_ok || curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get()) != CURLE_OK)
        return fail(Failure::Setup, text::request_failed, "request headers");

    std::unique_ptr<curl_mime, MimeDeleter> mime;
    switch (request.method) {
    case Method::Get:
        break;
    case Method::Head:
        if (curl_easy_setopt(c, CURLOPT_NOBODY, 1L) != CURLE_OK)
            return fail(Failure::Setup, text::request_failed, "CURLOPT_NOBODY");
        break;
    case Method::Post:
        if (!request.parts.empty()) {
            mime.reset(curl_mime_init(c));
            if (!mime)
                return fail(Failure::Setup, text::init_failed, "curl_mime_init");
            for (auto const& part : request.parts) {
                curl_mimepart* p = curl_mime_addpart(mime.get());
                bool ok = p && curl_mime_name(p, part.name.c_str()) == CURLE_OK
                    && curl_mime_data(p, part.data.data(), part.data.size()) == CURLE_OK;
                if (ok && !part.filename.empty())
                    ok = curl_mime_filename(p, part.filename.c_str()) == CURLE_OK;
                if (ok && !part.content_type.empty())
                    ok = curl_mime_type(p, part.content_type.c_str()) == CURLE_OK;
                if (!ok)
                    return fail(Failure::Setup, text::request_failed, "multipart part " + part.name);
            }
            if (curl_easy_setopt(c, CURLOPT_MIMEPOST, mime.get()) != CURLE_OK)
                return fail(Failure::Setup, text::request_failed, "CURLOPT_MIMEPOST");
        } else if (curl_easy_setopt(c, CURLOPT_POST, 1L) != CURLE_OK
            || curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size())) != CURLE_OK
            || curl_easy_setopt(c, CURLOPT_POSTFIELDS, request.body.data()) != CURLE_OK) {
            return fail(Failure::Setup, text::request_failed, "CURLOPT_POSTFIELDS");
        }
        break;
    }

    CURLcode code = curl_easy_perform(c);
    if (code != CURLE_OK || transfer.too_large)
        return transfer_error(code, transfer);

    Response response;
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    response.status = static_cast<int>(status);
    char* type = nullptr;
    if (curl_easy_getinfo(c, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
        response.content_type = std::string(type).substr(0, max_content_type);
    response.body = std::move(transfer.body);
    return response;
}

} // namespace tillbay::os::http

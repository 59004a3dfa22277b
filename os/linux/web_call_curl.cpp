#include "os/web_call.h"

#include "base/thread_role.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>
#include <mutex>

namespace tillbay::os::web {

namespace {

struct EasyDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

Error failure(Failure kind, char const* message, std::string detail)
{
    return Error::with_message(message, std::move(detail), static_cast<int>(kind));
}

struct Sink {
    std::string data;
    size_t max_bytes = 0;
    bool too_large = false;
};

size_t keep(char* ptr, size_t size, size_t count, void* user)
{
    auto* sink = static_cast<Sink*>(user);
    size_t n = size * count;
    if (sink->data.size() + n > sink->max_bytes) {
        sink->too_large = true;
        return 0;
    }
    sink->data.append(ptr, n);
    return n;
}

} // namespace

Result<Answer> send(http::Endpoint const& endpoint, Call const& call)
{
    thread_role::expect_off_ui_thread("웹 요청");
    static std::once_flag once;
    static bool initialised = false;
    std::call_once(once, [] { initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    if (!initialised)
        return failure(Failure::Setup, http::text::init_failed, "curl_global_init");
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy)
        return failure(Failure::Setup, http::text::init_failed, "curl_easy_init");
    CURL* c = easy.get();
    std::string url = endpoint.security == http::Security::Secure ? "https://" : "http://";
    url += endpoint.host + ":" + std::to_string(endpoint.port) + call.path;
    std::unique_ptr<curl_slist, ListDeleter> headers;
    auto add_header = [&](std::string const& line) {
        curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
        if (grown) {
            (void)headers.release();
            headers.reset(grown);
        }
        return grown != nullptr;
    };
    bool ok = add_header("Expect:") && (call.content_type.empty() || add_header("Content-Type: " + call.content_type));
    Sink sink;
    sink.max_bytes = call.max_bytes;
    ok = ok && curl_easy_setopt(c, CURLOPT_URL, url.c_str()) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_USERAGENT, "TillBay/1.0") == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_PROXY, "") == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(call.connect_timeout_ms)) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(call.timeout_ms)) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, keep) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink) == CURLE_OK;
    if (ok && call.method == Method::Head)
        ok = curl_easy_setopt(c, CURLOPT_NOBODY, 1L) == CURLE_OK;
    if (ok && call.method == Method::Post)
        ok = curl_easy_setopt(c, CURLOPT_POST, 1L) == CURLE_OK
            && curl_easy_setopt(c, CURLOPT_POSTFIELDS, call.body.data()) == CURLE_OK
            && curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(call.body.size())) == CURLE_OK;
    if (ok && endpoint.security == http::Security::Secure)
        if (char const* ca = std::getenv("SSL_CERT_FILE"); ca && *ca)
            ok = curl_easy_setopt(c, CURLOPT_CAINFO, ca) == CURLE_OK;
    if (!ok)
        return failure(Failure::Setup, http::text::request_failed, "curl_easy_setopt " + url);
    CURLcode code = curl_easy_perform(c);
    if (sink.too_large)
        return failure(Failure::TooLarge, text::too_large, "answer larger than " + std::to_string(call.max_bytes));
    if (code != CURLE_OK) {
        std::string detail = curl_easy_strerror(code);
        switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
            return failure(Failure::Connect, http::text::connect_failed, detail);
        case CURLE_OPERATION_TIMEDOUT:
            return failure(Failure::Timeout, text::timed_out, detail);
        default:
            return failure(Failure::Transfer, http::text::no_response, detail);
        }
    }
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    return Answer { static_cast<int>(status), std::move(sink.data) };
}

} // namespace tillbay::os::web

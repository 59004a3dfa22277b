// The web client on libcurl. One easy handle per request: requests are rare
// (a manifest, a program file, a few bundle files, a status file a minute), so
// nothing is pooled and every request starts from the same known options.

#include "os/http.h"
#include "os/linux/http_curl_internal.h"

#include "base/ascii.h"
#include "base/thread_role.h"

#include <atomic>
#include <curl/curl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace tillbay::os::http {

namespace {

// Resolve, connect, send and receive each get this long; a stalled transfer
// counts as a receive that timed out.
constexpr long timeout_ms = 6000;
constexpr char const* user_agent = "TillBay/1.0";

struct EasyDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;


std::string_view strip_scheme(std::string_view text)
{
    if (ascii::starts_with_ignoring_case(text, "https://"))
        return text.substr(8);
    if (ascii::starts_with_ignoring_case(text, "http://"))
        return text.substr(7);
    return text;
}

Error fail(char const* message, std::string detail = {}) { return Error::with_message(message, std::move(detail)); }

int abort_when_asked(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) { return detail::aborted() ? 1 : 0; }

// Options every request shares. Fails with the downloader's texts.
Result<Easy> open_client(Endpoint const& endpoint)
{
    thread_role::expect_off_ui_thread("웹 요청");
    if (detail::aborted())
        return fail(text::no_response, "web client aborted");
    if (!detail::global_init())
        return fail(text::init_failed, "curl_global_init");
    Easy curl(curl_easy_init());
    if (!curl)
        return fail(text::init_failed, "curl_easy_init");
    CURL* c = curl.get();
    bool ok = curl_easy_setopt(c, CURLOPT_USERAGENT, user_agent) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_PROXY, "") == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, timeout_ms) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, timeout_ms / 1000) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK
        // A redirect may only lead to a secure address: a secure request is
        // never downgraded, and a plain request to a private host cannot be
        // sent on to a public one in the clear.
        && curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "https") == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, abort_when_asked) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
    if (!ok)
        return fail(text::init_failed, "curl_easy_setopt");
    if (endpoint.security == Security::Secure) {
        if (curl_easy_setopt(c, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_1) | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2)) != CURLE_OK)
            return fail(text::no_tls12, "CURLOPT_SSLVERSION refused");
        // The trust store the rest of the program uses, so a test or a
        // special set-up can name its own.
        if (char const* ca = std::getenv("SSL_CERT_FILE"); ca && *ca)
            curl_easy_setopt(c, CURLOPT_CAINFO, ca);
    }
    return curl;
}


Error status_error(long status)
{
    char text[64];
    std::snprintf(text, sizeof text, "서버 응답 %lu", static_cast<unsigned long>(status));
    return Error::with_message(text, "http status", static_cast<int>(status));
}

Error transfer_error(CURLcode code)
{
    std::string detail = curl_easy_strerror(code);
    switch (code) {
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return fail(text::request_failed, detail);
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        return fail(text::connect_failed, detail);
    default:
        return fail(text::no_response, detail);
    }
}

long response_status(CURL* c)
{
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

struct MemorySink {
    CURL* curl = nullptr;
    std::string data;
    size_t max_bytes = 0;
    bool wrong_status = false;
    bool too_large = false;
};

size_t write_memory(char* ptr, size_t size, size_t count, void* user)
{
    auto* sink = static_cast<MemorySink*>(user);
    size_t n = size * count;
    if (response_status(sink->curl) != 200) {
        sink->wrong_status = true;
        return 0;
    }
    if (sink->data.size() + n > sink->max_bytes) {
        sink->too_large = true;
        return 0;
    }
    sink->data.append(ptr, n);
    return n;
}

struct FileSink {
    CURL* curl = nullptr;
    std::string const* path = nullptr;
    unsigned mode = 0644;
    int fd = -1;
    int open_errno = 0;
    int write_errno = 0;
    bool wrong_status = false;
};

bool open_sink(FileSink& sink)
{
    if (sink.fd >= 0)
        return true;
    sink.fd = ::open(sink.path->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, sink.mode);
    if (sink.fd < 0) {
        sink.open_errno = errno;
        return false;
    }
    return true;
}

size_t write_file_piece(char* ptr, size_t size, size_t count, void* user)
{
    auto* sink = static_cast<FileSink*>(user);
    size_t n = size * count;
    if (response_status(sink->curl) != 200) {
        sink->wrong_status = true;
        return 0;
    }
    if (!open_sink(*sink))
        return 0;
    size_t done = 0;
    while (done < n) {
        ssize_t w = ::write(sink->fd, ptr + done, n - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            sink->write_errno = w < 0 ? errno : ENOSPC;
            return 0;
        }
        done += static_cast<size_t>(w);
    }
    return n;
}

// Runs the request for path with the answer going to sink. An answer other
// than 200 is the error, whatever the sink made of it; otherwise curl's own
// code comes back, for the caller to weigh after its sink's failures.
template<typename Sink>
Result<CURLcode> perform(CURL* c, Endpoint const& endpoint, std::string_view path,
    size_t (*write)(char*, size_t, size_t, void*), Sink& sink)
{
    auto url = detail::url_for(endpoint, path);
    if (curl_easy_setopt(c, CURLOPT_URL, url.c_str()) != CURLE_OK
        || curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, write) != CURLE_OK
        || curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink) != CURLE_OK)
        return fail(text::request_failed, "CURLOPT_URL " + url);
    CURLcode code = curl_easy_perform(c);
    long status = response_status(c);
    if (sink.wrong_status || (code == CURLE_OK && status != 200))
        return status_error(status);
    return code;
}

} // namespace

namespace detail {

bool global_init()
{
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ok;
}

// Set by abort_all(): every transfer in progress ends at its next progress
// call (curl makes one about once a second even while nothing moves, and at
// every chunk), and no new one starts.
std::atomic<bool> g_aborted { false };

bool aborted() { return g_aborted.load(); }

std::string url_for(Endpoint const& endpoint, std::string_view path)
{
    std::string url = endpoint.security == Security::Secure ? "https://" : "http://";
    url += endpoint.host;
    url += ':';
    url += std::to_string(endpoint.port);
    if (path.empty() || path.front() != '/')
        url += '/';
    url += path;
    return url;
}

} // namespace detail

std::string host_part(std::string_view host_text)
{
    auto rest = strip_scheme(host_text);
    rest = rest.substr(0, rest.find('/'));
    if (auto colon = rest.rfind(':'); colon != std::string_view::npos)
        rest = rest.substr(0, colon);
    return std::string(rest);
}

Endpoint endpoint_from_host_text(std::string_view host_text, Security security)
{
    Endpoint endpoint;
    endpoint.security = security;
    auto rest = strip_scheme(host_text);
    rest = rest.substr(0, rest.find('/'));
    endpoint.port = security == Security::Secure ? 443 : 80;
    if (auto colon = rest.rfind(':'); colon != std::string_view::npos) {
        auto digits = rest.substr(colon + 1);
        long port = 0;
        bool numeric = !digits.empty() && digits.size() <= 5;
        for (char c : digits) {
            if (c < '0' || c > '9')
                numeric = false;
            else
                port = port * 10 + (c - '0');
        }
        if (numeric && port >= 1 && port <= 65535)
            endpoint.port = static_cast<uint16_t>(port);
        rest = rest.substr(0, colon);
    }
    endpoint.host = std::string(rest);
    return endpoint;
}

bool is_private_host(std::string_view host)
{
    if (host.size() == 9 && ascii::starts_with_ignoring_case(host, "localhost"))
        return true;
    int parts[4];
    int count = 0;
    size_t i = 0;
    while (count < 4) {
        size_t start = i;
        int value = 0;
        while (i < host.size() && host[i] >= '0' && host[i] <= '9' && i - start < 3)
            value = value * 10 + (host[i++] - '0');
        if (i == start || value > 255)
            return false;
        parts[count++] = value;
        if (count < 4) {
            if (i >= host.size() || host[i] != '.')
                return false;
            ++i;
        }
    }
    if (i != host.size())
        return false;
    int a = parts[0], b = parts[1];
    return a == 127 || a == 10 || (a == 192 && b == 168) || (a == 172 && b >= 16 && b <= 31);
}

Result<std::string> get(Endpoint const& endpoint, std::string_view path, size_t max_bytes)
{
    auto curl = TRY(open_client(endpoint));
    CURL* c = curl.get();
    MemorySink sink;
    sink.curl = c;
    sink.max_bytes = max_bytes;
    sink.data.reserve(64 * 1024 < max_bytes ? 64 * 1024 : max_bytes);
    CURLcode code = TRY(perform(c, endpoint, path, write_memory, sink));
    if (sink.too_large)
        return fail(text::no_response, "answer larger than " + std::to_string(max_bytes) + " bytes");
    if (code != CURLE_OK)
        return transfer_error(code);
    return std::move(sink.data);
}

Status get_to_file(Endpoint const& endpoint, std::string_view path, std::string const& file, unsigned mode)
{
    auto curl = TRY(open_client(endpoint));
    CURL* c = curl.get();
    FileSink sink;
    sink.curl = c;
    sink.path = &file;
    sink.mode = mode;
    struct Closer {
        FileSink& sink;
        ~Closer()
        {
            if (sink.fd >= 0)
                ::close(sink.fd);
        }
    } closer { sink };
    CURLcode code = TRY(perform(c, endpoint, path, write_file_piece, sink));
    if (sink.open_errno)
        return fail(text::cannot_create, file + ": " + std::strerror(sink.open_errno));
    if (sink.write_errno)
        return fail(text::cannot_write, file + ": " + std::strerror(sink.write_errno));
    if (code != CURLE_OK)
        return transfer_error(code);
    // An empty answer still leaves an (empty) file behind, as any other would.
    if (!open_sink(sink))
        return fail(text::cannot_create, file + ": " + std::strerror(sink.open_errno));
    if (::fsync(sink.fd) != 0)
        return fail(text::cannot_write, file + ": fsync: " + std::strerror(errno));
    return {};
}

bool tls12_available()
{
    if (!detail::global_init())
        return false;
    auto* info = curl_version_info(CURLVERSION_NOW);
    if (!info || !(info->features & CURL_VERSION_SSL))
        return false;
    Easy curl(curl_easy_init());
    if (!curl)
        return false;
    return curl_easy_setopt(curl.get(), CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2) | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2)) == CURLE_OK;
}

void abort_all() { detail::g_aborted.store(true); }

} // namespace tillbay::os::http

#pragma once

// The web client: requests to the platform's web host. get() and
// get_to_file() fetch the version manifest, the program file, the UI bundle
// files and the service status; request() is the general web-host request of
// the page API relay, the photo upload and the mall export (any method, a
// body or a multipart form, the answer whatever its status). Every failure
// carries the Korean text the user sees, so callers can show it as it is.
// Nothing here may run on the UI thread.

#include "base/result.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tillbay::os::http {

enum class Security {
    Plain,
    Secure,
};

// Where a request goes. Built from a host text that may carry a scheme
// ("https://" or "http://", dropped), an explicit port after a colon (used when
// it is 1..65535) and a path (cut off at the first "/").
struct Endpoint {
    std::string host;
    uint16_t port = 0;
    Security security = Security::Secure;
};
Endpoint endpoint_from_host_text(std::string_view host_text, Security security);

// The host part of a web host text: after any scheme, before the first "/" and
// before a port. "https://10.0.0.2:8443/x" gives "10.0.0.2".
std::string host_part(std::string_view host_text);

// True for the hosts that may be reached over plain HTTP: "localhost" and the
// loopback and private IPv4 ranges (127/8, 10/8, 192.168/16, 172.16/12). Only a
// complete dotted address counts, so a public name such as "10.1.example.com"
// never passes for a private address.
bool is_private_host(std::string_view host);

// The named size limits of a response held in memory.
inline constexpr size_t default_memory_limit = 16 * 1024 * 1024;

// GETs path from the endpoint into memory. Fails with the downloader's Korean
// texts; a response larger than max_bytes fails as an unreadable answer.
Result<std::string> get(Endpoint const& endpoint, std::string_view path, size_t max_bytes = default_memory_limit);

// GETs path into a file, created or truncated for writing (mode for a new
// file), never through a symbolic link, and flushed to disk before success.
// On failure the caller deletes the partial file.
Status get_to_file(Endpoint const& endpoint, std::string_view path, std::string const& file, unsigned mode = 0644);

// ---- The general web-host request --------------------------------------------

enum class Method {
    Get,
    Post,
    Head,
};

// One part of a multipart/form-data body.
struct FormPart {
    std::string name;
    std::string filename;     // empty: a plain field, else a file part
    std::string content_type; // empty: text/plain for fields, application/octet-stream for files
    std::string data;
};

// The longest response content type kept; a longer one is cut.
inline constexpr size_t max_content_type = 255;

struct Request {
    Method method = Method::Get;
    // Path and query on the endpoint, beginning with "/"; sent as it is.
    std::string path;
    // Sent as the Content-Type header when not empty (a multipart request
    // makes its own).
    std::string content_type;
    std::string body;
    // A multipart/form-data POST when not empty; body is then not used.
    std::vector<FormPart> parts;
    // Further request headers, name and value; the caller keeps them free of
    // line breaks.
    std::vector<std::pair<std::string, std::string>> headers;
    // Name resolution and connection together.
    int connect_timeout_ms = 5000;
    // Sending and receiving: the request fails once nothing has moved in
    // either direction for this long.
    int timeout_ms = 8000;
    // The answer's body; a larger answer is an error, never a cut answer.
    size_t max_bytes = default_memory_limit;
};

// An answer of any status: the caller decides what a status means.
struct Response {
    int status = 0;
    std::string content_type; // as sent, at most max_content_type bytes; empty when none
    std::string body;         // empty for HEAD
};

// Why request() failed, in Error::code.
enum class Failure : int {
    Setup = 1,  // the client could not be prepared, or the request formed
    Connect,    // the host could not be resolved or reached in time
    Timeout,    // connected, but nothing moved for timeout_ms
    TooLarge,   // the answer was larger than max_bytes
    Transfer,   // the connection failed while sending or receiving (TLS included)
    Aborted,    // abort_all() was called
};
Failure failure_of(Error const& error);

// Sends one request on a connection of its own: no proxy, the user agent
// "TillBay/1.0", no redirects followed (a redirect is an answer like any
// other), secure connections verified against the system trust store
// (SSL_CERT_FILE honoured).
Result<Response> request(Endpoint const& endpoint, Request const& request);

// The end of the program: transfers in progress end within about a second,
// and no new one starts, so that the workers using the web client can be joined.
void abort_all();

// Whether the HTTP client can be limited to TLS 1.2 alone.
bool tls12_available();

// The texts of the downloader's failures, shared with callers that test for them.
namespace text {
inline constexpr char const* init_failed = "http 초기화 실패";
inline constexpr char const* no_tls12 = "이 PC 는 TLS 1.2 를 쓸 수 없습니다 (운영체제 업데이트 필요)";
inline constexpr char const* connect_failed = "서버에 연결하지 못했습니다";
inline constexpr char const* request_failed = "요청 생성 실패";
inline constexpr char const* no_response = "응답을 받지 못했습니다";
inline constexpr char const* cannot_create = "파일을 만들 수 없습니다";
inline constexpr char const* cannot_write = "파일을 쓰지 못했습니다";
inline constexpr char const* timed_out = "서버가 제때 응답하지 않았습니다";
inline constexpr char const* too_large = "서버 응답이 너무 큽니다";
} // namespace text

} // namespace tillbay::os::http

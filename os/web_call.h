#pragma once

// One request to the web host with a body and an answer of any status: the
// mall export's form POST, the photo upload's multipart POST and its HEAD
// check. Blocking; never on the UI thread.

#include "base/result.h"
#include "os/http.h"

#include <cstddef>
#include <string>

namespace tillbay::os::web {

enum class Method {
    Get,
    Post,
    Head,
};

struct Call {
    Method method = Method::Get;
    std::string path;         // path and query, beginning with "/"
    std::string content_type; // sent when not empty
    std::string body;
    int connect_timeout_ms = 5000;
    // The whole exchange; also the longest time nothing may move.
    int timeout_ms = 20000;
    // A longer answer is an error (Failure::TooLarge), never a cut one.
    size_t max_bytes = 1024 * 1024;
};

struct Answer {
    int status = 0;
    std::string body; // empty for HEAD
};

// Why a call failed, in Error::code.
enum class Failure : int {
    Setup = 1,
    Connect,
    Timeout,
    TooLarge,
    Transfer,
};

namespace text {
inline constexpr char const* timed_out = "서버가 제때 응답하지 않았습니다";
inline constexpr char const* too_large = "서버 응답이 너무 큽니다";
} // namespace text

// Sends the call with the user agent "TillBay/1.0", no proxy, no redirects
// followed, secure connections verified against the system trust store
// (SSL_CERT_FILE honoured). Fails only when no answer came.
Result<Answer> send(http::Endpoint const& endpoint, Call const& call);

} // namespace tillbay::os::web

#pragma once

// The page API relay. Store-management pages call the web host's page APIs
// (".php" addresses) with relative paths; the page script sends those
// requests to the API virtual host, and the relay repeats each one to the
// configured web host and hands its answer back with the cross-origin headers
// that let the page read it. Only a fixed set of API folders can be reached,
// and the page never learns the web host's address from this path.
//
// The web view hands a request to submit() on the UI thread. What can be
// answered at once (a preflight, a refused path or method, a body over the
// limit) is answered there; everything else waits on a relay worker of its
// own, never on the command lane, so that a slow web host holds up neither
// the window nor the page's bridge commands. The caller carries each answer
// back to the UI thread.

#include "base/result.h"
#include "os/http.h"
#include "os/webview.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace tillbay::shell::relay {

// A request body longer than this is refused (413), never relayed cut.
inline constexpr size_t max_request_body = os::max_api_request_body;
// An answer longer than this is a bad gateway (502), never passed on cut.
inline constexpr size_t max_answer_body = 8 * 1024 * 1024;
// Sending and receiving to the web host; name resolution and connecting
// have their own 5 seconds.
inline constexpr int web_host_timeout_ms = 8000;
inline constexpr int web_host_connect_timeout_ms = 5000;
// Relay workers, and the requests that may wait for one; more are answered
// 503 at once.
inline constexpr size_t worker_count = 3;
inline constexpr size_t max_waiting = 64;

// A request for the API virtual host, as the web view hands it over.
struct Incoming {
    std::string address;      // the whole address, scheme and host included
    std::string method;       // empty counts as "GET"
    std::string content_type; // the request's Content-Type header, when it had one
    std::string body;
    bool body_cut = false;    // the body went beyond max_request_body
};

// The answer for the web view.
struct Answer {
    int status = 0;
    std::string reason;
    std::string content_type;
    std::string body;
    // Every header of the answer, in order, Content-Type first.
    std::vector<std::pair<std::string, std::string>> headers;
};

// The part of an API address after the host, query included ("/merchant/a.php?x=1");
// nullopt when the address is not on the API virtual host of api_origin.
std::optional<std::string> relayed_path(std::string_view address, std::string_view api_origin);

// Whether a relayed path may be relayed: its part before "?" ends in ".php",
// lies in /merchant/, /shared/, /tstorehtml/ or /aitwmem/, and neither the
// path nor the query holds "..", nor the path an encoded dot, slash or
// backslash (%2e, %2f, %5c in either letter case) or a backslash.
bool allowed_path(std::string_view relayed);

// The path on the web host: "/v2" + the relayed path for /merchant/ and
// /shared/, the relayed path itself otherwise.
std::string server_path(std::string_view relayed);

// A content type that may be sent on: printable ASCII, at most 255 bytes.
bool clean_content_type(std::string_view type);

// The answer with the relay's headers: the content type (the default JSON
// type when empty or unclean), no-store, and the cross-origin headers for
// ui_origin.
Answer make_answer(int status, std::string reason, std::string_view content_type, std::string body,
    std::string_view ui_origin);

// The web host's side of a relayed request, turned into the page's answer:
// its status and body passed through, or 504 when it could not be reached or
// did not answer in time, or 502 when its answer was too large.
Answer answer_for(Result<os::http::Response> const& result, std::string_view ui_origin);

// What to do with a request: an answer at once, or the request for the web host.
struct Decision {
    std::optional<Answer> answer;
    os::http::Request request;
    std::string logged_path; // the relayed path up to "?"
};
Decision decide(Incoming const& incoming, std::string_view ui_origin, std::string_view api_origin);

class Relay {
public:
    // Sends one request to the web host; called on the relay workers.
    using Send = std::function<Result<os::http::Response>(os::http::Request const&)>;
    using Done = std::function<void(Answer)>;

    Relay(Send send, std::string ui_origin, std::string api_origin, size_t workers = worker_count);
    ~Relay(); // stops and joins

    Relay(Relay const&) = delete;
    Relay& operator=(Relay const&) = delete;

    void start();
    // Decides the request; an immediate answer goes to done at once, on the
    // calling thread. A relayed one is answered by done on a relay worker.
    void submit(Incoming incoming, Done done);
    // Drops the waiting requests (their done is never called), lets the
    // running ones finish and joins the workers.
    void stop();

    // Requests waiting or being relayed; for tests.
    size_t pending() const;

private:
    struct Job {
        os::http::Request request;
        std::string logged_path;
        Done done;
    };
    void run();

    Send m_send;
    std::string m_ui_origin;
    std::string m_api_origin;
    size_t m_worker_count;
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    size_t m_running = 0;
    bool m_stopping = false;
    bool m_started = false;
    std::vector<std::thread> m_workers;
};

} // namespace tillbay::shell::relay

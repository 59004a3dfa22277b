#include "shell/relay.h"

#include "base/ascii.h"
#include "foundation/log.h"
#include "os/process.h"

#include <cstdio>

namespace tillbay::shell::relay {

namespace {

constexpr std::string_view default_content_type = "application/json; charset=utf-8";
constexpr std::string_view plain_text = "text/plain; charset=utf-8";
constexpr std::string_view allowed_folders[] = { "/merchant/", "/shared/", "/tstorehtml/", "/aitwmem/" };

std::string_view before_query(std::string_view path) { return path.substr(0, path.find('?')); }

bool contains_ignoring_case(std::string_view text, std::string_view needle)
{
    for (size_t i = 0; i + needle.size() <= text.size(); ++i) {
        if (ascii::equals_ignoring_case(text.substr(i, needle.size()), needle))
            return true;
    }
    return false;
}

Answer log_answer(Answer answer)
{
    char line[64];
    std::snprintf(line, sizeof line, "응답 %d (%zu B)", answer.status, answer.body.size());
    log::bridge("RELAY", line);
    return answer;
}

} // namespace

std::optional<std::string> relayed_path(std::string_view address, std::string_view api_origin)
{
    if (address.size() <= api_origin.size() || !ascii::starts_with_ignoring_case(address, api_origin)
        || address[api_origin.size()] != '/')
        return std::nullopt;
    return std::string(address.substr(api_origin.size()));
}

bool allowed_path(std::string_view relayed)
{
    if (relayed.find("..") != std::string_view::npos)
        return false;
    std::string_view path = before_query(relayed);
    if (path.size() < 5 || !path.ends_with(".php"))
        return false;
    bool in_folder = false;
    for (auto folder : allowed_folders)
        in_folder = in_folder || path.starts_with(folder);
    if (!in_folder)
        return false;
    // The web host decodes the path: an encoded dot or separator could climb
    // out of the folder after the checks above.
    for (auto encoded : { "%2e", "%2f", "%5c" }) {
        if (contains_ignoring_case(path, encoded))
            return false;
    }
    for (char c : path) {
        auto u = static_cast<unsigned char>(c);
        if (u <= 32 || u == 127 || c == '\\')
            return false;
    }
    return true;
}

std::string server_path(std::string_view relayed)
{
    if (relayed.starts_with("/merchant/") || relayed.starts_with("/shared/"))
        return "/v2" + std::string(relayed);
    return std::string(relayed);
}

bool clean_content_type(std::string_view type)
{
    if (type.empty() || type.size() > os::http::max_content_type)
        return false;
    for (char c : type) {
        auto u = static_cast<unsigned char>(c);
        if (u < 32 || u >= 127)
            return false;
    }
    return true;
}

Answer make_answer(int status, std::string reason, std::string_view content_type, std::string body,
    std::string_view ui_origin)
{
    Answer answer;
    answer.status = status;
    answer.reason = std::move(reason);
    answer.content_type = std::string(clean_content_type(content_type) ? content_type : default_content_type);
    answer.body = std::move(body);
    std::string origin(ui_origin);
    answer.headers = {
        { "Content-Type", answer.content_type },
        { "Cache-Control", "no-store" },
        { "Access-Control-Allow-Origin", origin },
        { "Access-Control-Allow-Methods", "GET, POST, OPTIONS" },
        { "Access-Control-Allow-Headers", "Content-Type, X-Requested-With" },
        { "Access-Control-Max-Age", "600" },
        { "Timing-Allow-Origin", origin },
        { "Vary", "Origin" },
    };
    return answer;
}

Answer answer_for(Result<os::http::Response> const& result, std::string_view ui_origin)
{
    if (result.ok()) {
        auto const& response = result.value();
        if (response.status >= 200 && response.status <= 599)
            return make_answer(response.status, response.status == 200 ? "OK" : "Relayed", response.content_type,
                response.body, ui_origin);
        return make_answer(502, "Bad Gateway", default_content_type, "{\"ok\":false,\"why\":\"relay\"}", ui_origin);
    }
    if (os::http::failure_of(result.error()) == os::http::Failure::TooLarge)
        return make_answer(502, "Bad Gateway", default_content_type, "{\"ok\":false,\"why\":\"size\"}", ui_origin);
    return make_answer(504, "Gateway Timeout", default_content_type, "{\"ok\":false,\"why\":\"relay\"}", ui_origin);
}

Decision decide(Incoming const& incoming, std::string_view ui_origin, std::string_view api_origin)
{
    Decision decision;
    auto path = relayed_path(incoming.address, api_origin);
    if (!path) {
        decision.answer = make_answer(400, "Bad Request", plain_text, "not relayed", ui_origin);
        return decision;
    }
    std::string method = incoming.method.empty() ? "GET" : incoming.method;
    if (method == "OPTIONS") {
        decision.answer = make_answer(204, "No Content", plain_text, {}, ui_origin);
        return decision;
    }
    decision.logged_path = std::string(before_query(*path));
    log::bridge("RELAY", "요청 " + decision.logged_path);
    if (!allowed_path(*path)) {
        decision.answer = make_answer(403, "Forbidden", plain_text, "not relayed", ui_origin);
        return decision;
    }
    os::http::Request& request = decision.request;
    if (method == "GET") {
        request.method = os::http::Method::Get;
    } else if (method == "POST") {
        request.method = os::http::Method::Post;
    } else if (method == "HEAD") {
        request.method = os::http::Method::Head;
    } else {
        decision.answer = make_answer(405, "Method Not Allowed", plain_text, "not relayed", ui_origin);
        return decision;
    }
    if (incoming.body_cut || incoming.body.size() > max_request_body) {
        decision.answer = make_answer(413, "Payload Too Large", default_content_type, "{\"ok\":false,\"why\":\"size\"}", ui_origin);
        return decision;
    }
    request.path = server_path(*path);
    if (clean_content_type(incoming.content_type))
        request.content_type = incoming.content_type;
    if (request.method == os::http::Method::Post)
        request.body = incoming.body;
    request.timeout_ms = web_host_timeout_ms;
    request.connect_timeout_ms = web_host_connect_timeout_ms;
    request.max_bytes = max_answer_body;
    return decision;
}

Relay::Relay(Send send, std::string ui_origin, std::string api_origin, size_t workers)
    : m_send(std::move(send))
    , m_ui_origin(std::move(ui_origin))
    , m_api_origin(std::move(api_origin))
    , m_worker_count(workers == 0 ? 1 : workers)
{
}

Relay::~Relay() { stop(); }

void Relay::start()
{
    std::lock_guard lock(m_lock);
    if (m_started || m_stopping)
        return;
    m_started = true;
    for (size_t i = 0; i < m_worker_count; ++i)
        m_workers.push_back(os::process::start_thread([this] { run(); }));
}

void Relay::submit(Incoming incoming, Done done)
{
    Decision decision = decide(incoming, m_ui_origin, m_api_origin);
    if (decision.answer) {
        done(log_answer(std::move(*decision.answer)));
        return;
    }
    {
        std::lock_guard lock(m_lock);
        if (m_started && !m_stopping && m_jobs.size() < max_waiting) {
            m_jobs.push_back(Job { std::move(decision.request), std::move(decision.logged_path), std::move(done) });
            m_wake.notify_one();
            return;
        }
    }
    done(log_answer(make_answer(503, "Service Unavailable", default_content_type, "{\"ok\":false,\"why\":\"busy\"}", m_ui_origin)));
}

void Relay::run()
{
    while (true) {
        Job job;
        {
            std::unique_lock lock(m_lock);
            m_wake.wait(lock, [&] { return m_stopping || !m_jobs.empty(); });
            if (m_stopping)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
            ++m_running;
        }
        log::guarded("창구 중계 실패", [&] {
            auto result = m_send(job.request);
            if (!result.ok())
                log::bridge("RELAY", "창구 응답 없음 " + job.logged_path + " — " + result.error().detail);
            job.done(log_answer(answer_for(result, m_ui_origin)));
        });
        std::lock_guard lock(m_lock);
        --m_running;
    }
}

void Relay::stop()
{
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
        m_jobs.clear();
        workers.swap(m_workers);
    }
    m_wake.notify_all();
    for (auto& worker : workers)
        worker.join();
}

size_t Relay::pending() const
{
    std::lock_guard lock(m_lock);
    return m_jobs.size() + m_running;
}

} // namespace tillbay::shell::relay

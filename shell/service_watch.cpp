#include "shell/service_watch.h"

#include "base/ascii.h"
#include "bridge/address.h"
#include "foundation/log.h"
#include "os/http.h"
#include "os/process.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace tillbay::shell {

namespace {

constexpr size_t max_service_file = 64 * 1024;

} // namespace

int service_watch_period_from(char const* value)
{
    if (!value || !*value)
        return service_watch_period_ms;
    int period = 0;
    for (char const* c = value; *c; ++c) {
        // Six digits and more are out of range anyway; stopping here keeps
        // the sum from overflowing on a long string of digits.
        if (*c < '0' || *c > '9' || c - value >= 5)
            return service_watch_period_ms;
        period = period * 10 + (*c - '0');
    }
    if (period < min_service_watch_period_ms || period > service_watch_period_ms)
        return service_watch_period_ms;
    return period;
}

int configured_service_watch_period()
{
    static int const period = service_watch_period_from(std::getenv("TILLBAY_SVCWATCH_MS"));
    return period;
}

Result<std::string> fetch_from_web_host(std::string_view web_host, std::string_view path)
{
    // The same reading of the configured text as the page policy's, so that a
    // web host the pages reach over plain HTTP is watched over plain HTTP too.
    bool plain = ascii::starts_with_ignoring_case(web_host, "http://")
        || (!ascii::starts_with_ignoring_case(web_host, "https://") && ascii::starts_with_ignoring_case(bridge::web_host_with_scheme(web_host), "http://"));
    auto security = plain ? os::http::Security::Plain : os::http::Security::Secure;
    auto endpoint = os::http::endpoint_from_host_text(web_host, security);
    return os::http::get(endpoint, path, max_service_file);
}

ServiceWatch::ServiceWatch(bridge::ServiceState& state, std::string web_host, ServiceFetch fetch,
    std::function<void(std::string)> queue_internal, int period_ms)
    : m_state(state)
    , m_web_host(std::move(web_host))
    , m_fetch(std::move(fetch))
    , m_queue(std::move(queue_internal))
    , m_period_ms(period_ms)
{
}

ServiceWatch::~ServiceWatch() { stop(); }

void ServiceWatch::start()
{
    if (m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_lock);
        m_stopping = false;
    }
    m_thread = os::process::start_thread([this] { run(); });
}

void ServiceWatch::stop()
{
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void ServiceWatch::run_once()
{
    auto body = m_fetch ? m_fetch(m_web_host, bridge::service_status_path) : Result<std::string>(Error::from_detail("no fetch"));
    if (body.ok()) {
        if (m_state.store_block(bridge::parse_service_block(body.value())))
            m_queue("\x01svcpush");
        m_state.web_reachable();
    } else {
        m_state.web_unreachable();
    }
    m_queue("\x01srvdown");
}

void ServiceWatch::run()
{
    while (true) {
        log::guarded("서비스 확인 실패", [this] { run_once(); });
        std::unique_lock lock(m_lock);
        if (m_wake.wait_for(lock, std::chrono::milliseconds(m_period_ms), [this] { return m_stopping; }))
            return;
    }
}

} // namespace tillbay::shell

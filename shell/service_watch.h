#pragma once

// The service watch thread: every minute it fetches the platform's service
// status from the web host, keeps the block in the bridge's service record
// and tells the page when it changed, and keeps the web host's down clock.

#include "base/result.h"
#include "bridge/service_state.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace tillbay::shell {

inline constexpr int service_watch_period_ms = 60'000;
// TILLBAY_SVCWATCH_MS may shorten the period for tests, within these bounds.
inline constexpr int min_service_watch_period_ms = 200;

// The watch period a value of TILLBAY_SVCWATCH_MS asks for: 1 to 5 digits
// giving 200..60000 ms; no value, or anything else, is the one minute.
int service_watch_period_from(char const* value);
// The period for this process: TILLBAY_SVCWATCH_MS, read on the first call.
int configured_service_watch_period();

// Fetches the body of a GET of the path from the web host.
using ServiceFetch = std::function<Result<std::string>(std::string_view web_host, std::string_view path)>;

// The real fetch: the web client of the update subsystem, over HTTPS unless
// the web host text says "http://" or names a local or private host the way
// the page policy reads it.
Result<std::string> fetch_from_web_host(std::string_view web_host, std::string_view path);

// The watch thread. Each round: fetch, store the block (queueing
// "\x01svcpush" when it changed) and clear the web clock, or start the web
// clock on failure; then queue "\x01srvdown" and sleep a period.
class ServiceWatch {
public:
    ServiceWatch(bridge::ServiceState& state, std::string web_host, ServiceFetch fetch,
        std::function<void(std::string)> queue_internal, int period_ms = service_watch_period_ms);
    ~ServiceWatch(); // stops and joins the thread

    ServiceWatch(ServiceWatch const&) = delete;
    ServiceWatch& operator=(ServiceWatch const&) = delete;

    void start();
    void stop();
    // One round without sleeping, for tests.
    void run_once();

private:
    void run();

    bridge::ServiceState& m_state;
    std::string m_web_host;
    ServiceFetch m_fetch;
    std::function<void(std::string)> m_queue;
    int m_period_ms;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace tillbay::shell

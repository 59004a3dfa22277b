#pragma once

// Reloads of the order board that no page command waits for: the order
// notices of the push channel, and its reconnects. A burst of notices must
// not cost one server call each, yet every notice must reach the page after
// a list that holds its order. So reloads are coalesced: a request while a
// reload is waiting on the lane joins it; a request while one is running
// queues exactly one follow-up, which carries every notice that arrived
// meanwhile. A reload after a quiet spell starts at once; a follow-up starts
// no sooner than the spacing after the reload before it. The spacing is
// min_spacing at first and doubles with every follow-up that had to wait,
// up to max_spacing, until a quiet spell brings it back: a few orders cost
// a reload each as they come, a long rush about one reload a second, not
// one per order. Each reload sends its notices' callbacks after its list.

#include "bridge/bridge.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace tillbay::orders {

class BoardReloads {
public:
    // run posts a job to the command lane after a delay; reload does one
    // reload on the lane and then answers the notices it was given.
    using Run = std::function<void(std::chrono::milliseconds delay, std::function<void()>)>;
    using Reload = std::function<void(std::vector<bridge::OrderNotice>)>;

    static constexpr std::chrono::milliseconds min_spacing { 200 };
    static constexpr std::chrono::milliseconds max_spacing { 1000 };

    // now: a monotonic clock (tests give their own).
    BoardReloads(Run run, Reload reload,
        std::function<std::chrono::steady_clock::time_point()> now = std::chrono::steady_clock::now);

    // Any thread.
    void request(std::vector<bridge::OrderNotice> notices);

    // Reloads started so far, for tests and the benchmark's log line.
    size_t started() const;

private:
    void run_one();

    Run m_run;
    Reload m_reload;
    std::function<std::chrono::steady_clock::time_point()> m_now;
    std::optional<std::chrono::steady_clock::time_point> m_last_start;
    std::chrono::milliseconds m_spacing = min_spacing;
    mutable std::mutex m_lock;
    bool m_waiting = false; // a reload sits on the lane, not started yet
    std::vector<bridge::OrderNotice> m_notices;
    size_t m_started = 0;
};

} // namespace tillbay::orders

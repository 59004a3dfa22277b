#pragma once

// Reloads of the order board that no page command waits for: the order
// notices of the push channel, and its reconnects. A burst of notices must
// not cost one server call each, yet every notice must reach the page after
// a list that holds its order. So reloads are coalesced: a request while a
// reload is waiting on the lane joins it; a request while one is running
// queues exactly one follow-up, which carries every notice that arrived
// meanwhile. Each reload sends its notices' callbacks after its list.

#include "bridge/bridge.h"

#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

namespace tillbay::orders {

class BoardReloads {
public:
    // run posts a job to the command lane; reload does one reload on the
    // lane and then answers the notices it was given.
    using Run = std::function<void(std::function<void()>)>;
    using Reload = std::function<void(std::vector<bridge::OrderNotice>)>;

    BoardReloads(Run run, Reload reload);

    // Any thread.
    void request(std::vector<bridge::OrderNotice> notices);

    // Reloads started so far, for tests and the benchmark's log line.
    size_t started() const;

private:
    void run_one();

    Run m_run;
    Reload m_reload;
    mutable std::mutex m_lock;
    bool m_waiting = false; // a reload sits on the lane, not started yet
    std::vector<bridge::OrderNotice> m_notices;
    size_t m_started = 0;
};

} // namespace tillbay::orders

#include "orders/board_reloads.h"

#include <algorithm>

namespace tillbay::orders {

BoardReloads::BoardReloads(Run run, Reload reload, std::function<std::chrono::steady_clock::time_point()> now)
    : m_run(std::move(run))
    , m_reload(std::move(reload))
    , m_now(std::move(now))
{
}

void BoardReloads::request(std::vector<bridge::OrderNotice> notices)
{
    std::chrono::milliseconds delay { 0 };
    {
        std::lock_guard lock(m_lock);
        m_notices.insert(m_notices.end(), std::make_move_iterator(notices.begin()),
            std::make_move_iterator(notices.end()));
        if (m_waiting)
            return;
        m_waiting = true;
        if (m_last_start) {
            auto since = std::chrono::duration_cast<std::chrono::milliseconds>(m_now() - *m_last_start);
            if (since < m_spacing) {
                delay = m_spacing - since;
                m_spacing = std::min(m_spacing * 2, max_spacing);
            } else {
                m_spacing = min_spacing;
            }
        }
    }
    m_run(delay, [this] { run_one(); });
}

size_t BoardReloads::started() const
{
    std::lock_guard lock(m_lock);
    return m_started;
}

void BoardReloads::run_one()
{
    std::vector<bridge::OrderNotice> notices;
    {
        std::lock_guard lock(m_lock);
        // From here on a new request queues a follow-up: this reload may
        // already be past the moment its list was fetched.
        m_waiting = false;
        notices.swap(m_notices);
        ++m_started;
        m_last_start = m_now();
    }
    m_reload(std::move(notices));
}

} // namespace tillbay::orders

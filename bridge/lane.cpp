#include "bridge/lane.h"

#include "foundation/log.h"
#include "os/process.h"

#include <algorithm>
#include <chrono>

namespace tillbay::bridge {

Lane::Lane(std::string name)
    : m_name(std::move(name))
{
}

Lane::~Lane() { stop(); }

void Lane::start()
{
    std::lock_guard lock(m_lock);
    if (m_thread.joinable() || m_stopping)
        return;
    m_thread = os::process::start_thread([this] { run(); });
}

void Lane::post(std::function<void()> job)
{
    {
        std::lock_guard lock(m_lock);
        if (m_stopping)
            return;
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void Lane::post_after(std::chrono::milliseconds delay, std::function<void()> job)
{
    if (delay.count() <= 0) {
        post(std::move(job));
        return;
    }
    {
        std::lock_guard lock(m_lock);
        if (m_stopping)
            return;
        Later later { std::chrono::steady_clock::now() + delay, std::move(job) };
        auto at = std::upper_bound(m_later.begin(), m_later.end(), later.due,
            [](auto const& due, Later const& other) { return due < other.due; });
        m_later.insert(at, std::move(later));
    }
    m_wake.notify_one();
}

void Lane::stop()
{
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
        m_jobs.clear();
        m_later.clear();
    }
    m_wake.notify_all();
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
    m_idle.notify_all();
}

bool Lane::on_lane_thread() const
{
    std::lock_guard lock(m_lock);
    return m_thread.get_id() == std::this_thread::get_id();
}

size_t Lane::pending() const
{
    std::lock_guard lock(m_lock);
    return m_jobs.size() + m_later.size() + (m_running_job ? 1 : 0);
}

bool Lane::wait_idle(int timeout_ms) const
{
    std::unique_lock lock(m_lock);
    return m_idle.wait_for(lock, std::chrono::milliseconds(timeout_ms),
        [this] { return (m_jobs.empty() && m_later.empty() && !m_running_job) || m_stopping; });
}

void Lane::run()
{
    while (true) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_lock);
            while (true) {
                auto now = std::chrono::steady_clock::now();
                while (!m_later.empty() && m_later.front().due <= now) {
                    m_jobs.push_back(std::move(m_later.front().job));
                    m_later.erase(m_later.begin());
                }
                if (m_stopping)
                    return;
                if (!m_jobs.empty())
                    break;
                if (m_later.empty())
                    m_wake.wait(lock);
                else
                    m_wake.wait_until(lock, m_later.front().due);
            }
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
            m_running_job = true;
        }
        log::guarded(m_name + " 작업 실패", job);
        {
            std::lock_guard lock(m_lock);
            m_running_job = false;
        }
        m_idle.notify_all();
    }
}

} // namespace tillbay::bridge

#pragma once

// The command lane: one worker thread that runs the commands whose work
// blocks (server calls, printers, devices, large files), one at a time, in
// the order the bridge handed them over, so that the order of the requests a
// page caused stays what it was while the window keeps answering. What a job
// produces for the page goes back to the UI thread through the bridge.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tillbay::bridge {

class Lane {
public:
    // name: for the log line of a job that failed.
    explicit Lane(std::string name = "lane");
    ~Lane(); // stops and joins

    Lane(Lane const&) = delete;
    Lane& operator=(Lane const&) = delete;

    void start();
    // Any thread. Runs the job after every job posted before it. After
    // stop() jobs are dropped.
    void post(std::function<void()> job);
    // Any thread. The job joins the queue when the time comes; the lane runs
    // other jobs meanwhile.
    void post_after(std::chrono::milliseconds delay, std::function<void()> job);
    // Lets the running job finish, drops the waiting ones, joins the thread.
    void stop();

    bool on_lane_thread() const;
    // Jobs waiting or running.
    size_t pending() const;
    // Waits until no job waits or runs, or the time runs out; for tests.
    bool wait_idle(int timeout_ms) const;

private:
    void run();

    std::string m_name;
    mutable std::mutex m_lock;
    mutable std::condition_variable m_wake;
    mutable std::condition_variable m_idle;
    std::deque<std::function<void()>> m_jobs;
    struct Later {
        std::chrono::steady_clock::time_point due;
        std::function<void()> job;
    };
    std::vector<Later> m_later; // by due time, the earliest first
    bool m_running_job = false;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace tillbay::bridge

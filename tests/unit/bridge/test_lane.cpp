#include "bridge/lane.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace tillbay::bridge;

namespace {

TEST(Lane, RunsJobsOneAtATimeInTheOrderPosted)
{
    Lane lane;
    lane.start();
    std::mutex lock;
    std::vector<int> order;
    std::atomic<int> running { 0 };
    std::atomic<int> overlap { 0 };
    for (int i = 0; i < 50; ++i) {
        lane.post([&, i] {
            if (running.fetch_add(1) != 0)
                ++overlap;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            {
                std::lock_guard guard(lock);
                order.push_back(i);
            }
            running.fetch_sub(1);
        });
    }
    ASSERT_TRUE(lane.wait_idle(5000));
    EXPECT_EQ(overlap.load(), 0);
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(order[i], i);
}

TEST(Lane, AJobThatThrowsDoesNotStopTheLane)
{
    Lane lane;
    lane.start();
    std::atomic<bool> second { false };
    lane.post([] { throw std::runtime_error("boom"); });
    lane.post([] { throw 42; });
    lane.post([&] { second = true; });
    ASSERT_TRUE(lane.wait_idle(5000));
    EXPECT_TRUE(second.load());
}

TEST(Lane, ALaterJobWaitsItsTimeWhileOthersRun)
{
    Lane lane;
    lane.start();
    std::mutex lock;
    std::vector<std::string> order;
    auto note = [&](std::string what) {
        std::lock_guard guard(lock);
        order.push_back(std::move(what));
    };
    auto posted = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point ran_at;
    lane.post_after(std::chrono::milliseconds(150), [&] {
        ran_at = std::chrono::steady_clock::now();
        note("later");
    });
    lane.post([&] { note("now 1"); });
    lane.post([&] { note("now 2"); });
    ASSERT_TRUE(lane.wait_idle(5000));
    EXPECT_EQ(order, (std::vector<std::string> { "now 1", "now 2", "later" }));
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(ran_at - posted).count(), 150);
}

TEST(Lane, StopLetsTheRunningJobFinishAndDropsTheRest)
{
    Lane lane;
    lane.start();
    std::atomic<bool> started { false };
    std::atomic<bool> finished { false };
    std::atomic<bool> dropped_ran { false };
    lane.post([&] {
        started = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        finished = true;
    });
    lane.post([&] { dropped_ran = true; });
    while (!started)
        std::this_thread::yield();
    lane.stop();
    EXPECT_TRUE(finished.load());
    EXPECT_FALSE(dropped_ran.load());
    // Posting after the stop is harmless and runs nothing.
    lane.post([&] { dropped_ran = true; });
    EXPECT_FALSE(dropped_ran.load());
}

} // namespace

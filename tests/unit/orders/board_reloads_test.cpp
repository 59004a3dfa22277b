#include "orders/board_reloads.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

using namespace tillbay;

namespace {

// A lane the test turns by hand: jobs wait until run_next(); the delay each
// job was posted with is noted.
struct ManualLane {
    std::deque<std::function<void()>> jobs;
    std::vector<long long> delays;
    void post(std::chrono::milliseconds delay, std::function<void()> job)
    {
        delays.push_back(delay.count());
        jobs.push_back(std::move(job));
    }
    void run_next()
    {
        auto job = std::move(jobs.front());
        jobs.pop_front();
        job();
    }
};

std::chrono::steady_clock::time_point g_now {};
std::chrono::steady_clock::time_point test_clock() { return g_now; }

bridge::OrderNotice notice(int orderidx) { return { 7, orderidx, "NEWORDER" }; }

std::vector<int> numbers(std::vector<bridge::OrderNotice> const& notices)
{
    std::vector<int> out;
    for (auto const& n : notices)
        out.push_back(n.orderidx);
    return out;
}

TEST(BoardReloads, ABurstWaitingOnTheLaneIsOneReload)
{
    ManualLane lane;
    std::vector<std::vector<int>> reloads;
    orders::BoardReloads board([&](std::chrono::milliseconds delay, std::function<void()> job) { lane.post(delay, std::move(job)); },
        [&](std::vector<bridge::OrderNotice> notices) { reloads.push_back(numbers(notices)); }, test_clock);
    for (int i = 1; i <= 300; ++i)
        board.request({ notice(i) });
    ASSERT_EQ(lane.jobs.size(), 1u);
    lane.run_next();
    ASSERT_EQ(reloads.size(), 1u);
    EXPECT_EQ(reloads[0].size(), 300u);
    EXPECT_EQ(reloads[0].front(), 1);
    EXPECT_EQ(reloads[0].back(), 300);
    EXPECT_TRUE(lane.jobs.empty());
}

TEST(BoardReloads, RequestsDuringAReloadMergeIntoOneFollowUp)
{
    ManualLane lane;
    std::vector<std::vector<int>> reloads;
    orders::BoardReloads* self = nullptr;
    bool first = true;
    orders::BoardReloads board([&](std::chrono::milliseconds delay, std::function<void()> job) { lane.post(delay, std::move(job)); },
        [&](std::vector<bridge::OrderNotice> notices) {
            reloads.push_back(numbers(notices));
            if (first) {
                // Orders arriving while the list is being fetched: the list
                // in flight may not hold them, so they wait for a follow-up.
                first = false;
                self->request({ notice(2) });
                self->request({ notice(3) });
                self->request({});
            }
        },
        test_clock);
    self = &board;
    board.request({ notice(1) });
    lane.run_next();
    ASSERT_EQ(lane.jobs.size(), 1u);
    lane.run_next();
    EXPECT_EQ(reloads, (std::vector<std::vector<int>> { { 1 }, { 2, 3 } }));
    EXPECT_TRUE(lane.jobs.empty());
    EXPECT_EQ(board.started(), 2u);
}

TEST(BoardReloads, AReconnectReloadCarriesNoNotices)
{
    ManualLane lane;
    std::vector<std::vector<int>> reloads;
    orders::BoardReloads board([&](std::chrono::milliseconds delay, std::function<void()> job) { lane.post(delay, std::move(job)); },
        [&](std::vector<bridge::OrderNotice> notices) { reloads.push_back(numbers(notices)); }, test_clock);
    board.request({});
    lane.run_next();
    EXPECT_EQ(reloads, (std::vector<std::vector<int>> { {} }));
}

} // namespace

namespace {

TEST(BoardReloads, AFollowUpWaitsOutTheSpacingAfterThePreviousReload)
{
    using namespace std::chrono_literals;
    ManualLane lane;
    orders::BoardReloads board([&](std::chrono::milliseconds delay, std::function<void()> job) { lane.post(delay, std::move(job)); },
        [](std::vector<bridge::OrderNotice>) { }, test_clock);
    g_now = std::chrono::steady_clock::time_point {} + 10s;
    board.request({ notice(1) });
    lane.run_next(); // started at 10 s
    g_now += 50ms;
    board.request({ notice(2) });
    lane.run_next();
    g_now += 1s;
    board.request({ notice(3) });
    // The first reload goes at once; one 50 ms after the previous waits the
    // rest of the spacing; one after a quiet second goes at once again.
    EXPECT_EQ(lane.delays, (std::vector<long long> { 0, 150, 0 }));
}

TEST(BoardReloads, ARushSpacesItsReloadsFurtherUntilAQuietSpell)
{
    using namespace std::chrono_literals;
    ManualLane lane;
    orders::BoardReloads board([&](std::chrono::milliseconds delay, std::function<void()> job) { lane.post(delay, std::move(job)); },
        [](std::vector<bridge::OrderNotice>) { }, test_clock);
    g_now = std::chrono::steady_clock::time_point {} + 10s;
    // An order every 50 ms; each reload starts when its delay is over.
    int orderidx = 0;
    for (int reload = 0; reload < 7; ++reload) {
        board.request({ notice(++orderidx) });
        g_now += std::chrono::milliseconds(lane.delays.back());
        lane.run_next();
        g_now += 50ms;
    }
    // Two quiet seconds, then one order: at once, and the spacing is short again.
    g_now += 2s;
    board.request({ notice(++orderidx) });
    lane.run_next();
    g_now += 50ms;
    board.request({ notice(++orderidx) });
    EXPECT_EQ(lane.delays, (std::vector<long long> { 0, 150, 350, 750, 950, 950, 950, 0, 150 }));
    EXPECT_EQ(board.started(), 8u);
}

} // namespace

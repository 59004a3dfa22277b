// Crash safety with real processes: a counter placing orders against the
// reference platform is killed with SIGKILL at random moments (before the
// send, during it, after the answer, while the journal is rewritten) and
// started again each time, when it sends again what its journal still
// holds. However the kills fall, the platform holds at most one order per
// request key, and every key that ever reached it has exactly one.
// TB_ORDER_KILLS sets the number of kills (20 by default, 100 in ./run bench).

#include "peer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <map>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace tillbay;
using Clock = std::chrono::steady_clock;

namespace {

std::string driver_binary()
{
    char const* build = std::getenv("TB_BUILD_DIR");
    return std::string(build ? build : ".") + "/tests/integration/orders/order_taking_driver";
}

class OrderKills : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (peers::Platform::binary().empty() || ::access(driver_binary().c_str(), X_OK) != 0)
            GTEST_SKIP() << "tillbay-platform or the driver is not built";
        ASSERT_TRUE(platform.start());
        // Writes the API port into the POS folder's settings, which the driver reads.
        ASSERT_TRUE(platform.configure_pos());
        journal = platform.dir.file("journal");
        ASSERT_EQ(::mkdir(journal.c_str(), 0700), 0);
    }

    // Starts the driver; with ready, waits until it has signed in and is
    // about to place its order.
    pid_t start(std::string const& key, std::vector<std::string> more = {}, bool ready = false)
    {
        int out[2];
        if (::pipe(out) != 0)
            return -1;
        pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            std::vector<std::string> args { driver_binary(), platform.pos_dir, journal, platform.staff_id, platform.staff_password };
            if (!key.empty())
                args.push_back(key);
            args.insert(args.end(), more.begin(), more.end());
            std::vector<char*> argv;
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        std::string seen;
        char c;
        while (ready && seen.find("ready\n") == std::string::npos && ::read(out[0], &c, 1) == 1)
            seen += c;
        ::close(out[0]);
        return pid;
    }
    int finish(pid_t pid)
    {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }
    // reqkey → number of orders, read from the platform's database.
    std::map<std::string, int> orders_by_key(std::string const& pattern = "kill-%")
    {
        std::map<std::string, int> out;
        std::string command = "sqlite3 -readonly " + platform.dir.file("data") + "/platform.db "
            "\"SELECT reqkey||' '||COUNT(*) FROM orders WHERE reqkey LIKE '" + pattern + "' GROUP BY reqkey\"";
        if (FILE* p = ::popen(command.c_str(), "r")) {
            char line[256];
            while (std::fgets(line, sizeof line, p)) {
                std::string text(line);
                auto blank = text.find(' ');
                if (blank != std::string::npos)
                    out[text.substr(0, blank)] = std::atoi(text.c_str() + blank + 1);
            }
            ::pclose(p);
        }
        return out;
    }

    peers::Platform platform;
    std::string journal;
};

TEST_F(OrderKills, OneOrderPerKeyHoweverTheProcessDies)
{
    int kills = 20;
    if (char const* named = std::getenv("TB_ORDER_KILLS"))
        kills = std::max(1, std::atoi(named));
    // One placement, from the driver's "ready" to its end, sets the window
    // the kills fall into.
    pid_t warmup = start("kill-warmup-0000000000", {}, true);
    auto begun = Clock::now();
    ASSERT_EQ(finish(warmup), 0);
    auto whole = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begun).count();
    std::mt19937 random(12345);
    std::uniform_int_distribution<long long> moment(0, whole + whole / 5);

    int ended_early = 0;
    for (int i = 0; i < kills; ++i) {
        char key[40];
        std::snprintf(key, sizeof key, "kill-%04d-abcdefghijkl", i);
        pid_t pid = start(key, {}, true);
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        ::kill(pid, SIGKILL);
        int code = finish(pid);
        ended_early += code == -SIGKILL;
        ASSERT_TRUE(code == 0 || code == -SIGKILL) << "run " << i << " ended with " << code;
    }
    // The last start settles whatever the last kill left pending.
    ASSERT_EQ(finish(start("")), 0);

    auto orders = orders_by_key();
    std::string log;
    for (auto const& line : platform.requests_after(0))
        log += line + "\n";
    int sent = 0;
    for (int i = 0; i < kills; ++i) {
        char key[40];
        std::snprintf(key, sizeof key, "kill-%04d-abcdefghijkl", i);
        bool reached = log.find(std::string("cmd=10&reqkey=") + key) != std::string::npos;
        sent += reached;
        EXPECT_EQ(orders[key], reached ? 1 : 0) << key;
    }
    int placed = 0;
    for (auto const& [key, count] : orders)
        placed += key.rfind("kill-warmup", 0) == 0 ? 0 : count;
    EXPECT_EQ(placed, sent);
    std::printf("%d runs killed (a placement takes %lld us), %d keys reached the platform, %d orders placed\n", ended_early,
        static_cast<long long>(whole), sent, placed);
}

} // namespace

namespace {

// Two counters on one PC place orders for one store at the same time. They
// share the journal: each waits while the other's order is in flight, every
// order is placed once, and the journal is never found torn (a driver that
// reads it unreadable ends with 3).
TEST_F(OrderKills, TwoCountersShareTheJournal)
{
    constexpr int each = 15;
    pid_t a = start("--loop", { "duo-a", std::to_string(each) });
    pid_t b = start("--loop", { "duo-b", std::to_string(each) });
    EXPECT_EQ(finish(a), 0);
    EXPECT_EQ(finish(b), 0);
    auto orders = orders_by_key("duo-%");
    EXPECT_EQ(orders.size(), 2u * each);
    for (auto const& [key, count] : orders)
        EXPECT_EQ(count, 1) << key;
}

} // namespace

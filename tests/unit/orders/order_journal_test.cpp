// The order recovery journal: what it accepts and refuses, unreadable files,
// rewrites that fail, very long host names, and several processes sharing it.

#include "orders/order_journal.h"
#include "os/filelock.h"
#include "os/fs.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

using namespace tillbay;
using orders::JournalState;
using orders::OrderJournal;

namespace {

constexpr char const* key_a = "A1b2C3d4-e5f6-7890";
constexpr char const* key_b = "B1b2C3d4-e5f6-7890";
constexpr char const* order = R"({"items":[{"menuidx":1,"qty":2}]})";
constexpr char const* context = R"({"table":3})";

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tb-journal-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder = std::string(pattern) + "/";
    }
    void TearDown() override { (void)std::system(("rm -rf '" + folder + "'").c_str()); }

    OrderJournal journal(int storeidx = 7) { return OrderJournal(folder, "api.example.com", storeidx); }
    // The lock is free again: nothing is left holding it.
    bool lock_free(OrderJournal const& j) { return os::FileLock::exclusive(j.path() + ".lock").ok(); }

    std::string folder;
};

TEST(JournalFormat, RequestKeysAndContents)
{
    EXPECT_TRUE(orders::valid_request_key("abcdefghij-12345"));
    EXPECT_TRUE(orders::valid_request_key(std::string(60, 'k')));
    EXPECT_FALSE(orders::valid_request_key("abcdefghij-1234"));
    EXPECT_FALSE(orders::valid_request_key(std::string(61, 'k')));
    EXPECT_FALSE(orders::valid_request_key("abcdefghij_123456"));
    EXPECT_FALSE(orders::valid_request_key("abcdefghij 123456"));
    EXPECT_FALSE(orders::valid_request_key(""));

    struct Case {
        char const* name;
        std::string content;
        JournalState state;
    } const cases[] = {
        { "empty", "", JournalState::None },
        { "pending", std::string(key_a) + "\n{}\nctx", JournalState::Pending },
        { "short key", "short\n{}\nctx", JournalState::Unreadable },
        { "no context", std::string(key_a) + "\n{}\n", JournalState::Unreadable },
        { "no order", std::string(key_a) + "\n\nctx", JournalState::Unreadable },
        { "one line", std::string(key_a), JournalState::Unreadable },
        { "too large", std::string(key_a) + "\n{}\n" + std::string(orders::max_journal_bytes, 'x'), JournalState::Unreadable },
    };
    for (auto const& c : cases)
        EXPECT_EQ(orders::parse_journal(c.content).state, c.state) << c.name;
    auto entry = orders::parse_journal(std::string(key_a) + "\n{\"a\":1}\nctx with blanks");
    EXPECT_EQ(entry.key, key_a);
    EXPECT_EQ(entry.order_json, "{\"a\":1}");
    EXPECT_EQ(entry.context, "ctx with blanks");
}

TEST(JournalFormat, FileNameKeepsHexUntilTooLong)
{
    EXPECT_EQ(orders::journal_file_name("ab", 7), "order-pending-6162-7.dat");
    // The settings allow host names of 127 bytes: in hexadecimal they pass
    // the file-name limit, and a digest names the journal instead.
    std::string host(127, 'h');
    std::string name = orders::journal_file_name(host, 123456);
    EXPECT_LE(name.size() + 5, orders::max_file_name);
    EXPECT_EQ(name.rfind("order-pending-sha-", 0), 0u);
    EXPECT_NE(name, orders::journal_file_name(std::string(126, 'h') + "i", 123456));
    EXPECT_EQ(name, orders::journal_file_name(host, 123456));
    // The longest host that still fits keeps its readable name.
    std::string fits(115, 'h');
    EXPECT_EQ(orders::journal_file_name(fits, 7).rfind("order-pending-6868", 0), 0u);
}

TEST_F(JournalTest, OneOrderInFlightUntilForgotten)
{
    auto j = journal();
    EXPECT_EQ(j.read().state, JournalState::None);
    ASSERT_TRUE(j.begin(key_a, order, context));
    EXPECT_EQ(os::read_file(j.path(), 4096).value(), std::string(key_a) + "\n" + order + "\n" + context);

    EXPECT_TRUE(j.begin(key_a, order, context)) << "the same order may be sent again";
    EXPECT_FALSE(j.begin(key_a, R"({"items":[]})", context)) << "a changed order under the same key";
    EXPECT_FALSE(j.begin(key_b, order, context)) << "another order while one is pending";
    EXPECT_FALSE(j.forget(key_b));
    EXPECT_FALSE(j.forget(""));
    EXPECT_EQ(j.read().key, key_a);

    EXPECT_TRUE(j.forget(key_a));
    EXPECT_EQ(os::read_file(j.path(), 4096).value(), "");
    EXPECT_TRUE(j.forget(key_a)) << "forgetting twice is harmless";
    EXPECT_TRUE(j.begin(key_b, order, context));
    // Another store has a journal of its own.
    EXPECT_TRUE(journal(8).begin(key_a, order, context));
    EXPECT_TRUE(lock_free(j));
}

TEST_F(JournalTest, LineBreaksAndBadKeysAreNeverWritten)
{
    auto j = journal();
    EXPECT_FALSE(j.begin(key_a, "{\n}", context));
    EXPECT_FALSE(j.begin(key_a, order, "a\rb"));
    EXPECT_FALSE(j.begin("short", order, context));
    EXPECT_FALSE(j.begin(key_a, "", context));
    EXPECT_FALSE(j.begin(key_a, order, ""));
    EXPECT_FALSE(os::file_exists(j.path()));
    EXPECT_TRUE(lock_free(j));
}

TEST_F(JournalTest, UnreadableFileBlocksUntilForgottenWithEmptyKey)
{
    auto j = journal();
    for (std::string const& content : { std::string("garbage without lines"), std::string(key_a) + "\n{}\n"
                                                                                   + std::string(orders::max_journal_bytes, 'x') }) {
        ASSERT_TRUE(os::write_file(j.path(), content).ok());
        EXPECT_EQ(j.read().state, JournalState::Unreadable);
        EXPECT_FALSE(j.begin(key_a, order, context));
        EXPECT_FALSE(j.forget(key_a)) << "a key cannot settle what nobody can read";
        EXPECT_TRUE(lock_free(j));
        EXPECT_TRUE(j.forget(""));
        EXPECT_EQ(j.read().state, JournalState::None);
    }
    EXPECT_TRUE(j.begin(key_a, order, context));
}

TEST_F(JournalTest, FailedRewriteKeepsTheJournal)
{
    auto j = journal();
    ASSERT_TRUE(j.begin(key_a, order, context));
    // The temporary file cannot be made: nothing may change.
    ASSERT_EQ(::mkdir((j.path() + ".tmp").c_str(), 0700), 0);
    EXPECT_FALSE(j.forget(key_a));
    EXPECT_EQ(j.read().key, key_a);
    EXPECT_TRUE(lock_free(j));
    ASSERT_EQ(::rmdir((j.path() + ".tmp").c_str()), 0);
    // A temporary file left by a crash is simply written over.
    ASSERT_TRUE(os::write_file(j.path() + ".tmp", "half a journ").ok());
    EXPECT_TRUE(j.forget(key_a));
    EXPECT_FALSE(os::file_exists(j.path() + ".tmp"));

    ASSERT_EQ(::mkdir((j.path() + ".tmp").c_str(), 0700), 0);
    EXPECT_FALSE(j.begin(key_b, order, context)) << "an order that could not be written down is not sent";
    EXPECT_EQ(j.read().state, JournalState::None);
}

TEST_F(JournalTest, VeryLongHostNameStillPlacesOrders)
{
    OrderJournal j(folder, std::string(127, 'h'), 7);
    ASSERT_TRUE(j.begin(key_a, order, context));
    EXPECT_EQ(j.read().key, key_a);
    EXPECT_TRUE(j.forget(key_a));
}

// Several processes begin and forget their own orders on one journal at the
// same time. Each one that is let in must find its own entry whole when it
// reads it back; no begin may ever see a torn file.
TEST_F(JournalTest, ProcessesSerialiseOnTheLock)
{
    constexpr int processes = 4;
    constexpr int rounds = 150;
    std::string path = journal().path();
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::string key = "process-key-" + std::to_string(p) + "-abcdef";
            std::string mine = R"({"process":)" + std::to_string(p) + "}";
            int placed = 0;
            for (int r = 0; r < rounds; ++r) {
                OrderJournal j(folder, "api.example.com", 7);
                if (j.begin(key, mine, "ctx")) {
                    auto entry = j.read();
                    if (entry.state != JournalState::Pending || entry.key != key || entry.order_json != mine)
                        ::_exit(210);
                    if (!j.forget(key))
                        ::_exit(211);
                    ++placed;
                } else if (j.read().state == JournalState::Unreadable) {
                    ::_exit(212);
                }
            }
            ::_exit(std::min(placed, 199));
        }
        children.push_back(pid);
    }
    int placed = 0;
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_LT(WEXITSTATUS(status), 200) << "210: someone else's entry, 211: forget refused, 212: torn file";
        placed += WEXITSTATUS(status) < 200 ? WEXITSTATUS(status) : 0;
    }
    // Orders went through one at a time; a process that keeps finding
    // another's order in flight may place none, which is the design.
    EXPECT_GT(placed, 0);
    EXPECT_EQ(journal().read().state, JournalState::None);
    (void)path;
}

// A process that holds the lock makes the other wait, not fail.
TEST_F(JournalTest, BeginWaitsForAnotherHolder)
{
    auto j = journal();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        auto held = os::FileLock::exclusive(j.path() + ".lock");
        if (!held.ok())
            ::_exit(1);
        char c = 1;
        (void)!::write(ready[1], &c, 1);
        ::usleep(300 * 1000);
        OrderJournal own(folder, "api.example.com", 7);
        (void)os::write_file_atomic(own.path(), std::string(key_a) + "\n" + order + "\n" + context);
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    // The child writes key_a while holding the lock; begin sees it afterwards.
    EXPECT_FALSE(j.begin(key_b, order, context));
    EXPECT_TRUE(j.begin(key_a, order, context));
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ::close(ready[0]);
    ::close(ready[1]);
}

} // namespace

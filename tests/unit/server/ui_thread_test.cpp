#include "base/thread_role.h"
#include "os/http.h"
#include "server/transport.h"

#include <gtest/gtest.h>

#include <thread>

using namespace tillbay;

namespace {

// A wait on the network made on the UI thread is a fault; under the test
// port (strict) it ends the program at once, so no such call can hide.
TEST(UiThreadDeathTest, NetworkWaitsOnTheUiThreadAbortInStrictMode)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            thread_role::mark_ui_thread();
            thread_role::set_strict(true);
            (void)transport::connect("127.0.0.1", 1, 100);
        },
        "blocking work on the UI thread: 서버 연결");
    EXPECT_DEATH(
        {
            thread_role::mark_ui_thread();
            thread_role::set_strict(true);
            (void)os::http::get(os::http::Endpoint { "127.0.0.1", 1, os::http::Security::Plain }, "/");
        },
        "blocking work on the UI thread: 웹 요청");
}

TEST(UiThread, OtherThreadsMayWaitAndTheUiThreadIsOnlyReported)
{
    thread_role::mark_ui_thread();
    thread_role::set_strict(true);
    std::thread worker([] { EXPECT_FALSE(transport::connect("127.0.0.1", 1, 100).ok()); });
    worker.join();

    static int reports = 0;
    thread_role::set_strict(false);
    thread_role::set_report([](std::string_view) { ++reports; });
    EXPECT_FALSE(transport::connect("127.0.0.1", 1, 100).ok());
    EXPECT_EQ(reports, 1);
    thread_role::set_report(nullptr);
    thread_role::forget_ui_thread_for_testing();
}

} // namespace

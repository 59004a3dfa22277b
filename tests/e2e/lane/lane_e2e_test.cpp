// The window keeps answering while the platform does not. The real program
// under Xvfb against the reference platform: a store call the API server
// holds without an answer must not stop the screen (a trivial script through
// the automation endpoint answers at once meanwhile), and the page gets the
// call's failure when it ends; a program closed while a download from the web
// host hangs exits cleanly, without a crash report.

#include "e2e_fixture.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

std::string value_of(e2e::Installation const& at, std::string const& expression)
{
    return e2e::json_field(e2e::http(at.automation, "POST", "/eval", expression).body, "value");
}

bool on_page(e2e::Installation const& at, int page_class)
{
    std::string doc = e2e::http(at.automation, "GET", "/doc").body;
    return e2e::json_field(doc, "class") == std::to_string(page_class) && e2e::json_field(doc, "ready") == "true";
}

void add_fault(e2e::Installation const& at, std::string const& body)
{
    auto answer = e2e::http(at.control, "POST", "/control/faults", body);
    ASSERT_EQ(answer.status, 200) << answer.body;
}

// Starts the program and waits for its sign-in page; a first update check that
// takes the web host's bundle as new and asks for a restart is waited out.
e2e::Child* start_to_sign_in(e2e::Installation const& at)
{
    e2e::Child* program = e2e::start_program(at, {});
    EXPECT_TRUE(e2e::wait_for([&] { return on_page(at, 1); }, 45s)) << e2e::read_text(at.pos_log);
    if (e2e::wait_for([&] { return e2e::read_text(at.bridge_log).find("UPD 상태 app-ready") != std::string::npos; }, 5s)) {
        delete program;
        program = e2e::start_program(at, {});
        EXPECT_TRUE(e2e::wait_for([&] { return on_page(at, 1); }, 45s));
    }
    EXPECT_TRUE(e2e::wait_for(
        [&] {
            return value_of(at, "typeof window.tillwave==='object'&&typeof window.setLoginMode==='function'"
                                "&&document.readyState==='complete'")
                == "true";
        },
        10s));
    return program;
}

TEST(WindowKeepsAnswering, WhileTheServerHoldsAStoreCall)
{
    e2e::Installation at;
    ASSERT_NO_FATAL_FAILURE(e2e::set_up_installation(at, "lane-silent", e2e::ServedUi::Copy));
    std::unique_ptr<e2e::Child> program(start_to_sign_in(at));
    value_of(at, "document.getElementById('tabPos').click();document.getElementById('userId').value='tillbay01';"
                 "document.getElementById('userPw').value='pos1234!';"
                 "document.getElementById('loginForm').requestSubmit();true");
    ASSERT_TRUE(e2e::wait_for([&] { return on_page(at, 2); }, 20s)) << e2e::read_text(at.bridge_log);
    ASSERT_TRUE(e2e::wait_for([&] { return value_of(at, "document.querySelectorAll('.card').length>0") == "true"; }, 10s));

    // The next order detail stays unanswered for the whole answer wait.
    ASSERT_NO_FATAL_FAILURE(add_fault(at, R"({"listener":"api","kind":"silent","cmd":111,"count":1})"));
    value_of(at, "window.__detail=null;var f=window.setOrderDetail;window.setOrderDetail=function(d){window.__detail=d;"
                 "return f.apply(this,arguments);};document.querySelector('.card').click();true");
    auto asked = Clock::now();

    // Meanwhile the window answers a trivial script at once, again and again.
    std::vector<long long> answers_ms;
    while (Clock::now() - asked < 6s) {
        auto sent = Clock::now();
        EXPECT_EQ(value_of(at, "1+1"), "2");
        answers_ms.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count());
        std::this_thread::sleep_for(100ms);
    }
    long long slowest = *std::max_element(answers_ms.begin(), answers_ms.end());
    std::cout << answers_ms.size() << " scripts answered while the call hung, slowest " << slowest << " ms\n";
    EXPECT_LT(slowest, 1000);
    EXPECT_EQ(value_of(at, "window.__detail===null"), "true") << "the detail answered before the call ended";

    // When the call gives up, the page gets its failure.
    ASSERT_TRUE(e2e::wait_for([&] { return value_of(at, "window.__detail!==null") == "true"; }, 15s));
    EXPECT_NE(value_of(at, "JSON.stringify(window.__detail)").find("내역을 받지 못했습니다"), std::string::npos)
        << value_of(at, "JSON.stringify(window.__detail)");
    EXPECT_EQ(e2e::read_text(at.bridge_log).find("BUG "), std::string::npos);
}

TEST(WindowKeepsAnswering, QuittingDuringASlowDownloadExitsCleanly)
{
    e2e::Installation at;
    ASSERT_NO_FATAL_FAILURE(e2e::set_up_installation(at, "lane-quit", e2e::ServedUi::Copy));
    // Every request to the web host waits a minute before its answer: the
    // update check's manifest and the service check are both in flight.
    ASSERT_NO_FATAL_FAILURE(add_fault(at, R"({"listener":"web","kind":"late","count":50,"delayMs":60000})"));
    std::unique_ptr<e2e::Child> program(e2e::start_program(at, {}));
    ASSERT_TRUE(e2e::wait_for([&] { return on_page(at, 1); }, 45s)) << e2e::read_text(at.pos_log);
    ASSERT_TRUE(e2e::wait_for(
        [&] {
            std::string requests = e2e::http(at.control, "GET", "/control/requests?after=0").body;
            return requests.find("/v2/pos/version.json") != std::string::npos;
        },
        15s));

    auto asked = Clock::now();
    value_of(at, "TW.send('quitapp');true");
    auto status = program->wait_for_exit(20s);
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked).count();
    std::cout << "closed " << took << " ms after quitapp\n";
    ASSERT_TRUE(status.has_value()) << "the program did not end by itself\n" << e2e::read_text(at.pos_log);
    EXPECT_EQ(*status, 0) << e2e::read_text(at.pos_log);
    EXPECT_EQ(e2e::read_text(at.home + "/TillBay/crash.txt"), "");
}

} // namespace

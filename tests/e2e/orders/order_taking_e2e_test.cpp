// Taking an order at the counter end to end: the real program under Xvfb
// against the reference platform. An order put together on the order-entry
// screen reaches the platform under its request key and appears on the
// board; an order whose answer was lost is sent again from the screen, also
// after the program was killed and started again, and the platform holds it
// once; a payment QR shows, is paid on the platform and the screen says so.

#include "e2e_fixture.h"

#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <string>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

class OrderTakingEndToEnd : public e2e::ProgramTest<OrderTakingEndToEnd> {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_NO_FATAL_FAILURE(e2e::set_up_installation(s_at, "orders", e2e::ServedUi::Copy));
        ASSERT_NO_FATAL_FAILURE(start_and_sign_in());
    }
    static void TearDownTestSuite()
    {
        delete s_program;
        s_program = nullptr;
        s_at.platform.stop();
    }

    static void start_and_sign_in()
    {
        auto start = [] { return e2e::start_program(s_at, {}); };
        ASSERT_NO_FATAL_FAILURE(start_to_sign_in(start));
        ASSERT_NO_FATAL_FAILURE(restart_if_updated(start));
        ASSERT_NO_FATAL_FAILURE(e2e::sign_in_counter(s_at, 30s));
        ASSERT_TRUE(e2e::wait_for([] { return value_of("document.getElementById('relayPill').classList.contains('on')") == "true"; }, 20s))
            << e2e::read_text(s_at.bridge_log);
    }

    static bool clicked(std::string const& selector)
    {
        return value_of("(function(){var n=document.querySelector('" + selector + "');if(!n||n.disabled)return false;n.click();return true;})()")
            == "true";
    }
    static bool shown(std::string const& selector)
    {
        return value_of("(function(){var n=document.querySelector('" + selector + "');return !!n&&n.offsetParent!==null;})()") == "true";
    }
    static std::string requests() { return e2e::http(s_at.control, "GET", "/control/requests?after=0").body; }
    static int count_of(std::string const& text, std::string const& what)
    {
        int n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
            ++n;
        return n;
    }
    // The request keys of the orders placed so far, in the order they were sent.
    static std::vector<std::string> order_keys()
    {
        std::vector<std::string> keys;
        std::string log = requests();
        for (size_t at = log.find("cmd=10&reqkey="); at != std::string::npos; at = log.find("cmd=10&reqkey=", at + 1)) {
            size_t start = at + 14;
            keys.push_back(log.substr(start, log.find('&', start) - start));
        }
        return keys;
    }
    static int cards() { return std::atoi(value_of("document.querySelectorAll('.card').length").c_str()); }

    // Opens the order-entry screen and puts one 김밥 for table 2 in the cart.
    static void fill_cart()
    {
        if (!shown("#takeOrder")) {
            ASSERT_TRUE(clicked("#takeOrderBtn"));
        }
        ASSERT_TRUE(e2e::wait_for([] { return clicked(".take-cat[data-cat=\"13\"]"); }, 15s)) << e2e::read_text(s_at.bridge_log);
        ASSERT_TRUE(e2e::wait_for([] { return clicked(".take-menu[data-menuidx=\"108\"]"); }, 15s));
        ASSERT_TRUE(clicked(".take-where button[data-where=\"2\"]"));
    }
};

TEST_F(OrderTakingEndToEnd, OrderFromTheScreenReachesThePlatformAndTheBoard)
{
    int before = cards();
    ASSERT_TRUE(clicked("#takeOrderBtn"));
    ASSERT_TRUE(e2e::wait_for([] { return clicked(".take-menu[data-menuidx=\"101\"]"); }, 15s)) << e2e::read_text(s_at.bridge_log);
    // 김치찌개 asks for its size before it goes into the cart.
    ASSERT_TRUE(e2e::wait_for([] { return shown(".take-sheet .take-group"); }, 5s));
    snapshot("take-01-options");
    ASSERT_TRUE(value_of("(function(){var b=[].slice.call(document.querySelectorAll('.take-group button')).filter(function(x){"
                         "return x.textContent.indexOf('곱빼기')===0;})[0];b.click();"
                         "[].slice.call(document.querySelectorAll('.take-sheet-actions .btn.primary'))[0].click();return true;})()")
        == "true");
    ASSERT_NO_FATAL_FAILURE(fill_cart());
    ASSERT_TRUE(clicked(".take-menu[data-menuidx=\"108\"]"));
    value_of("[].slice.call(document.querySelectorAll('.take-memos button'))[0].click();true");
    EXPECT_EQ(value_of("document.querySelector('.take-total b').textContent"), "\"19,000원\"");
    snapshot("take-02-cart");

    ASSERT_TRUE(clicked("#takePlaceBtn"));
    ASSERT_TRUE(e2e::wait_for([] { return value_of("document.querySelectorAll('.take-lines .take-line').length") == "0"; }, 15s))
        << e2e::read_text(s_at.bridge_log);
    auto keys = order_keys();
    ASSERT_EQ(keys.size(), 1u) << requests();
    EXPECT_GE(keys[0].size(), 16u);
    EXPECT_EQ(count_of(requests(), "cmd=10&reqkey=" + keys[0]), 1);
    EXPECT_NE(requests().find("orderjson={\\\"storeidx\\\":1"), std::string::npos) << requests();

    ASSERT_TRUE(clicked(".take-top .btn"));
    ASSERT_TRUE(e2e::wait_for([&] { return cards() == before + 1; }, 10s));
    std::string board = value_of("document.getElementById('orderList').textContent");
    EXPECT_NE(board.find("김밥"), std::string::npos) << board;
    EXPECT_NE(board.find("김치찌개"), std::string::npos) << board;
    snapshot("take-03-board");
}

TEST_F(OrderTakingEndToEnd, LostAnswerIsSentAgainAfterTheProgramWasKilled)
{
    auto answer = e2e::http(s_at.control, "POST", "/control/faults", R"({"listener":"api","cmd":10,"kind":"close"})");
    ASSERT_EQ(answer.status, 200) << answer.body;
    size_t sent_before = order_keys().size();
    int before = cards();
    ASSERT_NO_FATAL_FAILURE(fill_cart());
    ASSERT_TRUE(clicked("#takePlaceBtn"));
    ASSERT_TRUE(e2e::wait_for([] { return shown("#takePending .btn.primary"); }, 20s)) << e2e::read_text(s_at.bridge_log);
    snapshot("take-04-pending");
    auto keys = order_keys();
    ASSERT_EQ(keys.size(), sent_before + 1);
    std::string key = keys.back();

    // The program dies without a word; the journal on disk still holds the order.
    std::string exe = s_at.pos + "/tillbay";
    DIR* proc = ::opendir("/proc");
    ASSERT_NE(proc, nullptr);
    int killed = 0;
    while (dirent* entry = ::readdir(proc)) {
        int pid = std::atoi(entry->d_name);
        if (pid <= 0)
            continue;
        char target[4096] = {};
        std::string link = "/proc/" + std::string(entry->d_name) + "/exe";
        ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<size_t>(n)) == exe && ::kill(pid, SIGKILL) == 0)
            ++killed;
    }
    ::closedir(proc);
    ASSERT_EQ(killed, 1);
    delete s_program;
    s_program = nullptr;
    ASSERT_NO_FATAL_FAILURE(start_and_sign_in());

    // The restarted program tells the page; the screen offers to send it again.
    ASSERT_TRUE(e2e::wait_for([] { return value_of("document.getElementById('pendingOrder').classList.contains('hidden')") == "false"; }, 15s));
    ASSERT_TRUE(clicked("#takeOrderBtn"));
    ASSERT_TRUE(e2e::wait_for([] { return shown("#takePending .btn.primary"); }, 10s));
    ASSERT_TRUE(clicked("#takePending .btn.primary"));
    ASSERT_TRUE(e2e::wait_for([] { return !shown("#takePending"); }, 15s)) << e2e::read_text(s_at.bridge_log);
    EXPECT_EQ(count_of(requests(), "cmd=10&reqkey=" + key), 2) << "sent twice under one key";
    // The platform holds it once: one card more than before the lost answer.
    ASSERT_TRUE(clicked(".take-top .btn"));
    EXPECT_TRUE(e2e::wait_for([&] { return cards() == before + 1; }, 10s)) << cards() << " cards, " << before << " before";
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(cards(), before + 1);
    EXPECT_EQ(value_of("document.getElementById('pendingOrder').classList.contains('hidden')"), "true");
}

TEST_F(OrderTakingEndToEnd, PaymentQrIsShownAndPaid)
{
    ASSERT_NO_FATAL_FAILURE(fill_cart());
    ASSERT_TRUE(clicked("#takeQrBtn"));
    ASSERT_TRUE(e2e::wait_for([] { return shown("#payQrCode svg"); }, 15s)) << e2e::read_text(s_at.bridge_log);
    EXPECT_EQ(value_of("document.querySelector('#payQrSheet .amount').textContent"), "\"4,000원\"");
    EXPECT_NE(value_of("document.querySelector('#payQrSheet .valid').textContent").find("남았습니다"), std::string::npos);
    snapshot("take-05-payqr");
    std::string url = value_of("document.getElementById('payQrCode').getAttribute('data-url')");
    auto at = url.find("token=");
    ASSERT_NE(at, std::string::npos) << url;
    std::string token = url.substr(at + 6, url.size() - at - 7);

    ASSERT_TRUE(clicked("#payQrExtend"));
    ASSERT_TRUE(e2e::wait_for([] { return count_of(requests(), "&extend=1") >= 1; }, 10s));
    ASSERT_TRUE(clicked("#payQrSheet .switch"));
    ASSERT_TRUE(e2e::wait_for([] { return value_of("document.querySelector('#payQrSheet .switch').classList.contains('on')") == "true"; }, 10s));

    auto paid = e2e::http(s_at.control, "POST", "/control/payments", "{\"token\":\"" + token + "\"}");
    ASSERT_EQ(paid.status, 200) << paid.body;
    EXPECT_TRUE(e2e::wait_for([] { return shown("#payQrSheet .paid"); }, 10s));
    snapshot("take-06-paid");
    value_of("[].slice.call(document.querySelectorAll('#payQrSheet .btn.primary'))[0].click();true");
    ASSERT_TRUE(clicked(".take-top .btn"));
}

} // namespace

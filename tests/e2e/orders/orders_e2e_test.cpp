// The order board end to end: a customer order created on the platform
// reaches the counter through the push channel, the program reloads the
// board at once and the page shows the order; a payment moves an order out
// of the payment lane; the detail pane opens; a maintenance notice set on
// the platform reaches the page with the next service check (the program
// runs with a one-second check here).

#include "e2e_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// The highest "seq" in a /control/requests answer; 0 when there is none.
long long last_seq(std::string const& body)
{
    long long seq = 0;
    for (size_t at = body.find("\"seq\":"); at != std::string::npos; at = body.find("\"seq\":", at + 6))
        seq = std::max(seq, std::atoll(body.c_str() + at + 6));
    return seq;
}

class OrdersEndToEnd : public e2e::ProgramTest<OrdersEndToEnd> {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_NO_FATAL_FAILURE(e2e::set_up_installation(s_at, "orders", e2e::ServedUi::Copy));
        auto start_program = [] {
            // A service check every second instead of every minute.
            return e2e::start_program(s_at, {}, { "TILLBAY_SVCWATCH_MS=" + std::to_string(service_watch_ms) });
        };
        ASSERT_NO_FATAL_FAILURE(start_to_sign_in(start_program));
        ASSERT_NO_FATAL_FAILURE(restart_if_updated(start_program));
        ASSERT_NO_FATAL_FAILURE(e2e::sign_in_counter(s_at));
        // The push channel registers the store once the board is set up.
        ASSERT_TRUE(e2e::wait_for([] { return value_of("document.getElementById('relayPill').classList.contains('on')") == "true"; }, 15s))
            << e2e::read_text(s_at.bridge_log);
        ASSERT_TRUE(e2e::wait_for(
            [] { return e2e::json_field(e2e::http(s_at.control, "GET", "/control/relay?store=1").body, "subscribers") == "1"; }, 10s));
    }

    static void TearDownTestSuite()
    {
        delete s_program;
        s_program = nullptr;
        s_at.platform.stop();
    }

    static long long control_seq() { return last_seq(e2e::http(s_at.control, "GET", "/control/requests?after=0").body); }
    static long long create_order(std::string const& body)
    {
        auto answer = e2e::http(s_at.control, "POST", "/control/orders", body);
        EXPECT_EQ(answer.status, 200) << answer.body;
        return std::atoll(e2e::json_field(answer.body, "orderidx").c_str());
    }
    static std::string lane_of(long long orderidx)
    {
        return value_of("(function(){var c=document.querySelector('.card[data-orderidx=\"" + std::to_string(orderidx)
            + "\"]');return c?c.closest('.lane').getAttribute('data-lane'):'';})()");
    }

    static constexpr int service_watch_ms = 1000;
};

TEST_F(OrdersEndToEnd, NewCustomerOrderReachesTheBoardWithinASecond)
{
    long long before = control_seq();
    auto created_at = Clock::now();
    long long orderidx = create_order(
        R"({"store":1,"kind":"table","table":3,"pay":"paid","memo":"덜 맵게 {부탁}","lines":[{"mname":"김치찌개","qty":2,"price":9000},{"mname":"공기밥","qty":1,"price":1000}]})");
    ASSERT_GT(orderidx, 0);
    ASSERT_TRUE(e2e::wait_for([&] { return lane_of(orderidx) == "\"new\""; }, 5s)) << e2e::read_text(s_at.bridge_log);
    auto shown_after = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - created_at);
    EXPECT_LT(shown_after.count(), 1000) << "the order took " << shown_after.count() << " ms to appear";

    // The reload was a store call for the list, made after the order existed.
    std::string requests = e2e::http(s_at.control, "GET", "/control/requests?after=" + std::to_string(before)).body;
    EXPECT_NE(requests.find("cmd=110&storeidx=1"), std::string::npos) << requests;
    // The event was logged on arrival and the page was told which order it was.
    EXPECT_NE(e2e::read_text(s_at.bridge_log).find("RELAY 수신 NEWORDER #" + std::to_string(orderidx)), std::string::npos);
    // The board draws the announcement with its next frame.
    EXPECT_TRUE(e2e::wait_for(
        [&] {
            return value_of("document.querySelector('.card[data-orderidx=\"" + std::to_string(orderidx)
                       + "\"]').classList.contains('fresh')")
                == "true";
        },
        2s));
    EXPECT_NE(value_of("document.querySelector('.card[data-orderidx=\"" + std::to_string(orderidx) + "\"]').textContent")
                  .find("테이블 3"),
        std::string::npos);
    // Today's figures came with the first list.
    EXPECT_TRUE(e2e::wait_for([] { return value_of("document.getElementById('todayCount').textContent") != "\"-\""; }, 5s));
    snapshot("01-new-order");
}

TEST_F(OrdersEndToEnd, PaymentMovesAPrepaidOrderOutOfThePaymentLane)
{
    long long orderidx = create_order(
        R"({"store":1,"kind":"pickup","pay":"prepaid","lines":[{"mname":"불고기 덮밥","qty":1,"price":12000,"options":[{"optionname":"곱빼기","optionprice":2000}]}]})");
    ASSERT_TRUE(e2e::wait_for([&] { return lane_of(orderidx) == "\"payment\""; }, 5s)) << lane_of(orderidx);
    auto answer = e2e::http(s_at.control, "POST", "/control/payments", "{\"orderidx\":" + std::to_string(orderidx) + ",\"result\":\"paid\"}");
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_TRUE(e2e::wait_for([&] { return lane_of(orderidx) == "\"new\""; }, 5s)) << lane_of(orderidx);
    EXPECT_NE(e2e::read_text(s_at.bridge_log).find("RELAY 수신 PAYING #" + std::to_string(orderidx)), std::string::npos);

    // The detail pane shows the order's lines with their options.
    value_of("document.querySelector('.card[data-orderidx=\"" + std::to_string(orderidx) + "\"]').click();true");
    ASSERT_TRUE(e2e::wait_for([] { return value_of("!!document.querySelector('#orderDetail .detail-lines')") == "true"; }, 10s));
    std::string detail = value_of("document.getElementById('orderDetail').textContent");
    EXPECT_NE(detail.find("불고기 덮밥"), std::string::npos) << detail;
    EXPECT_NE(detail.find("곱빼기"), std::string::npos) << detail;
    snapshot("02-detail");
    value_of("document.querySelector('#orderDetail .btn').click();true");

    // The dark look, for the record.
    value_of("window.setTheme('dark');true");
    snapshot("03-board-dark");
    value_of("window.setTheme('light');true");
}

TEST_F(OrdersEndToEnd, MaintenanceNoticeReachesThePageWithTheNextServiceCheck)
{
    // Every setServiceBlock the page receives is recorded before the page's own handler runs.
    ASSERT_EQ(value_of("(function(){var f=window.setServiceBlock;window.__blocks=[];"
                       "window.setServiceBlock=function(){window.__blocks.push([].slice.call(arguments));"
                       "return f.apply(this,arguments);};return typeof f;})()"),
        "\"function\"");
    auto answer = e2e::http(s_at.control, "POST", "/control/service",
        R"({"merchant":1,"message":"","notice":"오늘 밤 2시부터 점주 화면 점검이 있습니다"})");
    ASSERT_EQ(answer.status, 200) << answer.body;
    auto set_at = Clock::now();
    // The next check comes within one watch period; a few periods allow for a slow machine.
    EXPECT_TRUE(e2e::wait_for(
        [] { return value_of("document.getElementById('serviceNoticeText').textContent").find("점검이 있습니다") != std::string::npos; },
        std::chrono::milliseconds(10 * service_watch_ms)))
        << e2e::read_text(s_at.bridge_log);
    std::cout << "maintenance notice shown after "
              << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - set_at).count() << " ms\n";
    // It came through setServiceBlock with the owner-screen flag, the default
    // message for an empty one, and the notice.
    EXPECT_EQ(value_of("JSON.stringify(window.__blocks[window.__blocks.length-1])"),
        "\"[1,0,0,\\\"서비스 점검중입니다\\\",\\\"오늘 밤 2시부터 점주 화면 점검이 있습니다\\\",0]\"");
    snapshot("04-maintenance");

    // Lifting the maintenance reaches the page the same way and hides the notice.
    answer = e2e::http(s_at.control, "POST", "/control/service", "{}");
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_TRUE(e2e::wait_for(
        [] { return value_of("document.getElementById('serviceNotice').classList.contains('hidden')") == "true"; },
        std::chrono::milliseconds(10 * service_watch_ms)));
    EXPECT_EQ(value_of("JSON.stringify(window.__blocks[window.__blocks.length-1].slice(0,3))"), "\"[0,0,0]\"");
}

} // namespace

namespace {

// Order numbers as a script array.
std::string ids_array(std::vector<long long> const& ids)
{
    std::string text = "[";
    for (size_t i = 0; i < ids.size(); ++i)
        text += (i ? "," : "") + std::to_string(ids[i]);
    return text + "]";
}

} // namespace

// A server text with a byte that is not UTF-8 (a memo or a menu name in a
// legacy code page) costs only that character: the order list still reaches
// the page, with U+FFFD in its place.
TEST_F(OrdersEndToEnd, AnInvalidByteInAServerTextCostsOnlyThatCharacter)
{
    auto answer = e2e::http(s_at.control, "POST", "/control/faults",
        R"({"listener":"api","kind":"badbyte","cmd":110,"count":5,"message":"@@BAD@@"})");
    ASSERT_EQ(answer.status, 200) << answer.body;
    long long orderidx = create_order(
        R"({"store":1,"kind":"table","table":5,"pay":"paid","memo":"덜 맵게@@BAD@@부탁","lines":[{"mname":"김치@@BAD@@찌개","qty":1,"price":9000}]})");
    ASSERT_GT(orderidx, 0);
    ASSERT_TRUE(e2e::wait_for([&] { return lane_of(orderidx) == "\"new\""; }, 8s)) << e2e::read_text(s_at.bridge_log);
    std::string card = value_of("document.querySelector('.card[data-orderidx=\"" + std::to_string(orderidx) + "\"]').textContent");
    EXPECT_NE(card.find("김치\xEF\xBF\xBD찌개"), std::string::npos) << card;
    EXPECT_NE(card.find("덜 맵게\xEF\xBF\xBD부탁"), std::string::npos) << card;
}

// A busy day: 600 customer orders make the order list several hundred
// kilobytes, far beyond the 64 KB an answer was once cut at. Every one of
// them reaches the board.
TEST_F(OrdersEndToEnd, ABusyDayOfSixHundredOrdersIsShownWhole)
{
    constexpr int count = 600;
    std::vector<long long> ids;
    auto started = Clock::now();
    for (int i = 0; i < count; ++i) {
        long long orderidx = create_order("{\"store\":1,\"kind\":\"table\",\"table\":" + std::to_string(1 + i % 12)
            + ",\"pay\":\"paid\",\"memo\":\"단체 주문 " + std::to_string(i)
            + "\",\"lines\":[{\"mname\":\"김치찌개\",\"qty\":2,\"price\":9000},{\"mname\":\"공기밥\",\"qty\":2,\"price\":1000}]}");
        ASSERT_GT(orderidx, 0) << "order " << i;
        ids.push_back(orderidx);
    }
    std::cout << count << " orders placed in "
              << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count() << " ms\n";
    std::string missing = "(function(ids){var s={};(TW.orders||[]).forEach(function(o){s[o.orderidx]=1;});"
                          "return ids.filter(function(i){return !s[i];}).length;})("
        + ids_array(ids) + ")";
    EXPECT_TRUE(e2e::wait_for([&] { return value_of(missing) == "0"; }, 180s))
        << value_of(missing) << " orders missing\n" << e2e::read_text(s_at.bridge_log).substr(0, 4000);
    // Every order has its card.
    std::string cards = "(function(ids){return ids.filter(function(i){return !document.querySelector("
                        "'.card[data-orderidx=\"'+i+'\"]');}).length;})("
        + ids_array(ids) + ")";
    EXPECT_EQ(value_of(cards), "0");
    // The list that reached the page was far beyond 64 KB (the log records
    // each list's size, while the run's log budget lasts).
    std::string log = e2e::read_text(s_at.bridge_log);
    long long largest = 0;
    for (size_t at = log.find("setOrderList(*** "); at != std::string::npos; at = log.find("setOrderList(*** ", at + 1))
        largest = std::max(largest, std::atoll(log.c_str() + at + 17));
    if (log.find("로그 상한") == std::string::npos) {
        EXPECT_GT(largest, 65535);
    }
    std::cout << "largest order list " << largest << " bytes\n";
    snapshot("05-busy-day");
}

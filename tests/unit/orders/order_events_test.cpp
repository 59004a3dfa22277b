#include "orders/order_events.h"
#include "recording_page.h"
#include "session/session.h"

#include <gtest/gtest.h>

using namespace tillbay;

namespace {

TEST(OrderEvents, EachEventReloadsTheBoardThenNamesItsOrder)
{
    session::reset();
    session::set_staff(7, 1, "가게", false);
    std::vector<std::string> sent;
    orders::BoardHooks hooks;
    hooks.store_call = [&](std::string_view command, api::StoreResult& result) {
        sent.emplace_back(command);
        result.error = "닿지 않음";
        return false;
    };
    hooks.now_ms = [] { return uint64_t { 1 }; };
    orders::OrderBoard board(hooks);
    shell::AppQueue queue([] { });
    orders::PushLink link(board, queue, [] { return orders::PushSettings {}; });
    struct Case {
        char const* event;
        char const* callback;
    } cases[] = { { "NEWORDER", "notifyNewOrder(41)" }, { "PAYING", "notifyPaying(41)" }, { "PAYFAIL", "notifyPayFail(41)" },
        { "CANCEL", nullptr } };
    for (auto const& c : cases) {
        test::RecordingPage page;
        sent.clear();
        link.deliver(push::OrderEvent { 7, 41, c.event }, page);
        EXPECT_EQ(sent, std::vector<std::string> { "cmd=110&storeidx=7" }) << c.event;
        EXPECT_EQ(page.said, c.callback ? std::vector<std::string> { c.callback } : std::vector<std::string> {}) << c.event;
    }
    session::reset();
}

TEST(OrderEvents, EmptyRelayHeaderIsReportedInsteadOfStarting)
{
    orders::OrderBoard board(orders::BoardHooks {});
    shell::AppQueue queue([] { });
    orders::PushLink link(board, queue, [] { return orders::PushSettings { "127.0.0.1", 2626, SecretString() }; });
    test::RecordingPage page;
    link.start_or_report(page);
    EXPECT_EQ(page.said, std::vector<std::string> { "status:주문 알림 연결 설정이 비어 있습니다 — 설치 담당자에게 알려 주세요" });
    EXPECT_FALSE(link.channel().running());
}

} // namespace

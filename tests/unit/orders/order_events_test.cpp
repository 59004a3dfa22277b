#include "orders/order_events.h"
#include "recording_page.h"
#include "session/session.h"
#include "tests/unit/bridge/bridge_fixture.h"

#include <gtest/gtest.h>

using namespace tillbay;

namespace {

// A bridge on a fake web view, without a lane: what the link queues on the
// lane runs at once.
struct BridgeOnFakeView {
    bridge::testing::FakePort port;
    bridge::PagePolicy policy = bridge::testing::make_policy();
    bridge::WebViewHost host { policy, port, bridge::WebViewHostConfig {} };
    bridge::Bridge& bridge() { return host.bridge(); }
};

TEST(OrderEvents, OneReloadThenEachNoticeNamesItsOrder)
{
    session::reset();
    session::set_staff(7, 1, "가게", false);
    std::vector<std::string> sent;
    orders::BoardHooks hooks;
    hooks.store_call = [&](std::string_view command) -> Result<api::StoreResult> {
        sent.emplace_back(command);
        return Error::with_message("닿지 않음");
    };
    hooks.now_ms = [] { return uint64_t { 1 }; };
    orders::OrderBoard board(hooks);
    BridgeOnFakeView view;
    orders::PushLink link(board, view.bridge(), [] { return orders::PushSettings {}; });
    test::RecordingPage page;
    link.answer({ { 7, 41, "NEWORDER" }, { 7, 42, "PAYING" }, { 7, 43, "PAYFAIL" }, { 7, 44, "CANCEL" }, { 7, 0, "" } },
        page);
    EXPECT_EQ(sent, std::vector<std::string> { "cmd=110&storeidx=7" });
    // The reload found no server: the board says so before the notices.
    EXPECT_EQ(page.said,
        (std::vector<std::string> { "setBoardOffline(0)", "notifyNewOrder(41)", "notifyPaying(42)", "notifyPayFail(43)" }));
    session::reset();
}

TEST(OrderEvents, EmptyRelayHeaderIsReportedInsteadOfStarting)
{
    orders::OrderBoard board(orders::BoardHooks {});
    BridgeOnFakeView view;
    orders::PushLink link(board, view.bridge(), [] { return orders::PushSettings { "127.0.0.1", 2626, SecretString() }; });
    test::RecordingPage page;
    link.start_or_report(page);
    EXPECT_EQ(page.said, std::vector<std::string> { "status:주문 알림 연결 설정이 비어 있습니다 — 설치 담당자에게 알려 주세요" });
    EXPECT_FALSE(link.channel().running());
}

} // namespace

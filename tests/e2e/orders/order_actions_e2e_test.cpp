// Working the orders end to end: the real program under Xvfb against the
// reference platform and tillbay-printer. Kitchen tickets print by
// themselves (once per order, on payment, "[추가 주문표]" for a table's second
// order); a cash payment from the board's detail pane sends the drawer pulse
// for the configured pin and a receipt; a cancel on a store that asks for a
// PIN goes through the PIN pad and prints the cancel ticket; a line cut from
// 3 to 1 prints the modified ticket.

#include "e2e_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

class OrderActionsEndToEnd : public e2e::ProgramTest<OrderActionsEndToEnd> {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_NO_FATAL_FAILURE(e2e::set_up_installation(s_at, "orders", e2e::ServedUi::Copy));
        s_jobs = s_at.root + "/jobs";
        int port = e2e::free_port();
        s_printer = e2e::Child::start({ s_at.build + "/tools/printer/tillbay-printer", "--port", std::to_string(port), "--jobs",
                                          s_jobs, "--idle-ms", "2000" },
            {}, s_at.root + "/printer.log");
        ASSERT_TRUE(e2e::wait_for([] { return e2e::read_text(s_at.root + "/printer.log").find("listening") != std::string::npos; }, 5s));
        // The receipt printer on loopback, the kitchen printing on it by itself
        // once an order is paid, the drawer on pin 5.
        std::string ini = e2e::read_text(s_at.pos + "/tillbay.ini");
        ini += "[PRINTER]\r\nconnection=tcp|127.0.0.1|" + std::to_string(port) + "\r\nwidth=58\r\n"
               "[KITCHEN]\r\nconnection=inherit\r\nauto=1\r\nwhen=1\r\n[DRAWER]\r\nenable=1\r\npin=5\r\n[LOCK]\r\nmode=0\r\n";
        e2e::write_text(s_at.pos + "/tillbay.ini", ini);

        ASSERT_NO_FATAL_FAILURE(start_to_sign_in([] { return e2e::start_program(s_at, {}); }));
        ASSERT_NO_FATAL_FAILURE(e2e::sign_in_counter(s_at));
        ASSERT_TRUE(e2e::wait_for(
            [] { return value_of("document.readyState==='complete'&&typeof window.cashDone==='function'&&!!document.getElementById('oaMulti')") == "true"; },
            10s));
        // The first list of a PC without a journal is taken as handled; wait for it.
        std::this_thread::sleep_for(2s);
        s_job = count_files();
    }

    static void TearDownTestSuite()
    {
        delete s_program;
        s_program = nullptr;
        s_printer.stop();
        s_at.platform.stop();
    }

    static std::string job_path(int n, char const* extension)
    {
        char name[32];
        std::snprintf(name, sizeof name, "/%04d.%s", n, extension);
        return s_jobs + name;
    }
    static bool job_arrived(int n)
    {
        struct stat st {};
        return ::stat(job_path(n, "txt").c_str(), &st) == 0;
    }
    static int count_files()
    {
        int n = 0;
        while (job_arrived(n + 1))
            ++n;
        return n;
    }
    // The next job's decoded text, once it has arrived.
    static std::string next_job()
    {
        if (!e2e::wait_for([] { return job_arrived(s_job + 1); }, 15s))
            return "(no job) " + e2e::read_text(s_at.bridge_log);
        ++s_job;
        std::this_thread::sleep_for(200ms);
        return e2e::read_text(job_path(s_job, "txt"));
    }
    static long long create_order(std::string const& body)
    {
        auto answer = e2e::http(s_at.control, "POST", "/control/orders", body);
        EXPECT_EQ(answer.status, 200) << answer.body;
        return std::atoll(e2e::json_field(answer.body, "orderidx").c_str());
    }
    static void click(std::string const& selector)
    {
        EXPECT_EQ(value_of("(function(){var n=document.querySelector('" + selector + "');if(!n)return false;n.click();return true;})()"),
            "true")
            << selector;
    }
    static bool present(std::string const& selector) { return value_of("!!document.querySelector('" + selector + "')") == "true"; }
    static void open_detail(long long orderidx)
    {
        std::string card = ".card[data-orderidx=\"" + std::to_string(orderidx) + "\"]";
        ASSERT_TRUE(e2e::wait_for([&] { return present(card); }, 15s));
        click(card);
        ASSERT_TRUE(e2e::wait_for([] { return present("#oaBar") && value_of("document.body.classList.contains('oa-busy')") == "false"; }, 15s))
            << text_of("document.getElementById('orderDetail').className+' | '+document.getElementById('orderDetail').innerText.slice(0,300)")
            << "\n" << text_of("document.body.className") << "\n" << e2e::read_text(s_at.bridge_log).substr(0, 3000);
    }

    static inline e2e::Child s_printer;
    static inline std::string s_jobs;
    static inline int s_job = 0;
};

TEST_F(OrderActionsEndToEnd, KitchenTicketsPrintOncePerOrderOnPaymentAndNameTheSecondOrderOfATable)
{
    long long paid = create_order(R"({"store":1,"kind":"table","table":7,"pay":"paid","memo":"덜 맵게 해 주세요",)"
                                  R"("lines":[{"mname":"김치찌개","qty":2,"price":9000,"options":[{"optionname":"곱빼기","optionprice":1000}],"comment":"국물 많이"},)"
                                  R"({"mname":"공기밥","qty":1,"price":1000}]})");
    ASSERT_GT(paid, 0);
    std::string ticket = next_job();
    EXPECT_NE(ticket.find("[주문표]"), std::string::npos) << ticket;
    EXPECT_NE(ticket.find("테이블 7"), std::string::npos) << ticket;
    EXPECT_NE(ticket.find("김치찌개"), std::string::npos) << ticket;
    EXPECT_NE(ticket.find("곱빼기"), std::string::npos) << ticket;
    EXPECT_NE(ticket.find("\"국물 많이\""), std::string::npos) << ticket;
    EXPECT_NE(ticket.find("요청: 덜 맵게 해 주세요"), std::string::npos) << ticket;

    // An unpaid order prints once its payment arrives; the table's second order is an additional one.
    long long unpaid = create_order(R"({"store":1,"kind":"table","table":7,"pay":"unpaid","lines":[{"mname":"계란말이","qty":1,"price":7000}]})");
    ASSERT_GT(unpaid, 0);
    std::this_thread::sleep_for(3s);
    EXPECT_FALSE(job_arrived(s_job + 1)) << e2e::read_text(job_path(s_job + 1, "txt"));
    auto settled = e2e::http(s_at.control, "POST", "/control/payments", "{\"orderidx\":" + std::to_string(unpaid) + ",\"result\":\"paid\"}");
    ASSERT_EQ(settled.status, 200) << settled.body;
    std::string second = next_job();
    EXPECT_NE(second.find("[추가 주문표]"), std::string::npos) << second;
    EXPECT_NE(second.find("계란말이"), std::string::npos) << second;
    // Further lists print nothing more.
    value_of("TW.send('refreshorders');true");
    std::this_thread::sleep_for(3s);
    EXPECT_FALSE(job_arrived(s_job + 1)) << e2e::read_text(job_path(s_job + 1, "txt"));
    // The reprint log shows in the detail.
    open_detail(paid);
    EXPECT_TRUE(e2e::wait_for([] { return text_of("document.getElementById('oaTicketLog').textContent").find("주방 출력 1회") != std::string::npos; }, 10s))
        << text_of("document.getElementById('oaTicketLog').textContent");
    snapshot("20-detail-actions");
    click("#orderDetail .detail-head .btn");

    // The lock settings answer with the store's cancel rule; staff may look, not change.
    value_of("openPosSettings('lock');true");
    EXPECT_TRUE(e2e::wait_for([] { return text_of("document.getElementById('lockPolicyState').textContent").find("직원은 PIN") != std::string::npos; }, 10s))
        << text_of("document.getElementById('lockPolicyState').textContent");
    EXPECT_EQ(value_of("document.getElementById('lockPinSave').disabled"), "true");
    snapshot("25-lock-settings");
    value_of("TW.settings.close();true");
}

TEST_F(OrderActionsEndToEnd, CashPaymentFromTheBoardOpensTheDrawerAndPrintsTheReceipt)
{
    long long orderidx = create_order(R"({"store":1,"kind":"table","table":3,"pay":"unpaid","lines":[{"mname":"비빔밥","qty":2,"price":9500}]})");
    ASSERT_GT(orderidx, 0);
    open_detail(orderidx);
    click("#oaCash");
    ASSERT_TRUE(e2e::wait_for([] { return present("#oaTel"); }, 5s));
    value_of("document.getElementById('oaTel').value='010-2345-6789';true");
    snapshot("21-cash-dialog");
    click("#oaOk");
    // The drawer pulse for pin 5, then the receipt.
    std::string drawer = next_job();
    EXPECT_NE(drawer.find("drawer pulse pin 5"), std::string::npos) << drawer;
    std::string receipt = next_job();
    if (receipt.find("[주문표]") != std::string::npos) // the kitchen ticket of the now paid order may come first
        receipt = next_job();
    EXPECT_NE(receipt.find("비빔밥"), std::string::npos) << receipt;
    EXPECT_NE(receipt.find("19,000"), std::string::npos) << receipt;
    // The status line says what happened (the print results follow it there; the log keeps them all).
    EXPECT_TRUE(e2e::wait_for([] { return e2e::read_text(s_at.bridge_log).find("현금결제 완료 — 서랍을 열고 영수증을 보냈습니다") != std::string::npos; }, 10s));
    auto order = e2e::http(s_at.control, "GET", "/control/orders/" + std::to_string(orderidx));
    EXPECT_EQ(e2e::json_field(order.body, "paystatus"), "1");
    EXPECT_EQ(e2e::json_field(order.body, "tel"), "\"01023456789\"");
    snapshot("22-after-cash");
    // Whatever printed last for this order, let the kitchen ticket of the payment pass.
    std::this_thread::sleep_for(2s);
    s_job = count_files();
}

TEST_F(OrderActionsEndToEnd, AnUnpaidOrderOnTheBoardGetsItsPaymentQr)
{
    long long orderidx = create_order(R"({"store":1,"kind":"table","table":4,"pay":"unpaid","memo":"문 앞에\u0007두세요",)"
                                      R"("lines":[{"mname":"김밥","qty":1,"price":4000}]})");
    ASSERT_GT(orderidx, 0);
    std::string idx = std::to_string(orderidx);
    // A control character typed on a phone shows as a space, not as a box.
    std::string memo = "document.querySelector('.card[data-orderidx=\"" + idx + "\"] .memo')";
    ASSERT_TRUE(e2e::wait_for([&] { return value_of("!!" + memo) == "true"; }, 15s));
    EXPECT_EQ(text_of(memo + ".textContent"), "문 앞에 두세요");

    open_detail(orderidx);
    click("#oaPayQr");
    ASSERT_TRUE(e2e::wait_for(
        [] { return value_of("!document.getElementById('payQrSheet').classList.contains('hidden')&&!!document.querySelector('#payQrCode svg')") == "true"; },
        15s))
        << e2e::read_text(s_at.bridge_log);
    EXPECT_EQ(text_of("document.querySelector('#payQrSheet .amount').textContent"), "4,000원");
    std::string requests = e2e::http(s_at.control, "GET", "/control/requests?after=0").body;
    EXPECT_NE(requests.find("cmd=131&storeidx=1&orderidx=" + idx), std::string::npos) << requests.substr(0, 2000);
    snapshot("26-board-payqr");
    value_of("[].slice.call(document.querySelectorAll('#payQrSheet .btn.primary'))[0].click();true");
    click("#orderDetail .detail-head .btn");
}

TEST_F(OrderActionsEndToEnd, CancelOnAPinStoreGoesThroughThePinPadAndPrintsTheCancelTicket)
{
    long long orderidx = create_order(R"({"store":1,"kind":"table","table":9,"pay":"paid","lines":[{"mname":"제육볶음","qty":3,"price":11000}]})");
    ASSERT_GT(orderidx, 0);
    std::string ticket = next_job();
    ASSERT_NE(ticket.find("제육볶음"), std::string::npos) << ticket;

    // 3 → 1 prints the modified ticket with the 2 taken off.
    open_detail(orderidx);
    ASSERT_TRUE(e2e::wait_for([] { return present("#orderDetail .oa-line"); }, 5s));
    click("#orderDetail .oa-line");
    ASSERT_TRUE(e2e::wait_for([] { return present("#oaQty"); }, 5s));
    value_of("document.getElementById('oaQty').value='1';true");
    click("#oaOk");
    std::string modified = next_job();
    EXPECT_NE(modified.find("[수정 주문표]"), std::string::npos) << modified;
    EXPECT_NE(modified.find("제육볶음"), std::string::npos) << modified;
    EXPECT_NE(modified.find("총주문: 2"), std::string::npos) << modified;

    // The demo store lets staff cancel with the PIN only.
    ASSERT_TRUE(e2e::wait_for([] { return present("#oaCancelOrder") && value_of("document.body.classList.contains('oa-busy')") == "false"; }, 15s));
    click("#oaCancelOrder");
    ASSERT_TRUE(e2e::wait_for([] { return present("#oaOk"); }, 5s));
    click("#oaOk");
    ASSERT_TRUE(e2e::wait_for([] { return present("#oaPin"); }, 15s)) << e2e::read_text(s_at.bridge_log);
    auto before = e2e::http(s_at.control, "GET", "/control/orders/" + std::to_string(orderidx));
    EXPECT_NE(e2e::json_field(before.body, "status"), "4");
    value_of("document.getElementById('oaPin').value='1234';true");
    snapshot("23-pin-pad");
    value_of("document.querySelectorAll('.oa-key')[11].click();true");
    std::string cancel = next_job();
    if (cancel.find("취소 영수증") != std::string::npos || cancel.find("[취소 주문표]") == std::string::npos)
        cancel += next_job();
    EXPECT_NE(cancel.find("[취소 주문표]"), std::string::npos) << cancel;
    auto after = e2e::http(s_at.control, "GET", "/control/orders/" + std::to_string(orderidx));
    EXPECT_EQ(e2e::json_field(after.body, "status"), "4");
    EXPECT_TRUE(e2e::wait_for([] { return e2e::read_text(s_at.bridge_log).find("주문을 취소했습니다") != std::string::npos; }, 10s));
    snapshot("24-after-cancel");
}

} // namespace

#include "orders/order_actions.h"
#include "recording_page.h"
#include "session/session.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>

using namespace tillbay;
using test::RecordingPage;

namespace {

// Each command number answers from its own queue; an empty queue accepts
// with an empty object.
struct Server {
    struct Answer {
        bool reached = true;
        std::string code = "0";
        std::string data = "{}";
        std::string message;
    };
    std::map<std::string, std::deque<Answer>> answers;
    std::vector<std::string> sent;

    void answer(std::string const& cmd, Answer a) { answers[cmd].push_back(std::move(a)); }

    std::function<Result<api::StoreResult>(std::string_view)> call()
    {
        return [this](std::string_view command) -> Result<api::StoreResult> {
            sent.emplace_back(command);
            auto& queue = answers[std::string(command.substr(0, command.find('&')))];
            Answer a;
            if (!queue.empty()) {
                a = queue.front();
                queue.pop_front();
            }
            if (!a.reached)
                return Error::with_message("");
            api::StoreResult r;
            r.resultCode = a.code;
            r.resultData = a.data;
            r.message = a.message;
            return r;
        };
    }
    std::vector<std::string> sent_of(std::string const& cmd) const
    {
        std::vector<std::string> out;
        for (auto const& s : sent)
            if (s.starts_with(cmd + "&"))
                out.push_back(s);
        return out;
    }
};

// Records what the actions asked to print.
struct Printer final : orders::ActionPrinter {
    std::vector<std::string> did;
    orders::DrawerResult drawer { orders::DrawerOutcome::Opened, {} };
    std::map<int, long long> paid; // orders whose receipt can be fetched

    struct Combined final : Receipt {
        Printer& p;
        std::string added;
        explicit Combined(Printer& printer)
            : p(printer)
        {
        }
        std::optional<long long> add(int orderidx) override
        {
            auto it = p.paid.find(orderidx);
            if (it == p.paid.end())
                return std::nullopt;
            added += (added.empty() ? "" : ",") + std::to_string(orderidx);
            return it->second;
        }
        bool print(bridge::Page&) override
        {
            p.did.push_back("receipt " + added);
            return true;
        }
    };
    struct Cancel final : CancelPrints {
        Printer& p;
        int orderidx;
        Cancel(Printer& printer, int idx)
            : p(printer)
            , orderidx(idx)
        {
        }
        void print(bridge::Page&) override { p.did.push_back("cancel prints " + std::to_string(orderidx)); }
    };
    struct Edit final : EditPrint {
        Printer& p;
        explicit Edit(Printer& printer)
            : p(printer)
        {
        }
        void print(int line, std::string_view name, int removed, bridge::Page&) override
        {
            p.did.push_back("modified " + std::to_string(line) + " " + std::string(name) + " x" + std::to_string(removed));
        }
    };

    std::unique_ptr<Receipt> receipt(ReceiptKind kind) override
    {
        did.push_back(kind == ReceiptKind::Sale ? "sale receipt" : "terminal receipt");
        return std::make_unique<Combined>(*this);
    }
    std::unique_ptr<CancelPrints> prepare_cancel(int orderidx, bool no_ticket) override
    {
        did.push_back("prepare cancel " + std::to_string(orderidx) + (no_ticket ? " no-ticket" : ""));
        return std::make_unique<Cancel>(*this, orderidx);
    }
    std::unique_ptr<EditPrint> prepare_edit(int orderidx) override
    {
        did.push_back("prepare edit " + std::to_string(orderidx));
        return std::make_unique<Edit>(*this);
    }
    orders::DrawerResult open_drawer() override
    {
        did.push_back("drawer");
        return drawer;
    }
};

class OrderActionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        session::reset();
        session::set_staff(7, 1001, "틸베이 한식당", false);
        server.answer("cmd=110", { .data = R"({"orders":[]})" });
    }
    void TearDown() override { session::reset(); }

    void run(std::vector<std::string> fields)
    {
        family.handle(bridge::Command { std::move(fields) }, page);
    }
    bool said(std::string const& line) const
    {
        return std::find(page.said.begin(), page.said.end(), line) != page.said.end();
    }

    Server server;
    Printer printer;
    bool lock_allows = true;
    std::vector<std::string> lock_asked;
    orders::OrderBoard board { orders::BoardHooks {
        .store_call = server.call(), .now_ms = [] { return uint64_t { 0 }; }, .kitchen_printing = {} } };
    orders::OrderActions actions { board,
        orders::ActionHooks {
            .store_call = server.call(),
            .need_lock =
                [this](std::string_view action, std::string_view detail, bridge::Page&) {
                    lock_asked.push_back(std::string(action) + ":" + std::string(detail));
                    return lock_allows;
                },
            .printer = &printer,
        } };
    orders::OrderActionFamily family { actions };
    RecordingPage page;
};

TEST(OrderArguments, ListsTelephonesAndPins)
{
    EXPECT_EQ(orders::order_list("41,0,-3,x,42,,43", 20), (std::vector<int> { 41, 42, 43 }));
    EXPECT_EQ(orders::order_list("1,2,3,4", 3).size(), 3u);
    EXPECT_EQ(orders::telephone_digits("010-1234-5678"), "01012345678");
    EXPECT_EQ(orders::telephone_digits(""), "01000000000");
    EXPECT_EQ(orders::telephone_digits("없음"), "01000000000");
    EXPECT_EQ(orders::telephone_digits(std::string(30, '9')), std::string(20, '9'));
    EXPECT_EQ(orders::usable_pin("4821"), "4821");
    EXPECT_EQ(orders::usable_pin("1234567890123"), "");
    EXPECT_EQ(orders::usable_pin("48a1"), "");
}

TEST_F(OrderActionsTest, CashPaymentSaysWhatHappenedAtTheCounter)
{
    struct Case {
        orders::DrawerOutcome drawer;
        bool receipt_fetched;
        char const* status;
        bool receipt_printed;
    } const cases[] = {
        { orders::DrawerOutcome::Opened, true, "status:현금결제 완료 — 서랍을 열고 영수증을 보냈습니다", true },
        { orders::DrawerOutcome::Opened, false, "status:현금결제 완료 — 서랍을 열었습니다 (영수증은 뽑지 못했습니다)", false },
        { orders::DrawerOutcome::NoPrinter, true, "status:현금결제 완료 — 프린터 없음 설정이라 서랍과 영수증은 없습니다", false },
        { orders::DrawerOutcome::Off, true, "status:현금결제 완료 — 영수증을 보냈습니다 (현금서랍은 꺼져 있습니다)", true },
        { orders::DrawerOutcome::Failed, true, "status:결제는 됐습니다. 현금서랍만 안 열렸습니다 — 연결 끊김", false },
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.status);
        page.said.clear();
        printer.did.clear();
        printer.drawer = { c.drawer, "연결 끊김" };
        printer.paid.clear();
        if (c.receipt_fetched)
            printer.paid[41] = 12000;
        run({ "cashpay", "41", "010-1234-5678" });
        EXPECT_TRUE(said("cashDone(1)"));
        EXPECT_TRUE(said(c.status));
        bool printed = std::find(printer.did.begin(), printer.did.end(), "receipt 41") != printer.did.end();
        EXPECT_EQ(printed, c.receipt_printed);
    }
    EXPECT_EQ(server.sent_of("cmd=124").front(), "cmd=124&orderidx=41&tel=01012345678");

    page.said.clear();
    server.answer("cmd=124", { .code = "3", .message = "이미 결제된 주문입니다" });
    run({ "cashpay", "41", "" });
    EXPECT_EQ(server.sent_of("cmd=124").back(), "cmd=124&orderidx=41&tel=01000000000");
    EXPECT_TRUE(said("cashDone(0)"));
    EXPECT_TRUE(said("status:이미 결제된 주문입니다"));

    page.said.clear();
    run({ "cashpay", "41" });
    EXPECT_EQ(page.said, (std::vector<std::string> { "cashDone(0)" }));
}

TEST_F(OrderActionsTest, CashForSeveralOrdersMergesThemAndPrintsOneReceipt)
{
    printer.paid[41] = 33000;
    run({ "cashpayall", "41,42,43", "" });
    EXPECT_EQ(server.sent_of("cmd=138"), (std::vector<std::string> { "cmd=138&storeidx=7&target=41&sources=42,43" }));
    EXPECT_EQ(server.sent_of("cmd=124"), (std::vector<std::string> { "cmd=124&orderidx=41&tel=01000000000" }));
    EXPECT_TRUE(said("status:주문 3건을 하나로 합쳤습니다"));
    EXPECT_TRUE(said("status:현금결제 완료 — 1건 33,000원"));
    EXPECT_TRUE(said("cashAllDone(1,1,33000)"));
    EXPECT_EQ(std::count(printer.did.begin(), printer.did.end(), "receipt 41"), 1);

    // Not merged: each is paid on its own; a refusal is named, the rest still paid.
    page.said.clear();
    printer.did.clear();
    printer.paid = { { 41, 10000 }, { 43, 5000 } };
    server.answer("cmd=138", { .code = "5", .message = "합칠 수 없는 주문입니다" });
    server.answer("cmd=124", {});
    server.answer("cmd=124", { .code = "3", .message = "이미 결제된 주문입니다" });
    server.answer("cmd=124", {});
    printer.drawer = { orders::DrawerOutcome::Failed, "시간 초과" };
    run({ "cashpayall", "41,42,43", "" });
    EXPECT_TRUE(said("status:합치지 못해 하나씩 받습니다 — 합칠 수 없는 주문입니다"));
    EXPECT_TRUE(said("status:현금결제 완료 — 2건 15,000원 (안 된 주문: 42 이미 결제된 주문입니다) · 현금서랍만 안 열렸습니다 — 시간 초과"));
    EXPECT_TRUE(said("cashAllDone(1,2,15000)"));
    EXPECT_EQ(std::count(printer.did.begin(), printer.did.end(), "receipt 41,43"), 1);
}

TEST_F(OrderActionsTest, CancelAsksForThePinWhenTheServerWantsOne)
{
    server.answer("cmd=117", { .code = "6202", .message = "직원 PIN 이 있어야 취소할 수 있습니다" });
    run({ "cancelorder", "41", "", "" });
    EXPECT_TRUE(said(R"(needLock('cancel',1,"41"))"));
    EXPECT_FALSE(said("cancelDone(41,6202)"));
    EXPECT_FALSE(said("status:직원 PIN 이 있어야 취소할 수 있습니다"));

    struct Case {
        char const* pin;
        char const* request;
    } const cases[] = {
        { "4821", "cmd=117&storeidx=7&orderidx=41&pin=4821" },
        { "1234567890123", "cmd=117&storeidx=7&orderidx=41" },
        { "48a1", "cmd=117&storeidx=7&orderidx=41" },
    };
    for (auto const& c : cases) {
        page.said.clear();
        printer.did.clear();
        run({ "cancelorder", "41", c.pin, "" });
        EXPECT_EQ(server.sent_of("cmd=117").back(), c.request);
        EXPECT_TRUE(said("cancelDone(41,0)"));
        EXPECT_TRUE(said("status:주문을 취소했습니다"));
        EXPECT_EQ(printer.did, (std::vector<std::string> { "prepare cancel 41", "cancel prints 41" }));
    }
    // A refusal prints nothing and reports the server's code.
    page.said.clear();
    printer.did.clear();
    server.answer("cmd=117", { .code = "7", .message = "PIN 이 맞지 않습니다" });
    run({ "cancelorder", "41", "0000", "1" });
    EXPECT_TRUE(said("cancelDone(41,7)"));
    EXPECT_EQ(printer.did, (std::vector<std::string> { "prepare cancel 41 no-ticket" }));
}

TEST_F(OrderActionsTest, CancelAllInterruptedByThePinHandsBackOnlyTheOrdersStillOpen)
{
    server.answer("cmd=117", {});
    server.answer("cmd=117", { .code = "6202" });
    run({ "cancelall", "41,42,43", "" });
    EXPECT_TRUE(said(R"(needLock('cancelall',1,"42,43"))"));
    EXPECT_TRUE(said("status:주문 1건을 취소했습니다"));
    EXPECT_EQ(server.sent_of("cmd=117").size(), 2u);
}

TEST_F(OrderActionsTest, TerminalClosingSendsTheCancelCommandWithoutPinOrTicket)
{
    printer.paid = { { 41, 12000 }, { 42, 8000 } };
    run({ "extpay", "41,42", "", "1" });
    EXPECT_EQ(server.sent_of("cmd=117"),
        (std::vector<std::string> { "cmd=117&storeidx=7&orderidx=41", "cmd=117&storeidx=7&orderidx=42" }));
    EXPECT_TRUE(said("status:단말기 결제로 마감했습니다 — 2건 · 20000원 (POS 매출에는 안 잡힙니다)"));
    EXPECT_TRUE(said(R"(extPayDone(2,"41,42",0))"));
    EXPECT_EQ(printer.did, (std::vector<std::string> { "terminal receipt", "receipt 41,42" }));

    page.said.clear();
    run({ "extpay", "" });
    EXPECT_EQ(page.said, (std::vector<std::string> { "extPayDone(0,'',0)" }));
}

TEST_F(OrderActionsTest, SeveralOrdersAtOnceCountTheirOutcomes)
{
    server.answer("cmd=115", {});
    server.answer("cmd=115", { .code = "4", .message = "이미 조리 중입니다" });
    server.answer("cmd=115", {});
    run({ "cookstartall", "41,42,43" });
    EXPECT_TRUE(said("status:2건 조리 시작 · 1건 실패 — 이미 조리 중입니다"));

    page.said.clear();
    run({ "mergetables", "0", "41,42" });
    EXPECT_EQ(page.said, (std::vector<std::string> { "status:옮길 주문이 없습니다", "mergeTablesDone(0)" }));

    page.said.clear();
    server.answer("cmd=113", { .code = "2" });
    server.answer("cmd=113", {});
    run({ "mergetables", "5", "41,42" });
    EXPECT_TRUE(said("status:주문 1건을 5번 자리로 옮겼습니다 (1건은 못 옮김 — 취소·합쳐진 주문이거나 옛 서버)"));
    EXPECT_EQ(page.said.back(), "mergeTablesDone(42)");
}

TEST_F(OrderActionsTest, EditingALineGoesThroughTheLockAndPrintsTheRemovedQuantity)
{
    lock_allows = false;
    run({ "editordermenu", "41", "7", "1" });
    EXPECT_EQ(lock_asked, (std::vector<std::string> { "editmenu:41,7,1" }));
    EXPECT_TRUE(server.sent_of("cmd=141").empty());

    lock_allows = true;
    server.answer("cmd=141", { .data = R"({"mname":"자장면","oldqty":3,"newqty":1,"ordercancelled":"N"})" });
    run({ "editordermenu", "41", "7", "1" });
    EXPECT_EQ(server.sent_of("cmd=141").back(), "cmd=141&orderidx=41&ordermenuidx=7&newqty=1");
    EXPECT_EQ(printer.did, (std::vector<std::string> { "prepare edit 41", "modified 7 자장면 x2" }));
    EXPECT_TRUE(said("status:자장면 3개 → 1개로 고쳤습니다"));

    lock_asked.clear();
    run({ "opendrawer" });
    EXPECT_EQ(lock_asked, (std::vector<std::string> { "drawer:" }));
    EXPECT_TRUE(said("status:현금서랍을 열었습니다"));
}

} // namespace

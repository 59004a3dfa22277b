#include "printing/kitchen_journal.h"
#include "printing/kitchen_printing.h"
#include "printing/kitchen_ticket.h"
#include "session/session.h"
#include "tools/printer/escpos_decoder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

using namespace tillbay;
using namespace tillbay::printing;

namespace {

// The paper as the virtual printer reads it, without the command tags.
std::string paper(std::string const& bytes)
{
    std::string text = printer::render_text(printer::decode(bytes));
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '[') {
            size_t end = text.find(']', i);
            // Command tags are ASCII; a bracketed Korean title is printed text.
            bool tag = end != std::string::npos
                && std::all_of(text.begin() + i, text.begin() + end, [](char c) { return (c & 0x80) == 0; });
            if (tag) {
                i = end;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

class Page final : public bridge::Page {
public:
    void callback(std::string_view name, std::string_view args) override
    {
        said.push_back(std::string(name) + "(" + std::string(args) + ")");
    }
    void status(std::string_view message) override { said.push_back("status:" + std::string(message)); }
    std::vector<std::string> said;
};

std::string local_hhmm(std::time_t when)
{
    std::tm tm {};
    localtime_r(&when, &tm);
    char text[8];
    std::strftime(text, sizeof text, "%H:%M", &tm);
    return text;
}

PrinterRecord narrow_printer()
{
    PrinterRecord r;
    r.connection = "tcp|127.0.0.1|9100";
    r.width = 58;
    r.biggap = 0;
    return r;
}

TEST(KitchenTicket, RecordFromTheOrderDetail)
{
    auto record = ticket_from_json(R"({"ordernum":"A-12","idate":"2026-05-01 12:30:00","tablenum":5,"paystatus":0,)"
                                   R"("requestmemo":"덜 맵게","menus":[)"
                                   R"({"mname":"자장면","qty":2,"ordermenuidx":7,"comment":"","options":[)"
                                   R"({"optionname":"기본","optionprice":0},{"optionname":"곱빼기","optionprice":1000},)"
                                   R"({"optionname":"없음","optionprice":500}]},)"
                                   R"({"mname":"","qty":1},{"mname":"탕수육","qty":1,"comment":"소스 따로"}]})",
        41);
    EXPECT_EQ(record.ordernum, "A-12");
    EXPECT_EQ(record.tablenum, 5);
    EXPECT_TRUE(record.unpaid);
    ASSERT_EQ(record.lines.size(), 2u);
    // A free default choice is left out; an option with a price always stays.
    EXPECT_EQ(record.lines[0].options, (std::vector<std::string> { "곱빼기", "없음" }));
    EXPECT_EQ(record.lines[0].ordermenuidx, 7);
    EXPECT_EQ(record.lines[1].comment, "소스 따로");
    EXPECT_FALSE(ticket_from_json(R"({"menus":[]})", 1).unpaid); // absent paystatus counts as paid
}

TEST(KitchenTicket, LayoutsOfTheKinds)
{
    struct Case {
        TicketKind kind;
        int table;
        std::time_t pickup;
        bool unpaid;
        std::vector<std::string> shown;
        std::vector<std::string> absent;
    } const cases[] = {
        { TicketKind::Order, 4, 0, false, { "[주문표]", "테이블 4", "주문번호: 0367", "총주문: 4", "자장면", "  곱빼기", "  \"소스 따로\"", "요청: 덜 맵게, 단무지 많이" },
            { "(재출력)", "미결제" } },
        { TicketKind::Additional, 4, 0, true, { "[추가 주문표]", "※ 미결제 (아직 돈을 받지 않은 주문)" }, {} },
        { TicketKind::Reprint, 0, 0, false, { "[주문표]", "(재출력)", "포장", "재출력 " }, { "테이블" } },
        { TicketKind::Cancel, 0, 1'700'000'000, false, { "[취소 주문표]", "포장 예약", "픽업 ", "취소 " }, {} },
        { TicketKind::Modified, 2, 0, false, { "[수정 주문표]", "테이블 2" }, { "재출력" } },
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(std::string(ticket_title(c.kind)));
        TicketRecord record = sample_ticket();
        record.kind = c.kind;
        record.tablenum = c.table;
        record.pickup = c.pickup;
        record.unpaid = c.unpaid;
        auto document = build_ticket(narrow_printer(), KitchenStyle {}, record, 1'700'000'000);
        ASSERT_TRUE(document.ok());
        std::string text = paper(document.value().bytes);
        for (auto const& line : c.shown)
            EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
        for (auto const& line : c.absent)
            EXPECT_EQ(text.find(line), std::string::npos) << line << "\n" << text;
    }
}

TEST(KitchenTicket, LongNamesWrapAndKeepTheQuantityAtTheRightEdge)
{
    TicketRecord record;
    record.orderidx = 9;
    record.lines.push_back({ "아주아주아주 긴 이름의 특선 세트 메뉴 곱빼기 포함", {}, "", 12, 0, 0 });
    auto document = build_ticket(narrow_printer(), KitchenStyle {}, record, 0);
    ASSERT_TRUE(document.ok());
    std::string text = paper(document.value().bytes);
    // Every line of the 32-column paper fits, and the quantity ends one of them.
    size_t at = 0;
    bool quantity_at_edge = false;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end - at);
        EXPECT_LE(printer::display_width(line), 32u) << line;
        if (line.size() > 2 && line.ends_with(" 12") && printer::display_width(line) == 32)
            quantity_at_edge = true;
        at = end == std::string::npos ? text.size() : end + 1;
    }
    EXPECT_TRUE(quantity_at_edge) << text;
}

// The platform and the printer as a script: every order has a detail with
// one line; the printer accepts or refuses as told, and every job is kept.
struct Kitchen {
    struct Job {
        long long tag;
        std::string text;
    };
    std::vector<Job> jobs;
    bool printer_refuses = false;
    bool detail_fails = false;
    KitchenStyle style;
    bool auto_print = true;
    std::string journal;
    std::vector<std::string> log;
    std::map<int, int> tables;

    KitchenHooks hooks()
    {
        KitchenHooks h;
        h.store_call = [this](std::string_view command) -> Result<api::StoreResult> {
            api::StoreResult r;
            r.resultCode = "0";
            size_t at = command.find("orderidx=");
            if (detail_fails || !command.starts_with("cmd=111") || at == std::string_view::npos)
                return Error::with_message("서버에 연결하지 못했습니다");
            int orderidx = std::atoi(std::string(command.substr(at + 9)).c_str());
            r.resultData = R"({"ordernum":")" + std::to_string(orderidx) + R"(","tablenum":)"
                + std::to_string(tables[orderidx]) + R"(,"menus":[{"mname":"김밥","qty":1}]})";
            return r;
        };
        h.print = [this](PrinterRecord const&, std::string_view bytes, long long tag) -> Status {
            if (printer_refuses)
                return Error::with_message("프린터에 연결하지 못했습니다");
            jobs.push_back({ tag, paper(std::string(bytes)) });
            return {};
        };
        h.kitchen_record = [this] {
            KitchenRecord k;
            k.record = narrow_printer();
            k.auto_print = auto_print;
            return k;
        };
        h.style = [this] { return style; };
        h.now = [] { return std::time_t { 1'700'000'000 }; };
        h.now_ms = [] { return uint64_t { 0 }; };
        h.journal_path = [this](int) { return journal; };
        h.log = [this](std::string const& line) { log.push_back(line); };
        return h;
    }
    int tickets_of(int orderidx) const
    {
        return static_cast<int>(std::count_if(jobs.begin(), jobs.end(), [&](Job const& j) { return j.tag == orderidx; }));
    }
};

std::string list_of(std::vector<std::tuple<int, int, int>> const& orders) // orderidx, table, paystatus
{
    std::string text = R"({"orders":[)";
    for (size_t i = 0; i < orders.size(); ++i) {
        auto [idx, table, pay] = orders[i];
        text += (i ? "," : "") + std::string(R"({"orderidx":)") + std::to_string(idx) + R"(,"tablenum":)"
            + std::to_string(table) + R"(,"paystatus":)" + std::to_string(pay) + "}";
    }
    return text + "]}";
}

class KitchenPrintingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        session::reset();
        session::set_staff(7, 1001, "틸베이 한식당", false);
        char pattern[] = "/tmp/tb-kitchen-XXXXXX";
        dir = mkdtemp(pattern);
        kitchen.journal = dir + "/kitchen.journal";
    }
    void TearDown() override
    {
        session::reset();
        std::filesystem::remove_all(dir);
    }
    void list(KitchenPrinting& k, std::vector<std::tuple<int, int, int>> const& orders)
    {
        k.on_list(7, list_of(orders), page);
    }
    // The jobs printed since the last call confirmed, the way the print result does.
    void confirm_all(KitchenPrinting& k)
    {
        for (; confirmed < kitchen.jobs.size(); ++confirmed)
            if (kitchen.jobs[confirmed].tag > 0)
                k.confirmed(static_cast<int>(kitchen.jobs[confirmed].tag));
    }

    std::string dir;
    Kitchen kitchen;
    Page page;
    size_t confirmed = 0;
};

TEST_F(KitchenPrintingTest, EachOrderPrintsOnceAndTheFirstListOfANewPcIsTakenAsHandled)
{
    kitchen.style.when = 0;
    KitchenPrinting k(kitchen.hooks());
    list(k, { { 1, 0, 1 }, { 2, 0, 0 } });
    EXPECT_TRUE(kitchen.jobs.empty());
    list(k, { { 1, 0, 1 }, { 2, 0, 0 }, { 3, 0, 0 } });
    list(k, { { 1, 0, 1 }, { 2, 0, 1 }, { 3, 0, 1 } });
    EXPECT_EQ(kitchen.tickets_of(3), 1);
    EXPECT_EQ(kitchen.jobs.size(), 1u);
    EXPECT_NE(std::find(page.said.begin(), page.said.end(), "status:포장 주문표를 보냈습니다"), page.said.end());
}

TEST_F(KitchenPrintingTest, PrintOnPaymentWaitsForThePaymentAndTitlesASecondOrderOfATable)
{
    kitchen.style.when = 1;
    kitchen.tables = { { 10, 5 }, { 11, 5 } };
    KitchenPrinting k(kitchen.hooks());
    list(k, {});
    list(k, { { 10, 5, 0 } });
    EXPECT_TRUE(kitchen.jobs.empty());
    list(k, { { 10, 5, 1 } });
    list(k, { { 10, 5, 1 } });
    ASSERT_EQ(kitchen.jobs.size(), 1u);
    EXPECT_NE(kitchen.jobs[0].text.find("[주문표]"), std::string::npos);
    list(k, { { 10, 5, 1 }, { 11, 5, 1 } });
    ASSERT_EQ(kitchen.jobs.size(), 2u);
    EXPECT_EQ(kitchen.jobs[1].tag, 11);
    EXPECT_NE(kitchen.jobs[1].text.find("[추가 주문표]"), std::string::npos);
}

TEST_F(KitchenPrintingTest, AFailingPrinterGetsTwoRetriesAtTheNextListsThenTheToast)
{
    kitchen.style.when = 0;
    KitchenPrinting k(kitchen.hooks());
    list(k, {});
    kitchen.printer_refuses = true;
    for (int i = 0; i < 5; ++i)
        list(k, { { 20, 0, 1 } });
    EXPECT_EQ(kitchen.log, (std::vector<std::string> {
                               "주문 #20 주문표 인쇄 실패 1회 — 다음 목록 때 다시",
                               "주문 #20 주문표 다시 시도 2회",
                               "주문 #20 주문표 인쇄 실패 2회 — 다음 목록 때 다시",
                               "주문 #20 주문표 다시 시도 3회",
                               "주문 #20 주방 주문표를 3번 뽑지 못했습니다 — 프린터를 확인하고 주문 상세의 「주문표」로 뽑아 주세요",
                           }));
    EXPECT_EQ(std::count(page.said.begin(), page.said.end(),
                  "status:주문 #20 주방 주문표를 3번 뽑지 못했습니다 — 프린터를 확인하고 주문 상세의 「주문표」로 뽑아 주세요"),
        1);

    // A failure reported later by the print queue counts the same way; an
    // order that leaves the list leaves the retry table.
    kitchen.printer_refuses = false;
    kitchen.log.clear();
    list(k, { { 21, 0, 1 } });
    EXPECT_FALSE(k.failed(21).has_value());
    list(k, { { 22, 0, 1 } });
    list(k, { { 22, 0, 1 } });
    EXPECT_EQ(kitchen.tickets_of(21), 1);
    EXPECT_EQ(kitchen.tickets_of(22), 1);
    EXPECT_EQ(kitchen.log, (std::vector<std::string> { "주문 #21 주문표 인쇄 실패 1회 — 다음 목록 때 다시" }));
}

TEST_F(KitchenPrintingTest, TheJournalCarriesTicketsAcrossRestartsWithoutLossOrRepeat)
{
    kitchen.style.when = 0;
    {
        KitchenPrinting k(kitchen.hooks());
        list(k, { { 1, 0, 1 } });
        list(k, { { 1, 0, 1 }, { 2, 0, 1 } });
        confirm_all(k);
        // Handed to the queue, then the program dies before the printer answers.
        list(k, { { 1, 0, 1 }, { 2, 0, 1 }, { 3, 0, 1 } });
    }
    kitchen.jobs.erase(std::remove_if(kitchen.jobs.begin(), kitchen.jobs.end(), [](auto const& j) { return j.tag == 3; }),
        kitchen.jobs.end());
    confirmed = kitchen.jobs.size();
    {
        // Orders 4 and 5 arrived while the POS was stopped.
        KitchenPrinting k(kitchen.hooks());
        list(k, { { 1, 0, 1 }, { 2, 0, 1 }, { 3, 0, 1 }, { 4, 0, 1 }, { 5, 0, 1 } });
        confirm_all(k);
        list(k, { { 1, 0, 1 }, { 2, 0, 1 }, { 3, 0, 1 }, { 4, 0, 1 }, { 5, 0, 1 } });
        EXPECT_EQ(k.print_log(2), "주방 출력 1회, 마지막 " + local_hhmm(1'700'000'000));
    }
    EXPECT_EQ(kitchen.tickets_of(1), 0);
    for (int order : { 2, 3, 4, 5 })
        EXPECT_EQ(kitchen.tickets_of(order), 1) << order;

    // A manual print of a printed order is a reprint and shows in the log.
    KitchenPrinting k(kitchen.hooks());
    list(k, { { 2, 0, 1 } });
    k.printticket(2, 0, page);
    ASSERT_FALSE(kitchen.jobs.empty());
    EXPECT_EQ(kitchen.jobs.back().tag, 0);
    EXPECT_NE(kitchen.jobs.back().text.find("(재출력)"), std::string::npos);
    EXPECT_TRUE(k.print_log(2).starts_with("주방 출력 2회"));
    // Orders that left the list left the journal.
    auto journal = load_journal(kitchen.journal);
    ASSERT_TRUE(journal);
    EXPECT_EQ(journal->orders.size(), 1u);
}

TEST_F(KitchenPrintingTest, ABusyDayBeyondFiveHundredOrdersPrintsNothingTwice)
{
    kitchen.style.when = 0;
    KitchenPrinting k(kitchen.hooks());
    std::vector<std::tuple<int, int, int>> orders;
    for (int i = 1; i <= 600; ++i)
        orders.emplace_back(i, 0, 1);
    list(k, orders);
    orders.emplace(orders.begin(), 601, 0, 1); // the newest first, as the server lists them
    list(k, orders);
    list(k, orders);
    EXPECT_EQ(kitchen.jobs.size(), 1u);
    EXPECT_EQ(kitchen.tickets_of(601), 1);
}

TEST(KitchenJournal, ReadsOnlyWholeJournals)
{
    Journal journal;
    journal.orders[41] = { 1, TicketState::Printed, 0, 0, 2, 1'700'000'000 };
    journal.orders[42] = { 0, TicketState::Owed, 1, 1'700'000'100, 0, 0 };
    std::string text = journal_text(journal);
    auto back = parse_journal(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->orders.size(), 2u);
    EXPECT_EQ(back->orders[42].state, TicketState::Owed);
    EXPECT_EQ(back->orders[42].kind, 1);
    EXPECT_EQ(back->orders[41].prints, 2);

    std::string const broken[] = {
        "",
        "TBKJ1\n",                                 // no end mark: cut short
        text.substr(0, text.size() - 1),           // the last line feed missing
        text.substr(0, text.size() / 2),           // half written
        "TBKJ2\nend\n",                            // another format
        "TBKJ1\n41 1 9 0 0 0 0\nend\n",            // an unknown state
        "TBKJ1\n-4 1 1 0 0 0 0\nend\n",            // not an order number
        "TBKJ1\n41 1 1 0 0 0\nend\n",              // a field missing
        "TBKJ1\n41 1 1 0 0 0 x\nend\n",            // not a number
        "TBKJ1\nend\n41 1 1 0 0 0 0\n",            // after the end
    };
    for (auto const& text : broken)
        EXPECT_FALSE(parse_journal(text)) << text;
    EXPECT_TRUE(parse_journal("TBKJ1\nend\n"));
}

TEST(KitchenJournal, MarksApplyInOrderAndHostileMarksAreRefused)
{
    Journal base;
    base.orders[1] = { 1, TicketState::Seen, 0, 0, 0, 0 };
    base.orders[2] = { 1, TicketState::Printed, 0, 0, 1, 100 };
    base.orders[3] = { 1, TicketState::GivenUp, 0, 0, 0, 0 };
    struct Case {
        char const* marks;
        int orderidx;
        TicketState state;
        int prints;
    };
    Case const cases[] = {
        { "O 1 0 5\n", 1, TicketState::Owed, 0 },                // handed over, no word yet
        { "O 1 0 5\nP 1 200\n", 1, TicketState::Printed, 1 },    // and taken by the printer
        { "O 1 0 5\nP 1 2", 1, TicketState::Owed, 0 },            // the printed mark cut short by a kill
        { "O 1 0 5\nP 1 200\nO 1 0 5\n", 1, TicketState::Owed, 0 }, // the line dropped after the last byte
        { "P 1 200\n", 1, TicketState::Seen, 0 },                 // printed without being owed: not ours
        { "O 2 0 5\nP 2 300\n", 2, TicketState::Printed, 1 },    // marks the journal holds already
        { "P 2 300\n", 2, TicketState::Printed, 1 },              // a mark the journal holds already
        { "O 3 0 5\n", 3, TicketState::GivenUp, 0 },              // given up stays given up
        { "O 9 1 5\n", 9, TicketState::Owed, 0 },                 // an order the journal never saw
    };
    for (auto const& c : cases) {
        Journal journal = base;
        ASSERT_TRUE(apply_marks(journal, c.marks)) << c.marks;
        EXPECT_EQ(journal.orders[c.orderidx].state, c.state) << c.marks;
        EXPECT_EQ(journal.orders[c.orderidx].prints, c.prints) << c.marks;
    }
    EXPECT_EQ(printed_mark(7, 1234), "P 7 1234\n");
    EXPECT_EQ(owed_mark(7, 1, 99), "O 7 1 99\n");

    std::string const hostile[] = {
        "X 1 0 5\n", "O 1 0\n", "P 1 2 3\n", "O -1 0 5\n", "P 99999999999 1\n", "O 1 0 5\n\nP 1 2\n",
        std::string(max_journal_bytes + 1, 'P'),
    };
    for (auto const& text : hostile) {
        Journal journal = base;
        EXPECT_FALSE(apply_marks(journal, "O 1 0 5\n" + text)) << text.substr(0, 40);
        EXPECT_TRUE(journal.orders == base.orders) << text.substr(0, 40);
    }
}

TEST(KitchenJournal, AKillDuringAWriteLeavesTheOldOrTheNewJournal)
{
    char pattern[] = "/tmp/tb-journal-XXXXXX";
    std::string dir = mkdtemp(pattern);
    std::string path = dir + "/kitchen.journal";
    std::mt19937 random(4242);
    for (int round = 0; round < 20; ++round) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Ever larger journals, written as fast as the disk takes them.
            Journal journal;
            for (int n = 1;; ++n) {
                journal.orders[n] = { 1, TicketState::Printed, 0, 0, 1, n };
                if (!save_journal(path, journal).ok())
                    _exit(3);
            }
        }
        usleep(1000 + random() % 20000);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        if (!std::filesystem::exists(path))
            continue;
        auto journal = load_journal(path);
        ASSERT_TRUE(journal) << "round " << round;
        // Whole: orders 1..n, each as written.
        int n = static_cast<int>(journal->orders.size());
        EXPECT_EQ(journal->orders.rbegin()->first, n);
        std::filesystem::remove(path);
    }
    std::filesystem::remove_all(dir);
}

} // namespace

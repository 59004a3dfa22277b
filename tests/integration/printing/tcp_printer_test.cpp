// Deliveries over TCP to the real tillbay-printer: a Korean receipt arrives
// byte for byte and decodes to its lines; a printer that refuses, stalls or
// drops the line gives the program's codes; the queue keeps sixteen jobs in
// order and refuses the seventeenth; a printer out of paper or with its
// cover open is asked first and refuses the job at once.

#include "printer_peer.h"

#include "printing/delivery.h"
#include "printing/print_queue.h"
#include "printing/receipt_layout.h"
#include "printing/test_pages.h"
#include "tools/printer/escpos_decoder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>

using namespace tillbay;
using namespace tillbay::printing;
using namespace std::chrono_literals;
using printing_test::PrinterPeer;

namespace {

constexpr char const* receipt_json = R"({"shopname":"틸베이 한식당","address":"서울특별시 마포구 양화로 45 1층",)"
    R"("biznumber":"214-86-53129","bizname":"김민준","tel":"0231435521","vat":1,"ordernum":"17","idate":"2024-05-01 12:30",)"
    R"("tablenum":3,"paymethod":"CASH","requestmemo":"덜 맵게 해 주세요","totalamount":21000,"payamount":21000,)"
    R"("menus":[{"mname":"김치찌개","qty":2,"price":9000,"amount":18000},{"mname":"공기밥","qty":3,"price":1000,"amount":3000}]})";

PrinterRecord record_for(PrinterPeer const& printer)
{
    PrinterRecord record;
    record.connection = printer.address();
    return record;
}

// A document too large for any socket buffer to swallow at once.
std::string long_document()
{
    std::string bytes = "\x1b@";
    while (bytes.size() < 30000)
        bytes += "0123456789 가나다라마바사 ABCDEFGHIJ\n";
    return bytes;
}

TEST(TcpPrinter, KoreanReceiptArrivesByteForByteAndDecodes)
{
    PrinterPeer printer;
    ASSERT_GT(printer.port(), 0) << printer.log();
    auto receipt = receipt_from_json(receipt_json);
    adjust(receipt, {});
    auto document = build_receipt(receipt, record_for(printer), WithView::No);
    ASSERT_TRUE(document.ok());
    auto sent = send_now({ printer.address(), "" }, document.value().bytes);
    ASSERT_TRUE(sent.ok()) << sent.error().message;
    EXPECT_EQ(sent.value(), "프린터로 인쇄 데이터를 전송했습니다");
    EXPECT_EQ(printer.job(1), document.value().bytes) << "the status questions are not part of the job";
    std::string text = printer.job_text(1);
    EXPECT_EQ(text, printer::render_text(printer::decode(document.value().bytes)));
    for (std::string line : { "상호    : 틸베이 한식당\n", "사업자  : 214-86-53129\n", "주소    : 서울특별시 마포구 양화로 45 1층\n",
             "01 김치찌개\n", "                        9,000     2       18,000\n", "01.현금                                   21,000\n",
             "덜 맵게 해 주세요\n", "[align center]감사합니다\n" })
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n--- in ---\n" << text;
}

TEST(TcpPrinter, PrinterFaultsGiveTheProgramsCodes)
{
    struct Case {
        std::vector<std::string> mode;
        std::string message;
        long long stored; // bytes of the document the printer kept, -1 for none
    };
    std::string const partial = " — 일부 전송됨. 출력 여부 확인 후 재인쇄하세요";
    std::vector<Case> const cases {
        { { "--refuse" }, "LAN 연결/인쇄 전송 실패 (10061)", -1 },
        // The printer counts the nine bytes of the status questions too.
        { { "--stop-after", "2000", "--hold-ms", "8000" }, "LAN 연결/인쇄 전송 실패 (10060)" + partial, 2000 - 9 },
        { { "--close-early", "1000" }, "LAN 연결/인쇄 전송 실패 (10054)" + partial, 1000 - 9 },
    };
    for (auto const& c : cases) {
        PrinterPeer printer(c.mode);
        ASSERT_GT(printer.port(), 0) << printer.log();
        auto started = std::chrono::steady_clock::now();
        auto sent = send_now({ printer.address(), "" }, long_document());
        auto took = std::chrono::steady_clock::now() - started;
        ASSERT_FALSE(sent.ok()) << c.mode[0];
        EXPECT_EQ(sent.error().message, c.message) << c.mode[0];
        EXPECT_LT(took, 7s) << "one delivery never waits past its deadlines";
        if (c.stored >= 0) {
            EXPECT_EQ(printer.job(1).size(), static_cast<size_t>(c.stored)) << c.mode[0];
        }
    }
}

// The real delivery, held at a gate until the test opens it.
struct Gate {
    std::mutex lock;
    std::condition_variable opened;
    bool open = false;
    Sender sender()
    {
        return [this](Route const& route, std::string_view bytes) {
            {
                std::unique_lock guard(lock);
                opened.wait(guard, [this] { return open; });
            }
            return send_now(route, bytes);
        };
    }
    void release()
    {
        std::lock_guard guard(lock);
        open = true;
        opened.notify_all();
    }
};

TEST(TcpPrinter, SixteenQueuedJobsPrintInOrderAndTheSeventeenthIsRefused)
{
    PrinterPeer printer;
    ASSERT_GT(printer.port(), 0) << printer.log();
    std::mutex lock;
    std::vector<std::pair<bool, long long>> outcomes;
    Gate gate;
    PrintQueue queue(gate.sender());
    queue.set_listener([&](bool ok, std::string const&, long long tag) {
        std::lock_guard guard(lock);
        outcomes.emplace_back(ok, tag);
    });
    for (int i = 1; i <= 16; ++i)
        ASSERT_TRUE(queue.print(record_for(printer), "\x1b@job " + std::to_string(i) + "\n", i).ok()) << i;
    auto refused = queue.print(record_for(printer), "\x1b@job 17\n", 17);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().message, "인쇄 대기열이 가득 찼습니다. 장치 연결을 확인하세요");
    gate.release();
    for (int i = 1; i <= 16; ++i)
        EXPECT_EQ(printer.job(i), "\x1b@job " + std::to_string(i) + "\n") << i;
    EXPECT_TRUE(e2e::wait_for(
        [&] {
            std::lock_guard guard(lock);
            return outcomes.size() == 16;
        },
        10s));
    queue.shut_down(10000);
    ASSERT_EQ(outcomes.size(), 16u);
    for (int i = 0; i < 16; ++i) {
        EXPECT_TRUE(outcomes[i].first);
        EXPECT_EQ(outcomes[i].second, i + 1);
    }
    EXPECT_EQ(printer.job_count(), 16);
}

TEST(TcpPrinter, PaperStateIsAskedBeforeTheJob)
{
    PrinterPeer out({ "--report", "paper-out" });
    ASSERT_GT(out.port(), 0) << out.log();
    auto page = build_test_page(record_for(out));
    ASSERT_TRUE(page.ok());
    auto refused = send_now({ out.address(), "" }, page.value().bytes);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().message, "프린터에 용지가 없습니다. 용지를 넣은 뒤 다시 인쇄하세요");
    EXPECT_EQ(check_health(record_for(out)).state, HealthState::PaperOut);

    PrinterPeer low({ "--report", "near-end" });
    auto sent = send_now({ low.address(), "" }, page.value().bytes);
    ASSERT_TRUE(sent.ok()) << sent.error().message;
    EXPECT_EQ(sent.value(), "프린터로 인쇄 데이터를 전송했습니다 (용지가 곧 떨어집니다)");
    EXPECT_EQ(low.job(1), page.value().bytes);

    std::string state_file = printing_test::make_dir("tb-state") + "/state";
    std::ofstream(state_file) << "ok\n";
    PrinterPeer switching({ "--report-file", state_file });
    EXPECT_EQ(check_health(record_for(switching)).state, HealthState::Online);
    std::ofstream(state_file, std::ios::trunc) << "cover-open\n";
    EXPECT_EQ(check_health(record_for(switching)).state, HealthState::CoverOpen);
    auto covered = send_now({ switching.address(), "" }, page.value().bytes);
    ASSERT_FALSE(covered.ok());
    EXPECT_EQ(covered.error().message, "프린터 덮개가 열려 있습니다. 덮개를 닫은 뒤 다시 인쇄하세요");
    EXPECT_EQ(out.job_count() + switching.job_count(), 0) << "a status question alone is never a job";
    printing_test::remove_tree(state_file.substr(0, state_file.rfind('/')));

    PrinterPeer refusing({ "--refuse" });
    EXPECT_EQ(check_health(record_for(refusing)).state, HealthState::Unreachable);
}

} // namespace

// Print queues through a private cupsd the test starts on a free loopback
// port: a raw queue whose device is socket:// to tillbay-printer takes a
// job byte for byte; a stopped queue is started again and prints; a queue
// that does not exist is reported; the queue list leaves out
// queues that never take a receipt and names the kind of each connection.

#include "printer_peer.h"

#include "os/spooler.h"
#include "printing/delivery.h"
#include "printing/local_printers.h"
#include "printing/receipt_layout.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

using namespace tillbay;
using namespace tillbay::printing;
using namespace std::chrono_literals;
using printing_test::PrinterPeer;

namespace {

constexpr char const* cupsd_conf = R"(LogLevel debug
Browsing Off
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Location /admin>
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order allow,deny
    Allow all
  </Limit>
</Policy>
)";

class PrivateCups : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_printer = new PrinterPeer();
        ASSERT_GT(s_printer->port(), 0) << s_printer->log();
        s_dir = printing_test::make_dir("tb-cups");
        ::chmod(s_dir.c_str(), 0755);
        for (char const* folder : { "spool", "tmp", "cache", "state", "log" })
            ::mkdir((s_dir + "/" + folder).c_str(), 0755);
        s_port = e2e::free_port();
        e2e::write_text(s_dir + "/cupsd.conf", "Listen 127.0.0.1:" + std::to_string(s_port) + "\n" + cupsd_conf);
        e2e::write_text(s_dir + "/cups-files.conf",
            "ServerRoot " + s_dir + "\nRequestRoot " + s_dir + "/spool\nTempDir " + s_dir + "/tmp\nCacheDir " + s_dir
                + "/cache\nStateDir " + s_dir + "/state\nErrorLog " + s_dir + "/log/error_log\nAccessLog " + s_dir
                + "/log/access_log\nPageLog " + s_dir + "/log/page_log\nServerBin /usr/lib/cups\nDataDir /usr/share/cups\n");
        s_cupsd = new e2e::Child(e2e::Child::start(
            { "/usr/sbin/cupsd", "-f", "-c", s_dir + "/cupsd.conf", "-s", s_dir + "/cups-files.conf" }, {}, s_dir + "/cupsd.out"));
        // Every libcups call of this process, on every thread, asks the private spooler.
        setenv("CUPS_SERVER", ("127.0.0.1:" + std::to_string(s_port)).c_str(), 1);
        ASSERT_TRUE(e2e::wait_for([] { return run({ "lpstat", "-h", server(), "-r" }) == 0; }, 10s))
            << e2e::read_text(s_dir + "/cupsd.out") << e2e::read_text(s_dir + "/log/error_log");
        std::string device = "socket://127.0.0.1:" + std::to_string(s_printer->port());
        ASSERT_EQ(run({ "lpadmin", "-h", server(), "-p", "tbraw", "-v", device, "-E" }), 0);
        ASSERT_EQ(run({ "lpadmin", "-h", server(), "-p", "Office-PDF", "-v", "socket://127.0.0.1:9", "-E" }), 0);
        ASSERT_EQ(run({ "lpadmin", "-h", server(), "-p", "Kitchen", "-v", "serial:/dev/ttyS0?baud=9600", "-E" }), 0);
    }

    static void TearDownTestSuite()
    {
        delete s_cupsd;
        delete s_printer;
        unsetenv("CUPS_SERVER");
        printing_test::remove_tree(s_dir);
    }

    static std::string server() { return "127.0.0.1:" + std::to_string(s_port); }

    // Runs a CUPS command-line tool; its exit status.
    static int run(std::vector<std::string> argv)
    {
        std::string log = s_dir + "/tool.log";
        e2e::Child tool = e2e::Child::start(argv, {}, log);
        return tool.wait_for_exit(std::chrono::seconds(10)).value_or(-1);
    }

    static bool enabled(std::string const& queue)
    {
        auto found = os::spooler::find(queue);
        return found.ok() && found.value().state != os::spooler::QueueState::Stopped;
    }

    static inline std::string s_dir;
    static inline int s_port = 0;
    static inline e2e::Child* s_cupsd = nullptr;
    static inline PrinterPeer* s_printer = nullptr;
    static inline int s_jobs = 0;
};

std::string receipt_bytes()
{
    auto receipt = receipt_from_json(R"({"shopname":"틸베이 한식당","ordernum":"5","idate":"2024-05-01 12:30",)"
                                     R"("paymethod":"CASH","totalamount":9000,"payamount":9000,)"
                                     R"("menus":[{"mname":"김치찌개","qty":1,"price":9000,"amount":9000}]})");
    adjust(receipt, {});
    PrinterRecord record;
    return build_receipt(receipt, record, WithView::No).value().bytes;
}

TEST_F(PrivateCups, QueueListShowsReceiptQueuesWithTheirKind)
{
    auto queues = print_queues();
    ASSERT_TRUE(queues.ok()) << queues.error().detail;
    std::string listed = queue_lines(queues.value(), 16384);
    EXPECT_NE(listed.find("tbraw\t네트워크\n"), std::string::npos) << listed;
    EXPECT_NE(listed.find("Kitchen\t직렬/병렬\n"), std::string::npos) << listed;
    EXPECT_EQ(listed.find("Office-PDF"), std::string::npos) << "a PDF queue never takes a receipt";
}

TEST_F(PrivateCups, RawJobArrivesByteForByte)
{
    std::string bytes = receipt_bytes();
    auto sent = send_now({ "queue|tbraw", "" }, bytes);
    ASSERT_TRUE(sent.ok()) << sent.error().message;
    EXPECT_EQ(s_printer->job(++s_jobs, 20s), bytes) << e2e::read_text(s_dir + "/log/error_log");
    EXPECT_EQ(check_health(PrinterRecord { .connection = "queue|tbraw" }).state, HealthState::QueueReady);

    // The older route: the queue named in the record, without an address.
    auto legacy = send_now({ "", "tbraw" }, "\x1b@legacy\n");
    ASSERT_TRUE(legacy.ok()) << legacy.error().message;
    EXPECT_EQ(s_printer->job(++s_jobs, 20s), "\x1b@legacy\n");
}

TEST_F(PrivateCups, StoppedQueueIsStartedAgain)
{
    ASSERT_EQ(run({ "cupsdisable", "-h", server(), "tbraw" }), 0);
    ASSERT_FALSE(enabled("tbraw"));
    EXPECT_EQ(check_health(PrinterRecord { .connection = "queue|tbraw" }).state, HealthState::QueueStopped);
    auto sent = raw_spooler_job("tbraw", "\x1b@after a stop\n");
    ASSERT_TRUE(sent.ok()) << sent.error().message;
    EXPECT_TRUE(enabled("tbraw"));
    EXPECT_EQ(s_printer->job(++s_jobs, 20s), "\x1b@after a stop\n");
}

TEST_F(PrivateCups, QueuesThatCannotBeUsed)
{
    auto missing = raw_spooler_job("no-such-queue", "x");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().message, "프린터를 열 수 없습니다 (오류 1030)");
    auto unnamed = raw_spooler_job("", "x");
    ASSERT_FALSE(unnamed.ok());
    EXPECT_EQ(unnamed.error().message,
        "프린터 이름이 비어 있습니다 — 설정 → 프린터 연결에서 프린터를 고르십시오 (시스템 기본 프린터로는 보내지 않습니다)");
    EXPECT_EQ(raw_spooler_job("tbraw", "").error().message, "보낼 내용이 없습니다");
    EXPECT_EQ(raw_spooler_job(std::string(257, 'q'), "x").error().message, "프린터 이름이 올바르지 않거나 너무 깁니다");
    EXPECT_EQ(raw_spooler_job("bad\xFF", "x").error().message, "프린터 이름이 올바르지 않거나 너무 깁니다");
}

} // namespace

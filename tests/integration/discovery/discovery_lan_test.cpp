// The printer search against real peers on a LAN made of network namespaces:
// avahi-daemon announcing printer services, snmpd naming a printer,
// tillbay-printer on 9100, a host with only 631 open, WS-Discovery
// responders (one of them hostile), and a private cupsd whose raw queue
// points at a switched-off printer. The search itself runs in the POS's own
// namespace; nothing ever reaches this machine's interfaces.

#include "tests/integration/discovery/driver_session.h"
#include "tests/integration/discovery/lan_fixture.h"
#include "tests/integration/discovery/peers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

using namespace tillbay::test;
using namespace std::chrono_literals;

namespace {

constexpr char const* no_lan = "연결된 매장 LAN을 찾지 못했습니다. 유선 연결이나 Wi-Fi를 확인하세요.";
constexpr char const* busy = "앞선 검색을 종료하고 있습니다. 잠시 후 다시 눌러 주세요.";
constexpr char const* queue_evidence = "이 PC의 인쇄 큐";

bool is_final(std::string const& line) { return line.rfind("PAGE ", 0) == 0 && line.find("done:true") != std::string::npos; }
bool is_progress(std::string const& line)
{
    return line.rfind("PAGE ", 0) == 0 && line.find("setPrinterDiscovery") != std::string::npos
        && line.find("done:false") != std::string::npos;
}

#define SKIP_WITHOUT_NAMESPACES()                                                    \
    do {                                                                             \
        std::string why = Lan::unavailable_reason();                                 \
        if (!why.empty())                                                            \
            GTEST_SKIP() << "printer search LAN tests skipped: " << why;             \
    } while (0)

std::string const avahi_services = R"(<?xml version="1.0" standalone='no'?>
<!DOCTYPE service-group SYSTEM "avahi-service.dtd">
<service-group>
  <name>Kitchen TP80</name>
  <service><type>_pdl-datastream._tcp</type><port>9100</port><txt-record>ty=TILLBAY TP-80 주방</txt-record></service>
  <service><type>_ipp._tcp</type><port>631</port><txt-record>ty=TILLBAY TP-80 주방</txt-record></service>
</service-group>
)";

// The shop LAN 10.99.0.0/24, shared by the tests of this suite.
class ShopLan : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!Lan::unavailable_reason().empty())
            return;
        s = new Shared;
        Lan& lan = s->lan;
        s->pos = lan.add_host("pos", { "10.99.0.10/24" });
        std::string mdns = lan.add_host("mdns", { "10.99.0.21/24" });
        std::string snmp = lan.add_host("snmp", { "10.99.0.22/24" });
        std::string raw = lan.add_host("raw", { "10.99.0.23/24" });
        std::string ipp = lan.add_host("ipp", { "10.99.0.24/24" });
        std::string wsd = lan.add_host("wsd", { "10.99.0.25/24" });
        std::string evil = lan.add_host("evil", { "10.99.0.27/24" });
        s->peers.push_back(start_printer(lan, mdns, "10.99.0.21"));
        s->peers.push_back(start_avahi(lan, mdns, "tbd-kitchen", avahi_services));
        s->peers.push_back(start_printer(lan, snmp, "10.99.0.22"));
        s->peers.push_back(start_snmpd(lan, snmp, "10.99.0.22", "TILLBAY TP-80 Thermal Receipt"));
        s->peers.push_back(start_printer(lan, raw, "10.99.0.23"));
        s->peers.push_back(start_listener(lan, ipp, "10.99.0.24", 631));
        s->peers.push_back(start_wsd_responder(lan, wsd, "10.99.0.25", false));
        s->peers.push_back(start_wsd_responder(lan, evil, "10.99.0.27", true));
        s->peers.push_back(start_cupsd(lan, s->pos, &s->cups_socket));
        s->queue_added = add_raw_queue(lan, s->pos, s->cups_socket, "counter_backup", "socket://10.99.0.26:9100");
    }
    static void TearDownTestSuite()
    {
        delete s;
        s = nullptr;
    }

    void SetUp() override
    {
        SKIP_WITHOUT_NAMESPACES();
        ASSERT_TRUE(s && s->lan.ok()) << "the test LAN could not be built";
    }

    std::unique_ptr<DriverSession> driver()
    {
        return std::make_unique<DriverSession>(s->pos, std::vector<std::string> { "CUPS_SERVER=" + s->cups_socket });
    }

    struct Shared {
        Lan lan;
        std::string pos;
        std::string cups_socket;
        bool queue_added = false;
        std::vector<Process> peers;
    };
    static inline Shared* s = nullptr;
};

TEST_F(ShopLan, FindsEachPrinterWithItsEvidenceAndSelectability)
{
    ASSERT_TRUE(s->queue_added);
    auto session = driver();
    ASSERT_TRUE(session->wait_for([](auto const& l) { return l == "READY"; }, 5s).size());
    session->send("discoverprinters</>r</>41");
    std::string line = session->wait_for(is_final, 40s);
    ASSERT_FALSE(line.empty()) << "no final answer";
    EXPECT_NE(line.find("{id:\"41\",target:\"r\","), std::string::npos);
    Answer answer = parse_answer(line);
    EXPECT_FALSE(answer.cancelled);
    EXPECT_FALSE(answer.limited);
    EXPECT_EQ(answer.error, "");
    // Every local address but the PC's own, with each port; the queue's
    // 10.99.0.26:9100 is one of these pairs.
    EXPECT_EQ(answer.total, 253 * 5);
    EXPECT_EQ(answer.checked, answer.total);

    struct Expected {
        std::string ip;
        int port;
        std::string name;
        std::string evidence;
        bool selectable;
    };
    std::vector<Expected> table = {
        { "10.99.0.21", 9100, "TILLBAY TP-80 주방", "DNS-SD / TCP", true },
        { "10.99.0.22", 9100, "TILLBAY TP-80 Thermal Receipt", "TCP / SNMP", true },
        { "10.99.0.23", 9100, "", "TCP", true },
        { "10.99.0.24", 0, "", "TCP", false },
        { "10.99.0.25", 0, "WSD 프린터", "WSD", false },
        { "10.99.0.26", 9100, "counter_backup", queue_evidence, true },
    };
    for (auto const& expected : table) {
        auto items = answer.at(expected.ip);
        ASSERT_EQ(items.size(), 1u) << expected.ip << "\n" << line;
        EXPECT_EQ(items[0].port, expected.port) << expected.ip;
        EXPECT_EQ(items[0].name, expected.name) << expected.ip;
        EXPECT_EQ(items[0].evidence, expected.evidence) << expected.ip;
        EXPECT_EQ(items[0].selectable, expected.selectable) << expected.ip;
    }
    EXPECT_TRUE(answer.at("10.99.0.27").empty()) << "a WS-Discovery answer with a DOCTYPE counted";
    EXPECT_TRUE(answer.at("10.99.0.10").empty()) << "the PC itself became a candidate";
    EXPECT_EQ(answer.items.size(), table.size());

    size_t progress = 0;
    for (auto const& l : session->lines())
        progress += is_progress(l);
    EXPECT_GE(progress, 1u);
}

TEST_F(ShopLan, ProgressAnswersComeAtMostEveryHalfSecond)
{
    auto session = driver();
    session->send("discoverprinters</>k</>5");
    std::vector<std::chrono::steady_clock::time_point> times;
    while (true) {
        std::string line = session->wait_for([](auto const& l) { return is_progress(l) || is_final(l); }, 40s);
        ASSERT_FALSE(line.empty());
        if (is_final(line))
            break;
        times.push_back(std::chrono::steady_clock::now());
    }
    ASSERT_GE(times.size(), 3u);
    for (size_t i = 1; i < times.size(); ++i)
        // A little slack for the pipe: the search itself spaces them by 500 ms.
        EXPECT_GE(times[i] - times[i - 1], 450ms) << "progress answers " << i - 1 << " and " << i;
}

TEST_F(ShopLan, CancelEndsTheSearchWithinASecondAndASecondPressIsRefused)
{
    auto session = driver();
    session->send("discoverprinters</>r</>7");
    session->send("discoverprinters</>r</>8");
    std::string refused = session->wait_for([](auto const& l) { return l.rfind("CALL setPrinterDiscovery", 0) == 0; }, 5s);
    ASSERT_FALSE(refused.empty());
    EXPECT_NE(refused.find("id:\"8\""), std::string::npos);
    EXPECT_NE(refused.find(busy), std::string::npos);
    EXPECT_NE(refused.find("done:true"), std::string::npos);

    // Cancel in the middle of the TCP scan.
    ASSERT_FALSE(session->wait_for([](auto const& l) { return is_progress(l) && parse_answer(l).checked > 100; }, 20s).empty());
    auto cancelled_at = std::chrono::steady_clock::now();
    session->send("cancelprinterdiscovery</>7");
    std::string line = session->wait_for(is_final, 5s);
    auto took = std::chrono::steady_clock::now() - cancelled_at;
    ASSERT_FALSE(line.empty());
    Answer answer = parse_answer(line);
    EXPECT_TRUE(answer.cancelled);
    EXPECT_LT(answer.checked, answer.total);
    EXPECT_LT(took, 1s) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";

    // The search is over: a new one starts.
    session->send("discoverprinters</>r</>9");
    ASSERT_FALSE(session->wait_for([](auto const& l) { return is_progress(l) && l.find("id:\"9\"") != std::string::npos; }, 5s).empty());
    session->send("cancelprinterdiscovery</>9");
    EXPECT_FALSE(session->wait_for(is_final, 5s).empty());
}

TEST_F(ShopLan, PrintLinksListTheCupsQueueWithItsKind)
{
    ASSERT_TRUE(s->queue_added);
    auto session = driver();
    session->send("getprintlinks</>k");
    session->send("getprintlinks</>r");
    std::string kitchen = session->wait_for([](auto const& l) { return l.find("setPrintLinks({target:\"k\"") != std::string::npos; }, 10s);
    std::string receipt = session->wait_for([](auto const& l) { return l.find("setPrintLinks({target:\"r\"") != std::string::npos; }, 10s);
    ASSERT_FALSE(kitchen.empty());
    ASSERT_FALSE(receipt.empty());
    EXPECT_NE(kitchen.find("saved:\"inherit\""), std::string::npos);
    EXPECT_NE(receipt.find("queues:[\"counter_backup\"]"), std::string::npos) << receipt;
    EXPECT_NE(receipt.find("queueError:false"), std::string::npos);
    EXPECT_NE(receipt.find("{name:\"counter_backup\",kind:\"네트워크\",uri:\"socket://10.99.0.26:9100\""), std::string::npos)
        << receipt;
}

TEST_F(ShopLan, PrintLinksWithoutAPrintSystemSayQueueError)
{
    auto session = std::make_unique<DriverSession>(s->pos, std::vector<std::string> { "CUPS_SERVER=" + s->lan.folder() + "/no-such.sock" });
    session->send("getprintlinks</>r");
    std::string line = session->wait_for([](auto const& l) { return l.find("setPrintLinks(") != std::string::npos; }, 10s);
    ASSERT_FALSE(line.empty());
    EXPECT_NE(line.find("queues:[]"), std::string::npos);
    EXPECT_NE(line.find("queueError:true"), std::string::npos);
}

// A PC on a /26 must not knock on the rest of its /24: those addresses are
// on other links. Here one of them is reachable on purpose, to show it is
// never tried.
TEST(SmallPrefix, OnlyTheLocalNetworkIsScanned)
{
    SKIP_WITHOUT_NAMESPACES();
    Lan lan;
    std::string pos = lan.add_host("pos", { "10.98.0.10/26" });
    std::string near = lan.add_host("near", { "10.98.0.20/26" });
    std::string far = lan.add_host("far", { "10.98.0.100/24" });
    ASSERT_TRUE(lan.ok());
    ASSERT_EQ(lan.exec(pos, { "ip", "route", "add", "10.98.0.64/26", "dev", "eth0" }), 0);
    Process near_printer = start_printer(lan, near, "10.98.0.20");
    Process far_printer = start_printer(lan, far, "10.98.0.100");

    DriverSession session(pos, { "CUPS_SERVER=" + lan.folder() + "/none.sock" });
    session.send("discoverprinters</>r</>1");
    std::string line = session.wait_for(is_final, 30s);
    ASSERT_FALSE(line.empty());
    Answer answer = parse_answer(line);
    EXPECT_EQ(answer.total, 61 * 5); // 10.98.0.1 to .62 without the PC's own .10
    EXPECT_FALSE(answer.limited);
    EXPECT_EQ(answer.at("10.98.0.20").size(), 1u);
    EXPECT_TRUE(answer.at("10.98.0.100").empty());
}

// A /16 is too large to scan whole: the search tries the PC's /24 and the
// network's first 1024 host addresses, says it was limited, and keeps its time budget.
TEST(LargeNetwork, StaysInsideItsBounds)
{
    SKIP_WITHOUT_NAMESPACES();
    Lan lan;
    std::string pos = lan.add_host("pos", { "10.97.0.10/16" });
    std::string low = lan.add_host("low", { "10.97.3.7/16" });
    std::string high = lan.add_host("high", { "10.97.200.1/16" });
    ASSERT_TRUE(lan.ok());
    Process low_printer = start_printer(lan, low, "10.97.3.7");
    Process high_printer = start_printer(lan, high, "10.97.200.1");

    DriverSession session(pos, { "CUPS_SERVER=" + lan.folder() + "/none.sock" });
    auto started = std::chrono::steady_clock::now();
    session.send("discoverprinters</>r</>1");
    std::string line = session.wait_for(is_final, 60s);
    auto took = std::chrono::steady_clock::now() - started;
    ASSERT_FALSE(line.empty());
    Answer answer = parse_answer(line);
    EXPECT_TRUE(answer.limited);
    EXPECT_LE(answer.total, 1024 * 5);
    EXPECT_EQ(answer.total, 1023 * 5); // 10.97.0.1 to 10.97.4.0 without the PC's own address
    EXPECT_EQ(answer.at("10.97.3.7").size(), 1u);
    EXPECT_TRUE(answer.at("10.97.200.1").empty());
    // 1.8 s of announcements, at most 28 s of scanning, 0.9 s of SNMP.
    EXPECT_LT(took, 32s);
}

TEST(NoPrivateLan, SaysSoPlainly)
{
    SKIP_WITHOUT_NAMESPACES();
    Lan lan;
    std::string pos = lan.add_host("pos", { "198.51.100.10/24" });
    ASSERT_TRUE(lan.ok());
    DriverSession session(pos, { "CUPS_SERVER=" + lan.folder() + "/none.sock" });
    session.send("discoverprinters</>r</>3");
    std::string line = session.wait_for(is_final, 10s);
    ASSERT_FALSE(line.empty());
    Answer answer = parse_answer(line);
    EXPECT_EQ(answer.error, no_lan);
    EXPECT_TRUE(answer.items.empty());
}

} // namespace

// Printing end to end: the printer is set up through the panel on the
// order board (a network printer: tillbay-printer on loopback), 프린터 찾기
// lists the print queue of a private cupsd and picking it prints through
// that queue, a test page and a receipt print on the printer, the on-screen receipt shows the lines the
// paper has, a memo holding ESC p never reaches the printer as a drawer
// pulse, and a printer out of paper shows on the board and refuses the
// receipt with a message that says so.

#include "e2e_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr char const* cupsd_conf = R"(Browsing Off
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

class PrintingEndToEnd : public e2e::ProgramTest<PrintingEndToEnd> {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_NO_FATAL_FAILURE(e2e::set_up_installation(s_at, "printing", e2e::ServedUi::Copy));
        s_jobs = s_at.root + "/jobs";
        s_state = s_at.root + "/printer-state";
        e2e::write_text(s_state, "ok\n");
        s_printer_port = e2e::free_port();
        s_printer = e2e::Child::start({ s_at.build + "/tools/printer/tillbay-printer", "--port", std::to_string(s_printer_port),
                                          "--jobs", s_jobs, "--report-file", s_state, "--idle-ms", "2000" },
            {}, s_at.root + "/printer.log");
        ASSERT_TRUE(e2e::wait_for([] { return e2e::read_text(s_at.root + "/printer.log").find("listening") != std::string::npos; }, 5s));

        // A private spooler on loopback with one raw queue to the printer; the program asks it alone.
        ASSERT_NO_FATAL_FAILURE(start_cupsd());
        ASSERT_EQ(run_tool({ "lpadmin", "-h", cups_server(), "-p", "tb_counter", "-v",
                      "socket://127.0.0.1:" + std::to_string(s_printer_port), "-E" }),
            0);

        auto start = [] { return e2e::start_program(s_at, {}, { "CUPS_SERVER=" + cups_server() }); };
        ASSERT_NO_FATAL_FAILURE(start_to_sign_in(start));
        ASSERT_NO_FATAL_FAILURE(restart_if_updated(start));
        ASSERT_NO_FATAL_FAILURE(e2e::sign_in_counter(s_at));
        // The panel's script is the board's last but one; the page is ready once all of them ran.
        ASSERT_TRUE(e2e::wait_for(
            [] { return value_of("document.readyState==='complete'&&typeof window.setPrinterHealth==='function'") == "true"; }, 10s));
    }

    static void TearDownTestSuite()
    {
        delete s_program;
        s_program = nullptr;
        s_printer.stop();
        s_cupsd.stop();
        s_at.platform.stop();
    }

    static std::string cups_server() { return "127.0.0.1:" + std::to_string(s_cups_port); }
    static int run_tool(std::vector<std::string> const& argv)
    {
        e2e::Child tool = e2e::Child::start(argv, {}, s_at.root + "/cups-tool.log");
        return tool.wait_for_exit(std::chrono::seconds(10)).value_or(-1);
    }
    static void start_cupsd()
    {
        // The back ends run as the spooler's own user and must reach the job files.
        ::chmod(s_at.root.c_str(), 0755);
        std::string dir = s_at.root + "/cups";
        ::mkdir(dir.c_str(), 0755);
        for (char const* folder : { "spool", "tmp", "cache", "state", "log" })
            ::mkdir((dir + "/" + folder).c_str(), 0755);
        s_cups_port = e2e::free_port();
        e2e::write_text(dir + "/cupsd.conf", "Listen 127.0.0.1:" + std::to_string(s_cups_port) + "\n" + cupsd_conf);
        e2e::write_text(dir + "/cups-files.conf",
            "ServerRoot " + dir + "\nRequestRoot " + dir + "/spool\nTempDir " + dir + "/tmp\nCacheDir " + dir
                + "/cache\nStateDir " + dir + "/state\nErrorLog " + dir + "/log/error_log\nAccessLog " + dir
                + "/log/access_log\nPageLog " + dir + "/log/page_log\nServerBin /usr/lib/cups\nDataDir /usr/share/cups\n");
        s_cupsd = e2e::Child::start({ "/usr/sbin/cupsd", "-f", "-c", dir + "/cupsd.conf", "-s", dir + "/cups-files.conf" }, {},
            dir + "/cupsd.out");
        ASSERT_TRUE(e2e::wait_for([] { return run_tool({ "lpstat", "-h", cups_server(), "-r" }) == 0; }, 10s))
            << e2e::read_text(dir + "/cupsd.out") << e2e::read_text(dir + "/log/error_log");
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
        return ::stat(job_path(n, "bin").c_str(), &st) == 0;
    }
    static long long create_order(std::string const& body)
    {
        auto answer = e2e::http(s_at.control, "POST", "/control/orders", body);
        EXPECT_EQ(answer.status, 200) << answer.body;
        return std::atoll(e2e::json_field(answer.body, "orderidx").c_str());
    }
    static void click(std::string const& selector)
    {
        EXPECT_EQ(value_of("(function(){var n=document.querySelector(" + quote(selector) + ");if(!n)return false;n.click();return true;})()"),
            "true")
            << selector;
    }
    static std::string quote(std::string const& text) { return "'" + text + "'"; }

    static inline e2e::Child s_printer;
    static inline e2e::Child s_cupsd;
    static inline int s_cups_port = 0;
    static inline std::string s_jobs;
    static inline std::string s_state;
    static inline int s_printer_port = 0;
    static inline int s_job = 0;
};

// The paper's text lines: the decoded job without its command tags, with
// the trailing blanks and the empty lines at the end gone.
std::vector<std::string> paper_lines(std::string text)
{
    text = std::regex_replace(text, std::regex("\\[[^\\]\\n]*\\]"), "");
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        lines.push_back(line);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines;
}

TEST_F(PrintingEndToEnd, PrinterSetUpThroughThePanelPrintsATestPage)
{
    value_of("document.getElementById('printerBtn').click();true");
    ASSERT_TRUE(e2e::wait_for([] { return value_of("!document.getElementById('printerSetup').classList.contains('hidden')") == "true"; }, 5s));
    // The LAN search is offered here; it is not run: the tests never reach the machine's LAN.
    EXPECT_EQ(value_of("!document.getElementById('prnFind').classList.contains('hidden')"), "true");
    click("#prnKind [data-value=\"tcp\"]");
    value_of("document.getElementById('prnIp').value='127.0.0.1';document.getElementById('prnPort').value='"
        + std::to_string(s_printer_port) + "';true");
    click("#prnSaveLink");
    std::string address = "tcp|127.0.0.1|" + std::to_string(s_printer_port);
    ASSERT_TRUE(e2e::wait_for([&] { return e2e::read_text(s_at.pos + "/tillbay.ini").find("connection=" + address) != std::string::npos; }, 10s))
        << e2e::read_text(s_at.pos + "/tillbay.ini") << e2e::read_text(s_at.bridge_log);
    std::string via = "LAN 127.0.0.1:" + std::to_string(s_printer_port);
    EXPECT_TRUE(e2e::wait_for([&] { return text_of("document.getElementById('prnVia').textContent") == via; }, 5s))
        << text_of("document.getElementById('prnVia').textContent");
    EXPECT_TRUE(e2e::wait_for([] { return text_of("document.getElementById('prnState').textContent") == "정상"; }, 10s))
        << text_of("document.getElementById('prnState').textContent");

    // Paper width 58 mm, stored at once.
    click("#prnWidth [data-value=\"58\"]");
    EXPECT_TRUE(e2e::wait_for([] { return e2e::read_text(s_at.pos + "/tillbay.ini").find("width") != std::string::npos; }, 5s));
    EXPECT_TRUE(e2e::wait_for([] { return value_of("TW.printCfg.width") == "58"; }, 5s));
    snapshot("01-printer-setup");
    value_of("var b=document.querySelector('#printerSetup .prn-body');b.scrollTop=b.scrollHeight;true");
    snapshot("02-printer-setup-lower");
    click(".prn-tab[data-target=\"k\"]");
    EXPECT_TRUE(e2e::wait_for([] { return value_of("document.getElementById('printerSetup').classList.contains('prn-kitchen')") == "true"; }, 5s));
    value_of("document.querySelector('#printerSetup .prn-body').scrollTop=0;true");
    snapshot("03-printer-setup-kitchen");
    click(".prn-tab[data-target=\"r\"]");

    click(".prn-prints .btn");
    ASSERT_TRUE(e2e::wait_for([] { return job_arrived(s_job + 1); }, 10s)) << e2e::read_text(s_at.bridge_log);
    ++s_job;
    std::string text = e2e::read_text(job_path(s_job, "txt"));
    EXPECT_NE(text.find("시험 인쇄"), std::string::npos) << text;
    EXPECT_NE(text.find("용지폭 58mm (32글자)"), std::string::npos) << text;
    // The job's outcome comes back as the status message.
    EXPECT_TRUE(e2e::wait_for([] { return text_of("document.getElementById('statusLine').textContent") == "프린터로 인쇄 데이터를 전송했습니다"; }, 10s))
        << text_of("document.getElementById('statusLine').textContent");
    click("#printerSetup .prn-head .btn");
    // The board's header shows the printer's state.
    EXPECT_TRUE(e2e::wait_for([] { return text_of("document.getElementById('printerHealth').textContent").find("정상") != std::string::npos; }, 10s));

    // The POS settings panel has a printer section that leads to the panel.
    value_of("openPosSettings('printer');true");
    ASSERT_TRUE(e2e::wait_for([] { return value_of("document.querySelectorAll('#posSettings .prn-summary-line').length") == "2"; }, 10s));
    snapshot("04-pos-settings-printer");
    click("#posSettings [data-section=\"printer\"] .btn.primary");
    EXPECT_EQ(value_of("!document.getElementById('printerSetup').classList.contains('hidden')"), "true");
    EXPECT_EQ(value_of("document.getElementById('posSettings').classList.contains('hidden')"), "true");
    click("#printerSetup .prn-head .btn");
}

// 프린터 찾기 opens with this PC's printers (the LAN search waits for its
// 검색 button: the tests never reach the machine's LAN); picking the
// spooler's queue fills the connection, 연결 저장 stores it, and a test page
// goes through the queue to the printer.
TEST_F(PrintingEndToEnd, PickingThisPcsQueueInTheSearchPrintsThroughIt)
{
    // Back to the network printer for the tests that follow, however this one ends.
    struct Restore {
        ~Restore()
        {
            value_of("TW.send('setprintlink','r','tcp|127.0.0.1|" + std::to_string(s_printer_port) + "');true");
            EXPECT_TRUE(e2e::wait_for(
                [] { return e2e::read_text(s_at.pos + "/tillbay.ini").find("connection=tcp|") != std::string::npos; }, 10s));
            value_of("document.querySelector('#printerSetup .prn-head .btn').click();true");
        }
    } restore;
    value_of("document.getElementById('printerBtn').click();true");
    ASSERT_TRUE(e2e::wait_for([] { return value_of("!document.getElementById('printerSetup').classList.contains('hidden')") == "true"; }, 5s));
    click("#prnFind");
    std::string row = "Array.prototype.filter.call(document.querySelectorAll('#prnSearch .psr-local .psr-row'),"
                      "function(r){return r.querySelector('.psr-name').textContent==='tb_counter';})[0]";
    ASSERT_TRUE(e2e::wait_for([&] { return value_of("!!" + row) == "true"; }, 10s))
        << text_of("document.getElementById('prnSearch').textContent") << e2e::read_text(s_at.bridge_log);
    EXPECT_EQ(text_of(row + ".querySelector('.psr-kind').textContent"), "인쇄 큐 · 네트워크");
    EXPECT_EQ(value_of("document.querySelector('#prnSearch .psr-start').classList.contains('hidden')"), "false");
    EXPECT_EQ(e2e::read_text(s_at.bridge_log).find("discoverprinters"), std::string::npos) << "no LAN search was started";
    value_of("document.getElementById('prnSearch').scrollIntoView();true");
    snapshot("02b-printer-search");

    value_of(row + ".querySelector('.psr-select').click();true");
    EXPECT_EQ(value_of("document.getElementById('prnSearch').classList.contains('hidden')"), "true");
    EXPECT_EQ(value_of("document.querySelector('#prnKind [data-value=\"queue\"]').classList.contains('on')"), "true");
    EXPECT_EQ(text_of("document.getElementById('prnQueue').value"), "tb_counter");
    // Nothing is stored before 연결 저장.
    EXPECT_EQ(e2e::read_text(s_at.pos + "/tillbay.ini").find("connection=queue|"), std::string::npos);
    click("#prnSaveLink");
    ASSERT_TRUE(e2e::wait_for([] { return e2e::read_text(s_at.pos + "/tillbay.ini").find("connection=queue|tb_counter") != std::string::npos; }, 10s))
        << e2e::read_text(s_at.pos + "/tillbay.ini");
    EXPECT_TRUE(e2e::wait_for([] { return text_of("document.getElementById('prnVia').textContent").find("tb_counter") != std::string::npos; }, 5s))
        << text_of("document.getElementById('prnVia').textContent");

    click(".prn-prints .btn");
    ASSERT_TRUE(e2e::wait_for([] { return job_arrived(s_job + 1); }, 30s)) << e2e::read_text(s_at.bridge_log);
    ++s_job;
    EXPECT_NE(e2e::read_text(job_path(s_job, "txt")).find("시험 인쇄"), std::string::npos);

}

TEST_F(PrintingEndToEnd, ReceiptOnScreenMatchesThePaperAndAMemoCannotOpenTheDrawer)
{
    // The request carries ESC p 0 25 25: a drawer pulse, were it sent as it is.
    long long orderidx = create_order(
        R"({"store":1,"kind":"table","table":5,"pay":"paid","memo":"덜 맵게 해 주세요\u001bp\u0000\u0019\u0019","lines":[{"mname":"김치찌개","qty":2,"price":9000},{"mname":"공기밥","qty":1,"price":1000}]})");
    ASSERT_GT(orderidx, 0);
    std::string card = "'.card[data-orderidx=\"" + std::to_string(orderidx) + "\"]'";
    ASSERT_TRUE(e2e::wait_for([&] { return value_of("!!document.querySelector(" + card + ")") == "true"; }, 10s));
    value_of("document.querySelector(" + card + ").click();true");
    ASSERT_TRUE(e2e::wait_for([] { return value_of("!!document.getElementById('receiptViewBtn')") == "true"; }, 10s));
    snapshot("05-detail-receipt-buttons");
    click("#receiptViewBtn");
    ASSERT_TRUE(e2e::wait_for([] { return value_of("Array.isArray(TW.receiptLines)") == "true"; }, 10s)) << e2e::read_text(s_at.bridge_log);
    value_of("document.querySelector('#orderDetail .rv-paper').scrollIntoView();true");
    snapshot("06-receipt-view");

    click("#receiptPrintBtn");
    ASSERT_TRUE(e2e::wait_for([] { return job_arrived(s_job + 1); }, 10s)) << e2e::read_text(s_at.bridge_log);
    ++s_job;
    std::string bytes = e2e::read_text(job_path(s_job, "bin"));
    std::string text = e2e::read_text(job_path(s_job, "txt"));
    EXPECT_EQ(text.find("[drawer pulse"), std::string::npos) << text;
    EXPECT_EQ(bytes.find("\x1bp"), std::string::npos);
    EXPECT_NE(text.find("덜 맵게 해 주세요p"), std::string::npos) << text;

    // The paper's lines, without the reprint's own note, are the page's.
    std::vector<std::string> paper;
    for (auto const& line : paper_lines(text)) {
        if (!line.starts_with("(재발행 "))
            paper.push_back(line);
    }
    // The page's lines, percent-encoded so that they come back as plain ASCII.
    std::string encoded = text_of("encodeURIComponent(TW.receiptLines.join('\\n'))");
    std::string unescaped;
    for (size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '%' && i + 2 < encoded.size()) {
            unescaped += static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            unescaped += encoded[i];
        }
    }
    std::vector<std::string> screen = paper_lines(unescaped);
    EXPECT_EQ(screen, paper) << "screen:\n" << unescaped << "\npaper:\n" << text;
    EXPECT_GE(paper.size(), 20u);
}

TEST_F(PrintingEndToEnd, PaperOutShowsOnTheBoardAndRefusesTheReceipt)
{
    e2e::write_text(s_state, "paper-out\n");
    value_of("TW.send('printerstatus');true");
    ASSERT_TRUE(e2e::wait_for([] { return text_of("document.getElementById('printerHealth').textContent").find("용지 없음") != std::string::npos; }, 10s))
        << text_of("document.getElementById('printerHealth').textContent");
    EXPECT_EQ(value_of("document.querySelector('#printerHealth .printer-pill').classList.contains('prn-state-paper-out')"), "true");
    snapshot("07-paper-out");

    if (value_of("!!document.getElementById('receiptPrintBtn')") == "true") {
        int before = s_job;
        click("#receiptPrintBtn");
        EXPECT_TRUE(e2e::wait_for(
            [] { return text_of("document.getElementById('statusLine').textContent") == "프린터에 용지가 없습니다. 용지를 넣은 뒤 다시 인쇄하세요"; },
            10s))
            << text_of("document.getElementById('statusLine').textContent");
        EXPECT_FALSE(job_arrived(before + 1)) << "nothing reached the printer";
    }

    e2e::write_text(s_state, "ok\n");
    value_of("TW.send('printerstatus');true");
    EXPECT_TRUE(e2e::wait_for([] { return text_of("document.getElementById('printerHealth').textContent").find("정상") != std::string::npos; }, 10s));
}

} // namespace

#include "foundation/settings.h"
#include "printing/printer_setup_family.h"
#include "printing/receipt_family.h"
#include "session/session.h"
#include "settings_file.h"
#include "tests/unit/orders/recording_page.h"
#include "tools/printer/printer_status.h"

#include <gtest/gtest.h>

using namespace tillbay;
using namespace tillbay::printing;
using test::RecordingPage;

namespace {

bridge::Command command(std::vector<std::string> fields)
{
    bridge::Command c;
    c.fields = std::move(fields);
    return c;
}

struct Printed {
    std::string connection;
    std::string bytes;
};

class PrinterSetup : public ::testing::Test {
protected:
    PrinterSetupFamily family()
    {
        PrinterSetupHooks hooks;
        hooks.usb_printer_present = [] { return false; };
        hooks.print = [this](PrinterRecord const& record, std::string_view bytes, long long) -> Status {
            printed.push_back({ record.connection, std::string(bytes) });
            if (fail_print)
                return Error::with_message("프린터 없음으로 설정되어 있습니다 (설정 → 프린터 연결)");
            return {};
        };
        hooks.health = [](PrinterRecord const& record) {
            return Health { record.connection.starts_with("tcp") ? HealthState::PaperOut : HealthState::Online };
        };
        return PrinterSetupFamily(std::move(hooks));
    }

    std::vector<std::string> run(std::vector<std::string> fields)
    {
        RecordingPage page;
        auto f = family();
        EXPECT_EQ(f.runs(fields[0]), bridge::Runs::OnLane) << fields[0];
        EXPECT_EQ(f.handle(command(fields), page), bridge::Handled::Yes) << fields[0];
        return page.said;
    }

    test::SettingsFile file { "[PRINTER]\r\nname=Counter\r\nconnection=tcp|192.168.0.50|9100\r\nwidth=58\r\n"
                              "[DRAWER]\r\npin=5\r\n[KITCHEN]\r\nconnection=inherit\r\n" };
    std::vector<Printed> printed;
    bool fail_print = false;
};

TEST_F(PrinterSetup, GetPrintCfgAndGetKitchenCfg)
{
    EXPECT_EQ(run({ "getprintcfg" }),
        std::vector<std::string> { R"(setPrintCfg({"direct":1,"via":"LAN 192.168.0.50:9100","name":"Counter","width":58,)"
                                   R"("cols":0,"colsauto":32,"linespacing":0,"biggap":10,"codepage":949,"cut":1,"drawer":1,)"
                                   R"("pin":5,"cancelreceipt":1,"kname":"","kvia":"LAN 192.168.0.50:9100","kauto":0,"kwidth":58,)"
                                   R"("kcols":0,"kcolsauto":32}))" });
    EXPECT_EQ(run({ "getkitchencfg" }),
        std::vector<std::string> { R"(setKitchenCfg({"direct":1,"name":"","via":"LAN 192.168.0.50:9100","auto":0,"width":58,)"
                                   R"("cols":0,"colsauto":32,"when":1,"font":1,"top":1,"bottom":1,"order":0,"lsp":0,"szname":0,)"
                                   R"("bname":1,"szopt":0,"bopt":0,"szno":0,"bno":1,"sztotal":0,"btotal":1,"szmemo":0,"bmemo":0,"cut":1}))" });
}

TEST_F(PrinterSetup, SetPrintCfgChecksEveryValue)
{
    struct Case {
        std::string key;
        std::string value;
        std::string status; // "" when the command is ignored
    };
    std::vector<Case> const cases {
        { "width", "80", "status:저장했습니다" },
        { "cols", "-5", "status:저장했습니다" },
        { "width", "72x", "status:설정을 저장하지 못했습니다" },
        { "width", "", "status:설정을 저장하지 못했습니다" },
        { "linespacing", "1234567890", "status:설정을 저장하지 못했습니다" },
        { "codepage", "949", "status:저장했습니다" },
        { "codepage", "12345", "status:설정을 저장하지 못했습니다" },
        { "name", "주방 프린터", "status:저장했습니다" },
        { "name", "Counter\r\n[SERVER]", "status:설정을 저장하지 못했습니다" },
        { "name", "tab\there", "status:설정을 저장하지 못했습니다" },
        { "name", std::string(128, 'n'), "status:설정을 저장하지 못했습니다" },
        { "kwidth", "80", "status:저장했습니다" },
        { "pin", "2", "status:저장했습니다" },
        { "color", "red", "" },
        { "kconnection", "none", "" },
    };
    for (auto const& c : cases) {
        auto said = run({ "setprintcfg", c.key, c.value });
        if (c.status.empty()) {
            EXPECT_TRUE(said.empty()) << c.key;
            continue;
        }
        ASSERT_EQ(said.size(), 2u) << c.key;
        EXPECT_EQ(said[0], c.status) << c.key << "=" << c.value;
        EXPECT_TRUE(said[1].starts_with("setPrintCfg(")) << c.key;
    }
    EXPECT_TRUE(run({ "setprintcfg", "width" }).empty()) << "fewer than two arguments";
    std::string content = file.read();
    EXPECT_NE(content.find("width= 80"), std::string::npos) << content;
    EXPECT_NE(content.find("name= 주방 프린터"), std::string::npos) << content;
    EXPECT_EQ(content.find("[SERVER]"), std::string::npos) << content;
    EXPECT_EQ(settings::read_int("KITCHEN", "width", 0), 80);
    EXPECT_EQ(settings::read_int("DRAWER", "pin", 0), 2);
}

TEST_F(PrinterSetup, SetKitchenCfg)
{
    auto said = run({ "setkitchencfg", "font=9&when=0&color=red&flag&name=%EC%A3%BC%EB%B0%A9" });
    ASSERT_EQ(said.size(), 2u);
    EXPECT_EQ(said[0], "status:저장했습니다");
    EXPECT_NE(said[1].find("\"when\":0,\"font\":3"), std::string::npos) << said[1];
    EXPECT_NE(said[1].find("\"name\":\"주방\""), std::string::npos) << said[1];
    EXPECT_EQ(settings::read_int("KITCHEN", "font", 0), 9) << "stored as given; the reader clamps";

    EXPECT_EQ(run({ "setkitchencfg" })[0], "status:설정을 저장하지 못했습니다") << "nothing to save is not a success";
    EXPECT_EQ(run({ "setkitchencfg", "color=red" })[0], "status:설정을 저장하지 못했습니다");
    EXPECT_EQ(run({ "setkitchencfg", "top=2&name=a%0D%0Ab&bottom=x" })[0], "status:설정을 다 저장하지 못했습니다");
    EXPECT_EQ(settings::read_int("KITCHEN", "top", 0), 2);
    EXPECT_EQ(settings::read_text("KITCHEN", "name", 128), "주방");
}

TEST_F(PrinterSetup, SetPrintLink)
{
    EXPECT_EQ(run({ "setprintlink", "r", "inherit" }), std::vector<std::string> { "printLinkSaved(false)" });
    EXPECT_EQ(run({ "setprintlink", "r", "tcp|300.1.1.1|9100" }), std::vector<std::string> { "printLinkSaved(false)" });
    EXPECT_TRUE(run({ "setprintlink", "x", "none" }).empty());
    auto said = run({ "setprintlink", "k", "tcp|192.168.0.60|9100" });
    ASSERT_EQ(said.size(), 3u);
    EXPECT_EQ(said[0], "printLinkSaved(true)");
    EXPECT_NE(said[1].find("\"kvia\":\"LAN 192.168.0.60:9100\""), std::string::npos) << said[1];
    EXPECT_TRUE(said[2].starts_with("setKitchenCfg("));
}

TEST_F(PrinterSetup, PrintQueueList)
{
    EXPECT_EQ(printer_list_json({ { "Counter", "USB" }, { "주방 \"2\"", "네트워크" } }),
        R"([{"n":"Counter","p":"USB"},{"n":"주방 \"2\"","p":"네트워크"}])");
}

TEST_F(PrinterSetup, SetUpPrints)
{
    EXPECT_EQ(run({ "printtest" }), std::vector<std::string> { "status:시험 인쇄를 보냈습니다" });
    EXPECT_EQ(run({ "printruler" }), std::vector<std::string> { "status:시험 인쇄를 보냈습니다" });
    EXPECT_TRUE(run({ "printsettings" }).empty());
    EXPECT_EQ(run({ "printspacing" }), std::vector<std::string> { "status:줄간격 견본을 보냈습니다" });
    ASSERT_EQ(printed.size(), 4u);
    EXPECT_EQ(printed[0].connection, "tcp|192.168.0.50|9100");
    EXPECT_NE(printed[0].bytes.find("\xBD\xC3\xC7\xE8 \xC0\xCE\xBC\xE2"), std::string::npos) << "시험 인쇄 in code page 949";
    EXPECT_NE(printed[3].bytes.find("\x1b" "3\x24"), std::string::npos) << "the 36-dot sample";
    fail_print = true;
    EXPECT_EQ(run({ "printsettings" }),
        std::vector<std::string> { "status:시험 인쇄 실패 — 프린터 없음으로 설정되어 있습니다 (설정 → 프린터 연결)" });
    EXPECT_EQ(run({ "printspacing" }),
        std::vector<std::string> { "status:인쇄 실패 — 프린터 없음으로 설정되어 있습니다 (설정 → 프린터 연결)" });
}

TEST_F(PrinterSetup, PrinterStatus)
{
    EXPECT_EQ(run({ "printerstatus" }),
        std::vector<std::string> { R"(setPrinterHealth({"receipt":{"state":"paper-out","text":"용지 없음","via":"LAN 192.168.0.50:9100"},)"
                                   R"("kitchen":{"state":"paper-out","text":"용지 없음","via":"LAN 192.168.0.50:9100","same":true}}))" });
    file.write("[PRINTER]\r\nconnection=tcp|192.168.0.50|9100\r\n[KITCHEN]\r\nconnection=com|COM1|9600|8|N|1|none|v1\r\n");
    auto said = run({ "printerstatus" });
    EXPECT_NE(said[0].find(R"("kitchen":{"state":"online","text":"정상","via":"COM1 / 9600 / 8N1","same":false})"), std::string::npos)
        << said[0];
}

TEST(PrinterHealthStatus, StatusAnswers)
{
    struct Case {
        std::string answers;
        HealthState state;
    };
    std::vector<Case> const cases {
        { "\x12\x12\x12", HealthState::Online },
        { "\x12\x12\x1e", HealthState::PaperNearEnd },
        { "\x1a\x32\x7e", HealthState::PaperOut },
        { "\x1a\x12\x72", HealthState::PaperOut },
        { "\x1a\x16\x12", HealthState::CoverOpen },
        { "\x1a\x52\x12", HealthState::Offline },
        { "\x12\x12", HealthState::Unknown },
        { "abc", HealthState::Unknown },
        { "\x92\x12\x12", HealthState::Unknown },
    };
    for (auto const& c : cases)
        EXPECT_EQ(read_status(c.answers).state, c.state) << c.answers.size();
    // The virtual printer's answers read as the state it was set to.
    struct Report {
        char const* word;
        HealthState state;
    };
    for (auto const& r : std::vector<Report> { { "ok", HealthState::Online }, { "near-end", HealthState::PaperNearEnd },
             { "paper-out", HealthState::PaperOut }, { "cover-open", HealthState::CoverOpen },
             { "offline", HealthState::Offline } }) {
        auto report = *printer::paper_report(r.word);
        std::string answers { printer::status_answer(report, 1), printer::status_answer(report, 2),
            printer::status_answer(report, 4) };
        EXPECT_EQ(read_status(answers).state, r.state) << r.word;
    }
    EXPECT_TRUE(Health { HealthState::PaperOut }.blocks_printing());
    EXPECT_TRUE(Health { HealthState::CoverOpen }.blocks_printing());
    EXPECT_FALSE(Health { HealthState::PaperNearEnd }.blocks_printing());
    EXPECT_FALSE(Health { HealthState::Unknown }.blocks_printing());
}

class ReceiptCommands : public ::testing::Test {
protected:
    void SetUp() override { session::set_staff(7, 1001, "틸베이 한식당", false); }
    void TearDown() override { session::reset(); }

    Receipts receipts()
    {
        ReceiptHooks hooks;
        hooks.store_call = [this](std::string_view command) -> Result<api::StoreResult> {
            sent.emplace_back(command);
            if (!reachable)
                return Error::with_message("서버에 연결하지 못했습니다");
            api::StoreResult result;
            result.resultCode = code;
            result.message = message;
            result.resultData = R"({"shopname":"틸베이","ordernum":"17","idate":"2024-05-01 12:30","paymethod":"CASH",)"
                                R"("totalamount":9000,"payamount":9000,"vat":0,"menus":[{"mname":"김치찌개","qty":1,"price":9000,"amount":9000}]})";
            return result;
        };
        hooks.print = [this](PrinterRecord const&, std::string_view bytes, long long tag) -> Status {
            printed.emplace_back(bytes);
            EXPECT_EQ(tag, 0);
            return {};
        };
        hooks.now = [] { return std::time_t { 1714530600 }; };
        return Receipts(std::move(hooks));
    }

    std::vector<std::string> run(std::vector<std::string> fields)
    {
        auto r = receipts();
        ReceiptFamily family(r, [] { return std::time_t { 1714530600 }; });
        RecordingPage page;
        EXPECT_EQ(family.runs(fields[0]), bridge::Runs::OnLane);
        EXPECT_EQ(family.handle(command(fields), page), bridge::Handled::Yes);
        return page.said;
    }

    test::SettingsFile file { "[PRINTER]\r\nconnection=tcp|192.168.0.50|9100\r\n" };
    std::vector<std::string> sent;
    std::vector<std::string> printed;
    bool reachable = true;
    std::string code = "0";
    std::string message;
};

TEST_F(ReceiptCommands, PrintReceipt)
{
    EXPECT_EQ(run({ "printreceipt", "41", "0", "1", "0" }), std::vector<std::string> { "status:영수증 인쇄 요청을 보냈습니다" });
    EXPECT_EQ(sent, std::vector<std::string> { "cmd=125&storeidx=7&orderidx=41" });
    ASSERT_EQ(printed.size(), 1u);
    EXPECT_NE(printed[0].find("(\xC0\xE7\xB9\xDF\xC7\xE0 "), std::string::npos) << "a reissue says so";
    EXPECT_EQ(run({ "printreceipt", "41", "1", "0", "0" }), std::vector<std::string> { "status:취소 영수증 인쇄 요청을 보냈습니다" });
    reachable = false;
    EXPECT_EQ(run({ "printreceipt", "41", "0", "0", "0" }), std::vector<std::string> { "status:영수증 정보를 받지 못했습니다" });
    reachable = true;
    code = "9";
    message = "없는 주문입니다";
    EXPECT_EQ(run({ "printreceipt", "41", "0", "0", "0" }), std::vector<std::string> { "status:없는 주문입니다" });
}

TEST_F(ReceiptCommands, PrinterSetToNone)
{
    file.write("[PRINTER]\r\nconnection=none\r\n");
    EXPECT_EQ(run({ "printreceipt", "41", "0", "1", "0" }),
        std::vector<std::string> { "status:프린터 없음으로 설정되어 있어 인쇄하지 않았습니다 (설정 → 프린터 연결)" });
    EXPECT_TRUE(run({ "printreceipt", "41", "0", "0", "0" }).empty()) << "silent unless asked for explicitly";
    EXPECT_TRUE(printed.empty());
}

TEST_F(ReceiptCommands, ReceiptView)
{
    auto said = run({ "receiptview", "41", "0", "0" });
    ASSERT_EQ(said.size(), 1u);
    EXPECT_TRUE(said[0].starts_with(R"(setReceiptView(41,[{"t":"sec","n":"title"},)")) << said[0];
    EXPECT_TRUE(said[0].ends_with("])")) << said[0];
    EXPECT_TRUE(printed.empty());
    reachable = false;
    EXPECT_EQ(run({ "receiptview", "41", "0", "0" }),
        (std::vector<std::string> { "status:영수증 정보를 받지 못했습니다", "setReceiptView(41,null)" }));
}

} // namespace

// The files the owner keeps, end to end: the running program, signed in as
// the owner, saves the mall's shipping list as a workbook and as CSV from the
// bulk-shipping page, uploads a sideways phone photo from the product page to
// the platform's photo service (it arrives upright at 1280 px), saves the
// table QR stickers as PNG files a QR reader decodes back to the table links,
// reads an invoice workbook made by LibreOffice into the page's rows, and
// saves the blank invoice template the page builds.
// Every file dialog is answered by the folder in TILLBAY_DIALOG_PATH.

#include "e2e_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

using namespace std::chrono_literals;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

std::string run(std::string const& command) { return e2e::command_output(command); }

// The phone's EXIF block with only the orientation tag, right after the start marker.
std::string with_orientation(std::string const& jpeg, int orientation)
{
    std::string tiff = "II*\0\x08\0\0\0"s "\x01\0"s "\x12\x01\x03\0\x01\0\0\0"s + std::string(1, static_cast<char>(orientation))
        + "\0\0\0"s + "\0\0\0\0"s;
    std::string exif = "Exif\0\0"s + tiff;
    size_t length = exif.size() + 2;
    return jpeg.substr(0, 2) + "\xFF\xE1"s + static_cast<char>(length >> 8) + static_cast<char>(length & 0xFF) + exif + jpeg.substr(2);
}

class FilesEndToEnd : public e2e::ProgramTest<FilesEndToEnd> {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_NO_FATAL_FAILURE(e2e::set_up_installation(s_at, "files", e2e::ServedUi::Copy));
        fs::create_directories(s_at.artefacts);
        s_dialogs = s_at.root + "/chosen";
        fs::create_directories(s_dialogs);
        // A landscape 4000x3000 picture stored sideways: its left half red.
        run("convert -size 2000x3000 xc:red -size 2000x3000 xc:blue +append -quality 90 '" + s_at.root + "/flat.jpg'");
        e2e::write_text(s_dialogs + "/sideways.jpg", with_orientation(e2e::read_text(s_at.root + "/flat.jpg"), 6));
        ASSERT_NO_FATAL_FAILURE(start_to_sign_in([] { return e2e::start_program(s_at, {}, { "TILLBAY_DIALOG_PATH=" + s_dialogs }); }));
        ASSERT_NO_FATAL_FAILURE(e2e::sign_in_counter(s_at));
        ASSERT_NO_FATAL_FAILURE(e2e::sign_in_owner(s_at));
    }
    static void TearDownTestSuite()
    {
        delete s_program;
        s_program = nullptr;
        s_at.platform.stop();
    }

    // A script's text value without its JSON quotes (the texts read here hold no escapes).
    static std::string string_of(std::string const& expression)
    {
        std::string value = value_of(expression);
        return value.size() >= 2 && value.front() == '"' && value.back() == '"' ? value.substr(1, value.size() - 2) : value;
    }
    static std::string text_of(std::string const& id) { return string_of("document.getElementById('" + id + "').textContent"); }
    // Waits until the main document is the page, loaded, and has asked for
    // its data (its set-up came after setVersion).
    static bool on_page(std::string const& page)
    {
        return e2e::wait_for([&] {
            std::string d = doc();
            std::string url = e2e::json_field(d, "url");
            return url.find("/merchant/" + page) != std::string::npos && e2e::json_field(d, "expected") == url
                && e2e::json_field(d, "ready") == "true"
                && value_of("location.pathname==='/merchant/" + page + "'&&!!(window.TW&&TW.M&&TW.M.asked)") == "true";
        }, 30s);
    }
    // Opens a page through a command of the program's own.
    static bool open(std::string const& command, std::string const& page)
    {
        value_of("tillwave.viewinfo('" + command + "');true");
        return on_page(page);
    }
    // Whether this program has no command to open a page (no navigation family).
    static bool unknown_command(std::string const& command)
    {
        return e2e::read_text(s_at.bridge_log).find("아직 붙이지 않은 기능입니다 (" + command + ")") != std::string::npos;
    }
    static void snapshot(std::string const& name)
    {
        std::this_thread::sleep_for(400ms);
        e2e::write_text(s_at.artefacts + "/" + name + ".png", e2e::http(s_at.automation, "GET", "/snapshot").body);
    }
    // Leaves only `file` (when given) for the next open dialog: the other
    // files of the dialog folder move to a folder of their own.
    static void offer_only(std::string const& file)
    {
        fs::create_directories(s_dialogs + "/kept");
        for (auto const& entry : fs::directory_iterator(s_dialogs))
            if (entry.is_regular_file())
                fs::rename(entry.path(), s_dialogs + "/kept/" + entry.path().filename().string());
        if (!file.empty())
            fs::copy_file(file, s_dialogs + "/" + fs::path(file).filename().string());
    }
    // The invoice table as text: rows split by "/", cells by "|", a row
    // marked as not uploadable starts with "!".
    static std::string invoice_rows()
    {
        return string_of("Array.from(document.querySelectorAll('#invRows tr')).map(function(tr){return (tr.className==='bad'?'!':'')"
                         "+Array.from(tr.cells).map(function(c){return c.textContent}).join('|')}).join('/')");
    }
    // Chooses the invoice file through the page and waits for its answer.
    static std::string choose_invoice_file()
    {
        value_of("document.getElementById('invState').textContent='';document.getElementById('import').click();true");
        e2e::wait_for([] {
            std::string state = text_of("invState");
            return !state.empty() && state.find("읽고 있습니다") == std::string::npos;
        }, 30s);
        return text_of("invState");
    }
    static bool open_mallship()
    {
        return open("storebulkship", "mallship.html") || on_page("mallship.html");
    }

    static std::string saved_with(std::string const& extension)
    {
        for (auto const& entry : fs::directory_iterator(s_dialogs))
            if (entry.path().extension() == extension)
                return entry.path();
        return {};
    }

    static inline std::string s_dialogs;
};

TEST_F(FilesEndToEnd, ShippingListSavedAsWorkbookAndCsv)
{
    if (!open("storebulkship", "mallship.html") && unknown_command("storebulkship"))
        GTEST_SKIP() << "the navigation family does not open mallship.html in this build";
    ASSERT_TRUE(on_page("mallship.html")) << doc();
    value_of("document.getElementById('expStatus').value='0';document.getElementById('expFrom').value='2000-01-01';"
             "document.getElementById('exportXlsx').click();true");
    ASSERT_TRUE(e2e::wait_for([] { return text_of("expState").find("건") != std::string::npos; }, 60s))
        << text_of("expState") << e2e::read_text(s_at.bridge_log);
    snapshot("files-mallship-xlsx");
    std::string book = saved_with(".xlsx");
    ASSERT_FALSE(book.empty());
    EXPECT_TRUE(e2e::read_text(book).starts_with("PK\x03\x04"));
    EXPECT_NE(run("unzip -l '" + book + "'").find("xl/worksheets/sheet1.xml"), std::string::npos);
    EXPECT_EQ(value_of("!document.getElementById('openFolder').hidden"), "true");

    value_of("document.getElementById('expState').textContent='';document.getElementById('exportCsv').click();true");
    ASSERT_TRUE(e2e::wait_for([] { return text_of("expState").find("건") != std::string::npos; }, 60s)) << text_of("expState");
    std::string csv = saved_with(".csv");
    ASSERT_FALSE(csv.empty());
    std::string content = e2e::read_text(csv);
    EXPECT_NE(content.find("주문번호"), std::string::npos);
    // The list as the server sent it: the CSV's data rows are the workbook's.
    std::string rows = text_of("expState");
    EXPECT_NE(rows.find(std::to_string(std::count(content.begin(), content.end(), '\n') - 1) + "건"), std::string::npos) << rows;
}

TEST_F(FilesEndToEnd, SidewaysPhotoUploadsUprightAt1280)
{
    ASSERT_TRUE(open("editproduct</>501", "productmodify.html")) << doc();
    value_of("document.getElementById('changePhoto').click();true");
    ASSERT_TRUE(e2e::wait_for([] { return text_of("photoState") == "사진을 올렸습니다."; }, 60s))
        << text_of("photoState") << e2e::read_text(s_at.bridge_log);
    std::string url = string_of("document.getElementById('mainPhoto').src");
    ASSERT_NE(url.find("/contractphoto/upload/"), std::string::npos) << url;
    snapshot("files-product-photo");
    std::string local = s_at.root + "/fetched.jpg";
    run("curl -s --noproxy '*' -o '" + local + "' '" + url + "'");
    EXPECT_EQ(run("identify -format '%wx%h' '" + local + "'"), "960x1280");
    // Upright: the stored picture's red left half is now the top.
    EXPECT_EQ(run("convert '" + local + "' -crop 1x1+480+100 -format '%[fx:r>0.6&&b<0.4]' info:"), "1");
    // The product now names the photo.
    EXPECT_NE(e2e::read_text(s_at.bridge_log).find("PHOTO"), std::string::npos);
}

TEST_F(FilesEndToEnd, TableQrStickersSavedAndReadBack)
{
    if (!open("storemanager", "info.html") && unknown_command("storemanager"))
        GTEST_SKIP() << "the navigation family does not open info.html in this build";
    ASSERT_TRUE(on_page("info.html")) << doc();
    ASSERT_TRUE(e2e::wait_for([] { return value_of("document.querySelectorAll('#qrGrid canvas').length>0") == "true"; }, 20s));
    std::string count = string_of("String(document.querySelectorAll('#qrGrid canvas').length)");
    value_of("document.getElementById('qrSaveAll').click();true");
    ASSERT_TRUE(e2e::wait_for([] { return text_of("qrState").find("저장했습니다") != std::string::npos; }, 60s))
        << text_of("qrState") << e2e::read_text(s_at.bridge_log);
    snapshot("files-table-qr");
    std::string folder;
    for (auto const& entry : fs::directory_iterator(s_dialogs))
        if (entry.is_directory() && entry.path().filename().string().starts_with("테이블QR_"))
            folder = entry.path();
    ASSERT_FALSE(folder.empty());
    int pngs = 0;
    for (auto const& entry : fs::directory_iterator(folder))
        pngs += entry.path().extension() == ".png";
    EXPECT_EQ(std::to_string(pngs), count);
    std::string decoded = run("zbarimg -q --raw '" + folder + "/1번.png'");
    EXPECT_NE(decoded.find("/t/"), std::string::npos) << decoded;
    EXPECT_NE(decoded.find("/1"), std::string::npos) << decoded;
}

// A workbook LibreOffice made from a CSV list: its texts are shared strings,
// its numbers number cells (1234567 and 12-digit invoice numbers in full), a
// literal "_x0041_" is stored escaped, and a blank line and an empty cell
// leave gaps. The page shows it as it shows a CSV file, marks the row without
// an invoice number and the one with a wrong order number, and saves those
// two with the header as a CSV file to fix and upload again.
TEST_F(FilesEndToEnd, InvoiceWorkbookShownAsRows)
{
    if (!open_mallship() && unknown_command("storebulkship"))
        GTEST_SKIP() << "the navigation family does not open mallship.html in this build";
    ASSERT_TRUE(on_page("mallship.html")) << doc();
    offer_only(TB_STORE_FIXTURES "/invoices.xlsx");
    std::string state = choose_invoice_file();
    EXPECT_EQ(state, "5줄 중 3줄을 올릴 수 있습니다 — 송장번호가 없거나 주문번호가 틀린 2줄은 빨간색입니다.") << e2e::read_text(s_at.bridge_log);
    EXPECT_EQ(invoice_rows(),
        "주문번호|택배사|송장번호|받는분|메모/9001|CJ대한통운|651200001111|김하나|문 앞/!9002|우체국택배||박둘/"
        "9003|CJ대한통운|1234567|김하나|경비실, 2층/!A-9004|한진택배|512300004444|이셋|코드_x0041_/9005|롯데택배|651200005555|최넷");
    snapshot("files-mallship-workbook-rows");

    ASSERT_EQ(value_of("document.getElementById('saveFailed').offsetParent!==null"), "true");
    value_of("document.getElementById('saveFailed').click();true");
    std::string failed;
    ASSERT_TRUE(e2e::wait_for([&] { return !(failed = saved_with(".csv")).empty(); }, 20s)) << e2e::read_text(s_at.bridge_log);
    ASSERT_TRUE(e2e::wait_for([&] { return e2e::read_text(failed).size() > 3; }, 10s));
    EXPECT_EQ(e2e::read_text(failed),
        "\xEF\xBB\xBF주문번호,택배사,송장번호,받는분,메모\r\n9002,우체국택배,,박둘\r\nA-9004,한진택배,512300004444,이셋,코드_x0041_\r\n");
}

// A file that passes for a workbook but is not one ends in one Korean
// message, with no rows left from the file before.
TEST_F(FilesEndToEnd, BrokenInvoiceWorkbookSaysSo)
{
    if (!open_mallship() && unknown_command("storebulkship"))
        GTEST_SKIP() << "the navigation family does not open mallship.html in this build";
    ASSERT_TRUE(on_page("mallship.html")) << doc();
    std::string good = e2e::read_text(TB_STORE_FIXTURES "/invoices.xlsx");
    ASSERT_GT(good.size(), 3000u);
    // A ZIP archive of one text file, as a workbook.
    e2e::write_text(s_at.root + "/note.txt", "메모");
    run("cd '" + s_at.root + "' && rm -f nosheet.zip && zip -q nosheet.zip note.txt");
    struct Case {
        char const* what;
        std::string bytes;
        char const* message;
    } const cases[] = {
        { "cut short", good.substr(0, 3000), "엑셀 파일을 읽지 못했어요" },
        { "ZIP signature then junk", "PK\x03\x04"s + std::string(2000, 'x'), "엑셀 파일을 읽지 못했어요" },
        { "ZIP without a sheet", e2e::read_text(s_at.root + "/nosheet.zip"), "시트를 찾지 못했어요" },
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.bytes.empty());
        // Rows of a good file first, so that leftovers would show.
        offer_only(TB_STORE_FIXTURES "/invoices.xlsx");
        ASSERT_NE(choose_invoice_file().find("줄 중"), std::string::npos);
        offer_only("");
        ASSERT_TRUE(e2e::write_text(s_dialogs + "/broken.xlsx", c.bytes));
        std::string state = choose_invoice_file();
        EXPECT_NE(state.find(c.message), std::string::npos) << state;
        EXPECT_TRUE(state.starts_with("broken.xlsx — ")) << state;
        EXPECT_EQ(invoice_rows(), "");
        EXPECT_EQ(value_of("document.getElementById('saveFailed').offsetParent"), "null");
    }
}

// «양식 받기» saves a workbook whose first row is the header the upload
// reads; chosen again, the page reads it back as that header and no rows.
TEST_F(FilesEndToEnd, BlankTemplateSavedAndReadBack)
{
    if (!open_mallship() && unknown_command("storebulkship"))
        GTEST_SKIP() << "the navigation family does not open mallship.html in this build";
    ASSERT_TRUE(on_page("mallship.html")) << doc();
    offer_only("");
    value_of("document.getElementById('template').click();true");
    std::string book = s_dialogs + "/송장_올리기_양식.xlsx";
    ASSERT_TRUE(e2e::wait_for([&] { return e2e::read_text(s_at.bridge_log).find("양식(xlsx) 저장") != std::string::npos; }, 20s))
        << e2e::read_text(s_at.bridge_log);
    std::string bytes = e2e::read_text(book);
    ASSERT_TRUE(bytes.starts_with("PK\x03\x04"));
    EXPECT_NE(run("unzip -t '" + book + "'").find("No errors detected"), std::string::npos);
    EXPECT_EQ(run("unzip -Z1 '" + book + "'"),
        "[Content_Types].xml\n_rels/.rels\nxl/workbook.xml\nxl/_rels/workbook.xml.rels\nxl/styles.xml\nxl/worksheets/sheet1.xml\n");
    std::string sheet = run("unzip -p '" + book + "' xl/worksheets/sheet1.xml");
    size_t order = sheet.find(">주문번호<"), courier = sheet.find(">택배사<"), invoice = sheet.find(">송장번호<");
    ASSERT_NE(order, std::string::npos) << sheet;
    EXPECT_LT(order, courier);
    EXPECT_LT(courier, invoice);
    EXPECT_NE(invoice, std::string::npos);

    EXPECT_EQ(choose_invoice_file(), "0줄 중 0줄을 올릴 수 있습니다.");
    EXPECT_EQ(invoice_rows(), "주문번호|택배사|송장번호");

    // Where LibreOffice is installed, it opens the template too.
    if (run("command -v soffice").empty())
        return;
    std::string out = s_at.root + "/template-csv";
    fs::create_directories(out);
    run("cp '" + book + "' '" + out + "/template.xlsx' && cd '" + out + "' && timeout 120 soffice -env:UserInstallation=file://" + out
        + "/profile --headless --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76' template.xlsx >/dev/null 2>&1");
    EXPECT_EQ(e2e::read_text(out + "/template.csv"), "주문번호,택배사,송장번호\n");
}

// Hand-made workbooks through the page's own reader (fixtures/workbook_cases.js):
// shared, inline, formula, boolean and number cells, rich text with a
// phonetic guide left out, escapes, gaps, the first sheet found through the
// workbook's relationships or by its usual name, and every fault or limit
// ending in its one message.
TEST_F(FilesEndToEnd, WorkbookReaderCases)
{
    if (!open_mallship() && unknown_command("storebulkship"))
        GTEST_SKIP() << "the navigation family does not open mallship.html in this build";
    ASSERT_TRUE(on_page("mallship.html")) << doc();
    value_of(e2e::read_text(TB_STORE_FIXTURES "/workbook_cases.js") + ";true");
    ASSERT_TRUE(e2e::wait_for([] { return value_of("typeof window.workbookCases==='string'") == "true"; }, 60s));
    struct Case {
        char const* name;
        char const* answer; // the rows, or "!" and the start of the message
    } const cases[] = {
        { "types", "주문번호||송장번호/1234567|1234567|651200001111|0.3|-2.5/TRUE|FALSE|식3|||가 나|줄\\n바꿈 _x0041_" },
        { "firstSheetByRelationship", "첫째" },
        { "absoluteTarget", "|<절대>" },
        { "onlySheet1", "하나" },
        { "noSheet", "!엑셀 파일에서 시트를 찾지 못했어요" },
        { "brokenXml", "!엑셀 파일을 읽지 못했어요" },
        { "badSharedIndex", "!엑셀 파일을 읽지 못했어요" },
        { "tooManyColumns", "!칸이 너무 많아요(200칸까지)" },
        { "tooManyRows", "!줄이 너무 많아요(100,000줄까지)" },
        { "tooBig", "!엑셀 파일이 너무 커요" },
        { "encrypted", "!암호가 걸린 엑셀 파일이에요" },
    };
    for (auto const& c : cases) {
        std::string answer = string_of("JSON.parse(window.workbookCases)['"s + c.name + "']");
        EXPECT_TRUE(answer.starts_with(c.answer)) << c.name << ": " << answer;
        if (c.answer[0] != '!') {
            EXPECT_EQ(answer, c.answer) << c.name;
        }
    }
    // Nothing reached the console uncaught.
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(value_of("window.workbookFaults"), "0");
}

} // namespace


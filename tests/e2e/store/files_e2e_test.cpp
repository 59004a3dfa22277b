// The files the owner keeps, end to end: the running program, signed in as
// the owner, saves the mall's shipping list as a workbook and as CSV from the
// bulk-shipping page, uploads a sideways phone photo from the product page to
// the platform's photo service (it arrives upright at 1280 px), and saves the
// table QR stickers as PNG files a QR reader decodes back to the table links.
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

std::string run(std::string const& command)
{
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

// The phone's EXIF block with only the orientation tag, right after the start marker.
std::string with_orientation(std::string const& jpeg, int orientation)
{
    std::string tiff = "II*\0\x08\0\0\0"s "\x01\0"s "\x12\x01\x03\0\x01\0\0\0"s + std::string(1, static_cast<char>(orientation))
        + "\0\0\0"s + "\0\0\0\0"s;
    std::string exif = "Exif\0\0"s + tiff;
    size_t length = exif.size() + 2;
    return jpeg.substr(0, 2) + "\xFF\xE1"s + static_cast<char>(length >> 8) + static_cast<char>(length & 0xFF) + exif + jpeg.substr(2);
}

class FilesEndToEnd : public ::testing::Test {
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
        s_program = e2e::start_program(s_at, {}, { "TILLBAY_DIALOG_PATH=" + s_dialogs });
        ASSERT_TRUE(e2e::wait_for([] { return on_class(1); }, 45s)) << doc() << e2e::read_text(s_at.pos_log);
        ASSERT_TRUE(e2e::wait_for([] { return value_of("typeof window.setLoginMode==='function'&&document.readyState==='complete'") == "true"; }, 10s));
        value_of("document.getElementById('tabPos').click();document.getElementById('userId').value='tillbay01';"
                 "document.getElementById('userPw').value='pos1234!';document.getElementById('loginForm').requestSubmit();true");
        ASSERT_TRUE(e2e::wait_for([] { return on_class(2); }, 20s)) << e2e::read_text(s_at.bridge_log);
        value_of("tillwave.viewinfo('merchlogin</>owner01</>owner1234!');true");
        ASSERT_TRUE(e2e::wait_for([] { return e2e::read_text(s_at.bridge_log).find("가맹점 로그인 완료") != std::string::npos; }, 10s))
            << e2e::read_text(s_at.bridge_log);
    }
    static void TearDownTestSuite()
    {
        delete s_program;
        s_program = nullptr;
        s_at.platform.stop();
    }

    static std::string doc() { return e2e::http(s_at.automation, "GET", "/doc").body; }
    static bool on_class(int page_class)
    {
        std::string d = doc();
        return e2e::json_field(d, "class") == std::to_string(page_class) && e2e::json_field(d, "ready") == "true";
    }
    static std::string value_of(std::string const& expression)
    {
        return e2e::json_field(e2e::http(s_at.automation, "POST", "/eval", expression).body, "value");
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
    static std::string saved_with(std::string const& extension)
    {
        for (auto const& entry : fs::directory_iterator(s_dialogs))
            if (entry.path().extension() == extension)
                return entry.path();
        return {};
    }

    static inline e2e::Installation s_at;
    static inline e2e::Child* s_program = nullptr;
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

} // namespace

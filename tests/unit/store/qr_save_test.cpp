// Table QR stickers saved from the page: the folder the owner picks gets a
// dated folder holding one PNG per table, the save reports what it wrote and
// shows the folder, and a picture that is not a PNG (or comes without a
// folder) is refused with its message and stops the pictures after it.

#include "foundation/json_text.h"
#include "store/file_family.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace tillbay::store {
namespace {

namespace fs = std::filesystem;

class RecordingPage final : public bridge::Page {
public:
    void callback(std::string_view name, std::string_view args) override { said.push_back(std::string(name) + "(" + std::string(args) + ")"); }
    void status(std::string_view message) override { said.push_back("status:" + std::string(message)); }
    std::vector<std::string> said;
};

// Answers every folder choice with one folder, or cancels.
class FolderDialogs final : public os::dialog::Dialogs {
public:
    os::dialog::Answer ask(os::dialog::Request const& request) override
    {
        kinds.push_back(request.kind);
        if (folder.empty())
            return {};
        return { os::dialog::Answer::Outcome::Chosen, { folder } };
    }
    void show_in_folder(std::string const&) override { }
    std::string folder;
    std::vector<os::dialog::Kind> kinds;
};

std::string const png = std::string("\x89PNG\r\n\x1A\n", 8) + std::string("\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x02\0\0\0", 21);
std::string data_url(std::string const& bytes) { return "data:image/png;base64," + json::base64_encode(bytes); }

std::string read(fs::path const& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class QrSaveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("tb-qr-save-" + std::to_string(::getpid()));
        fs::create_directories(m_dir);
        m_dialogs.folder = m_dir.string();
        m_hooks.dialogs = &m_dialogs;
        m_hooks.show_in_folder = [this](std::string const& path) { m_shown.push_back(path); };
    }
    void TearDown() override
    {
        files::qrdone(command({ "qrdone" }), std::make_shared<RecordingPage>(), m_hooks); // leaves no save open
        fs::remove_all(m_dir);
    }
    static bridge::Command command(std::vector<std::string> fields) { return { std::move(fields) }; }
    void run(files::Handler handler, std::vector<std::string> fields) { handler(command(std::move(fields)), m_page, m_hooks); }
    std::string last() const { return m_page->said.empty() ? std::string() : m_page->said.back(); }

    fs::path m_dir;
    FolderDialogs m_dialogs;
    FileHooks m_hooks;
    std::shared_ptr<RecordingPage> m_page = std::make_shared<RecordingPage>();
    std::vector<std::string> m_shown;
};

TEST_F(QrSaveTest, EveryTableGoesIntoADatedFolder)
{
    run(files::saveqrtableall, { "saveqrtableall" });
    ASSERT_EQ(m_dialogs.kinds, std::vector<os::dialog::Kind> { os::dialog::Kind::Folder });
    std::vector<fs::path> made;
    for (auto const& entry : fs::directory_iterator(m_dir))
        made.push_back(entry.path());
    ASSERT_EQ(made.size(), 1u);
    std::string name = made[0].filename().string();
    EXPECT_TRUE(std::regex_match(name, std::regex("테이블QR_\\d{4}-\\d{2}-\\d{2}_\\d{4}"))) << name;
    EXPECT_EQ(last(), "onQrFolder({\"ok\":true,\"folder\":" + json::quote(made[0].string()) + "})");

    for (int n = 1; n <= 12; ++n) {
        run(files::qrpng, { "qrpng", std::to_string(n), data_url(png + std::to_string(n)) });
        EXPECT_EQ(last(), "onQrSaved({\"ok\":true,\"n\":" + std::to_string(n) + ",\"saved\":" + std::to_string(n) + ",\"msg\":\"\"})");
    }
    run(files::qrdone, { "qrdone" });
    EXPECT_NE(last().find("\"ok\":true,\"saved\":12"), std::string::npos) << last();
    EXPECT_NE(std::find(m_page->said.begin(), m_page->said.end(), "status:QR 12장을 저장했습니다"), m_page->said.end());
    EXPECT_EQ(read(made[0] / "7번.png"), png + "7");
    EXPECT_EQ(std::distance(fs::directory_iterator(made[0]), fs::directory_iterator()), 12);
    EXPECT_EQ(m_shown, std::vector<std::string> { (made[0] / "1번.png").string() });
}

TEST_F(QrSaveTest, OneStickerGoesIntoTheChosenFolderAndACancelSavesNothing)
{
    run(files::saveqrsticker, { "saveqrsticker" });
    run(files::qrpng, { "qrpng", "3", data_url(png) });
    run(files::qrdone, { "saveqrstickerdone" });
    EXPECT_EQ(read(m_dir / "3번.png"), png);

    m_dialogs.folder.clear();
    run(files::saveqrtableall, { "saveqrtableall" });
    EXPECT_EQ(last(), "onQrFolder({\"ok\":false,\"cancel\":true})");
    run(files::qrpng, { "qrpng", "1", data_url(png) });
    EXPECT_NE(last().find("QR 을 저장할 폴더를 먼저 고르십시오"), std::string::npos) << last();
}

TEST_F(QrSaveTest, ARefusedPictureStopsTheSave)
{
    struct Case {
        char const* number;
        std::string data;
        char const* message;
        bool stops; // a picture that was refused ends the save; a bad number refuses only its call
    };
    Case const cases[] = {
        { "1", "not a data url", "저장할 내용이 없습니다", true },
        { "1", "data:image/png;base64,!!!", "저장할 내용이 없습니다", true },
        { "1", data_url("\x89PNG"), "그림 크기가 맞지 않습니다", true },
        { "1", data_url(std::string("GIF89a") + std::string(40, 'x')), "받은 것이 PNG 그림이 아닙니다", true },
        { "0", data_url(png), "저장할 내용이 없습니다", false },
        { "12345", data_url(png), "저장할 내용이 없습니다", false },
        { "1/../x", data_url(png), "저장할 내용이 없습니다", false },
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(std::string(c.number) + " " + c.data.substr(0, 30));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        run(files::saveqrsticker, { "saveqrsticker" });
        run(files::qrpng, { "qrpng", c.number, c.data });
        EXPECT_NE(last().find("\"ok\":false"), std::string::npos) << last();
        EXPECT_NE(last().find(c.message), std::string::npos) << last();
        run(files::qrpng, { "qrpng", "2", data_url(png) });
        run(files::qrdone, { "qrdone" });
        EXPECT_EQ(last().find("\"ok\":false") != std::string::npos, c.stops) << last();
        EXPECT_EQ(fs::exists(m_dir / "2번.png"), !c.stops);
        EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), c.stops ? 0 : 1);
    }
}

} // namespace
} // namespace tillbay::store

#include "shell/app_queue.h"
#include "shell/main_window.h"

#include "os/fs.h"
#include "session/session.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tillbay;
using namespace tillbay::shell;

namespace {

struct RecordingPage final : bridge::Page {
    std::vector<std::string> calls;
    std::vector<std::string> statuses;
    void callback(std::string_view name, std::string_view args) override
    {
        calls.push_back(std::string(name) + "(" + std::string(args) + ")");
    }
    void status(std::string_view message) override { statuses.emplace_back(message); }
};

struct FakePort final : os::WindowPort {
    bool exists = true;
    bool monitor_known = true;
    bool spawn_ok = true;
    bool answer_yes = false;
    int enters = 0, leaves = 0, closes = 0, questions = 0, boxes = 0;
    std::string title;
    bool window_exists() const override { return exists; }
    void set_title(std::string_view t) override { title = t; }
    bool enter_fullscreen() override
    {
        ++enters;
        return monitor_known;
    }
    void leave_fullscreen() override { ++leaves; }
    void bring_to_front() override { }
    void minimize() override { }
    void request_close() override { ++closes; }
    bool start_new_process() override { return spawn_ok; }
    bool ask_yes_no(std::string_view, std::string_view) override
    {
        ++questions;
        return answer_yes;
    }
    void inform_box(std::string_view text) override
    {
        ++boxes;
        box_texts.emplace_back(text);
    }
    std::vector<std::string> box_texts;
};

std::string temp_dir()
{
    char pattern[] = "/tmp/tb-shell-XXXXXX";
    char* dir = mkdtemp(pattern);
    return dir ? dir : "/tmp";
}

} // namespace

TEST(AppQueue, OneWakeUpCoversEverythingPostedBeforeTheDrain)
{
    std::atomic<int> wakes { 0 };
    AppQueue queue([&] { ++wakes; });
    queue.post(AppMessageId::Drain);
    queue.post_text(AppMessageId::UpdateFailed, 0, "서버 응답 없음");
    queue.post(AppMessageId::NavRefresh);
    EXPECT_EQ(wakes.load(), 1);

    std::vector<AppMessageId> seen;
    queue.drain_on_ui_thread([&](AppMessage& m) { seen.push_back(m.id); });
    EXPECT_EQ(seen, (std::vector<AppMessageId> { AppMessageId::Drain, AppMessageId::UpdateFailed, AppMessageId::NavRefresh }));

    // After a drain the next post wakes the UI thread again.
    queue.post(AppMessageId::Drain);
    EXPECT_EQ(wakes.load(), 2);
}

TEST(AppQueue, MessagesFromManyThreadsAllArriveInPostingOrderPerThread)
{
    std::atomic<int> wakes { 0 };
    AppQueue queue([&] { ++wakes; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&queue, t] {
            for (int i = 0; i < 1000; ++i)
                queue.post_text(AppMessageId::UpdateFailed, t, std::to_string(i));
        });
    }
    for (auto& thread : threads)
        thread.join();
    std::vector<int> next(4, 0);
    size_t count = 0;
    queue.drain_on_ui_thread([&](AppMessage& m) {
        EXPECT_EQ(std::stoi(m.text), next[m.wparam]++);
        ++count;
    });
    EXPECT_EQ(count, 4000u);
    EXPECT_GE(wakes.load(), 1);
}

TEST(AppMessages, BecomeTheirInternalCommands)
{
    struct Case {
        AppMessage message;
        std::optional<std::string> command;
    };
    Case cases[] = {
        { { AppMessageId::NavRefresh }, std::string("\x01navrefresh") },
        { { AppMessageId::UpdateReady }, std::string("\x01toast</>새 버전을 받았습니다. 다음에 프로그램을 켜면 적용됩니다.") },
        { { AppMessageId::UpdateFailed, 0, true, "서버 응답 없음" }, std::string("\x01toast</>자동 갱신 실패 — 서버 응답 없음") },
        { { AppMessageId::UpdateFailed, 0, false, "" }, std::string("\x01toast</>자동 갱신 실패 — ") },
        { { AppMessageId::Drain }, std::nullopt },
        { { AppMessageId::Tray, 0x0202 }, std::nullopt },
    };
    for (auto const& c : cases)
        EXPECT_EQ(internal_command_for(c.message), c.command) << static_cast<unsigned>(c.message.id);
}

TEST(VersionLine, LabelsTestHostsInTheTextAndTheTitle)
{
    auto test = make_version_line("1.3.191", "", "127.0.0.1");
    EXPECT_EQ(test.text, "v1.3.191  ·  테스트 127.0.0.1");
    EXPECT_EQ(test.title, "TILLWAVE POS  [테스트 127.0.0.1]");

    auto production = make_version_line("1.3.191", "2024.05.1", "api.tillwave.co.kr");
    EXPECT_EQ(production.text, "v1.3.191  ·  화면2024.05.1  ·  운영");
    EXPECT_EQ(production.title, "TILLWAVE POS");

    // The UI version is cut at 63 bytes.
    auto long_ui = make_version_line("1.3.191", std::string(80, 'x'), "api.tillwave.co.kr");
    EXPECT_EQ(long_ui.text, "v1.3.191  ·  화면" + std::string(63, 'x') + "  ·  운영");
}

TEST(FullScreen, SwitchesPersistsAndAnswers)
{
    std::string dir = temp_dir();
    std::string file = dir + "/fullscreen.txt";
    FakePort port;
    std::vector<std::string> scripts;
    MainWindow::Context context;
    context.port = &port;
    context.fullscreen_path = file;
    context.run_page_script = [&](std::string_view s) { scripts.emplace_back(s); };
    MainWindow window(context);
    RecordingPage page;

    window.set_full(std::nullopt, page); // toggle on
    EXPECT_TRUE(window.fullscreen());
    EXPECT_EQ(port.enters, 1);
    EXPECT_TRUE(read_fullscreen_file(file));
    ASSERT_EQ(page.calls.size(), 1u);
    EXPECT_EQ(page.calls[0], "setFullState(1)");
    ASSERT_EQ(scripts.size(), 1u);
    EXPECT_NE(scripts[0].find("if(0){ if(b)b.remove(); return; }"), std::string::npos);

    // Asking for what is already so changes nothing but still answers and
    // rewrites the file.
    ASSERT_TRUE(os::write_file(file, "x").ok());
    window.set_full(std::string_view("1"), page);
    EXPECT_EQ(port.enters, 1);
    EXPECT_TRUE(read_fullscreen_file(file));
    EXPECT_EQ(page.calls.back(), "setFullState(1)");

    window.set_full(std::string_view("0"), page);
    EXPECT_FALSE(window.fullscreen());
    EXPECT_EQ(port.leaves, 1);
    EXPECT_FALSE(read_fullscreen_file(file));
    EXPECT_NE(scripts.back().find("if(1){ if(b)b.remove(); return; }"), std::string::npos);

    // Without the monitor's size the window stays as it is.
    port.monitor_known = false;
    window.set_full(std::string_view("1"), page);
    EXPECT_FALSE(window.fullscreen());
    EXPECT_EQ(page.calls.back(), "setFullState(0)");
}

TEST(FullScreen, StartFileFirstByteDecides)
{
    std::string dir = temp_dir();
    struct Case {
        char const* content;
        bool full;
    } const cases[] = { { "1", true }, { "1\n", true }, { "0", false }, { "x1", false }, { "", false } };
    for (auto const& c : cases) {
        ASSERT_TRUE(os::write_file(dir + "/f.txt", c.content).ok());
        EXPECT_EQ(read_fullscreen_file(dir + "/f.txt"), c.full) << c.content;
    }
    EXPECT_FALSE(read_fullscreen_file(dir + "/missing.txt"));
    EXPECT_FALSE(read_fullscreen_file(""));
}

TEST(CloseAndRestart, AskOnlyWhilePrintsArePending)
{
    FakePort port;
    unsigned pending = 0;
    MainWindow::Context context;
    context.port = &port;
    context.pending_print_jobs = [&] { return pending; };
    MainWindow window(context);

    EXPECT_TRUE(window.confirm_close());
    EXPECT_EQ(port.questions, 0);

    pending = 2;
    port.answer_yes = false;
    EXPECT_FALSE(window.confirm_close());
    port.answer_yes = true;
    EXPECT_TRUE(window.confirm_close());
    EXPECT_EQ(port.questions, 2);

    RecordingPage page;
    window.restart(page);
    EXPECT_EQ(port.closes, 1);
    EXPECT_TRUE(page.statuses.empty());
    port.spawn_ok = false;
    window.restart(page);
    EXPECT_EQ(port.closes, 1);
    ASSERT_EQ(page.statuses.size(), 1u);
    EXPECT_EQ(page.statuses[0], "다시 켜지 못했습니다 — 프로그램을 끄고 다시 켜 주세요");
}

TEST(ShellFamily, AnswersItsCommandsAndLeavesOthers)
{
    FakePort port;
    MainWindow::Context context;
    context.port = &port;
    context.server_host = [] { return std::string("127.0.0.1"); };
    MainWindow window(context);
    ShellFamily family(window, port);
    RecordingPage page;

    bridge::Command getposver { { "getposver" } };
    EXPECT_EQ(family.handle(getposver, page), bridge::Handled::Yes);
    ASSERT_FALSE(page.calls.empty());
    EXPECT_EQ(page.calls.back().rfind("setVersion(\"v", 0), 0u);
    EXPECT_EQ(port.title, "TILLWAVE POS  [테스트 127.0.0.1]");

    bridge::Command getfull { { "getfull" } };
    EXPECT_EQ(family.handle(getfull, page), bridge::Handled::Yes);
    EXPECT_EQ(page.calls.back(), "setFullState(0)");

    bridge::Command quit { { "quitapp" } };
    EXPECT_EQ(family.handle(quit, page), bridge::Handled::Yes);
    EXPECT_EQ(port.closes, 1);

    bridge::Command other { { "getprintcfg" } };
    EXPECT_EQ(family.handle(other, page), bridge::Handled::No);
}

// A page without setStatus sends its status message back as needbox: it
// shows in a box, also under the test port, and is never answered with
// another status message (which would come back again).
TEST(ShellFamily, NeedboxShowsTheMessageInABox)
{
    FakePort port;
    MainWindow::Context context;
    context.port = &port;
    context.test_port = [] { return true; };
    MainWindow window(context);
    ShellFamily family(window, port);
    RecordingPage page;

    EXPECT_EQ(family.handle(bridge::Command { { "needbox", "저장했습니다" } }, page), bridge::Handled::Yes);
    EXPECT_EQ(family.handle(bridge::Command { { "needbox", "가</>나" } }, page), bridge::Handled::Yes);
    EXPECT_EQ(family.handle(bridge::Command { { "needbox", "" } }, page), bridge::Handled::Yes);
    EXPECT_EQ(family.handle(bridge::Command { { "needbox" } }, page), bridge::Handled::Yes);
    EXPECT_EQ(port.box_texts, (std::vector<std::string> { "저장했습니다", "가</>나" }));
    EXPECT_TRUE(page.statuses.empty());
    EXPECT_TRUE(page.calls.empty());
}

// getlayout and savelayout keep the signed-in store's layout in the per-user
// folder, which each case points at a fresh temporary folder.
class LayoutCommands : public ::testing::Test {
protected:
    LayoutCommands()
        : m_dir(temp_dir())
        , m_window(context())
        , m_family(m_window, m_port)
    {
        char const* old = std::getenv("LOCALAPPDATA");
        if (old)
            m_old_appdata = old;
        ::setenv("LOCALAPPDATA", m_dir.c_str(), 1);
        session::set_staff(3, 30, "테스트 매장", false);
    }
    ~LayoutCommands() override
    {
        session::reset();
        if (m_old_appdata)
            ::setenv("LOCALAPPDATA", m_old_appdata->c_str(), 1);
        else
            ::unsetenv("LOCALAPPDATA");
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    MainWindow::Context context()
    {
        MainWindow::Context c;
        c.port = &m_port;
        return c;
    }
    std::string file(std::string const& name) const { return m_dir + "/TillBay/" + name; }
    std::optional<std::string> content(std::string const& name) const
    {
        auto text = os::read_file(file(name), 1024 * 1024);
        return text.ok() ? std::optional<std::string>(text.value()) : std::nullopt;
    }
    // Offers the command and returns what the page got back, callbacks then statuses.
    std::vector<std::string> answers(std::vector<std::string> fields)
    {
        RecordingPage page;
        EXPECT_EQ(m_family.handle(bridge::Command { std::move(fields) }, page), bridge::Handled::Yes);
        auto all = page.calls;
        all.insert(all.end(), page.statuses.begin(), page.statuses.end());
        return all;
    }

    std::string m_dir;
    FakePort m_port;
    MainWindow m_window;
    ShellFamily m_family;
    std::optional<std::string> m_old_appdata;
};

using Answers = std::vector<std::string>;

TEST_F(LayoutCommands, SavedLayoutComesBackForItsStoreOnly)
{
    EXPECT_EQ(answers({ "getlayout" }), Answers {}) << "no layout: the page keeps its own";

    EXPECT_EQ(answers({ "savelayout", R"({"lanes":["new","cooking"],"note":"주방 \"A\""})" }), Answers {});
    EXPECT_EQ(content("layout-3.json"), R"({"lanes":["new","cooking"],"note":"주방 \"A\""})");
    EXPECT_EQ(answers({ "getlayout" }),
        Answers { R"(setLayout("{\"lanes\":[\"new\",\"cooking\"],\"note\":\"주방 \\\"A\\\"\"}"))" });

    session::set_staff(4, 40, "다른 매장", false);
    EXPECT_EQ(answers({ "getlayout" }), Answers {});
    EXPECT_EQ(answers({ "savelayout", "{}" }), Answers {});
    EXPECT_EQ(content("layout-4.json"), "{}");
    EXPECT_EQ(content("layout-3.json"), R"({"lanes":["new","cooking"],"note":"주방 \"A\""})");

    // An empty layout removes the store's file; the page then keeps its own again.
    EXPECT_EQ(answers({ "savelayout", "" }), Answers {});
    EXPECT_FALSE(content("layout-4.json").has_value());
    EXPECT_EQ(answers({ "getlayout" }), Answers {});
}

TEST_F(LayoutCommands, TheOldSharedLayoutIsTakenOverByTheFirstStoreThatAsks)
{
    std::filesystem::create_directories(m_dir + "/TillBay");
    ASSERT_TRUE(os::write_file(file("layout.json"), R"({"old":1})").ok());
    EXPECT_EQ(answers({ "getlayout" }), Answers { R"(setLayout("{\"old\":1}"))" });
    EXPECT_EQ(content("layout-3.json"), R"({"old":1})");
}

TEST_F(LayoutCommands, SavelayoutKeepsTheWholeTextAndReportsAFailedWrite)
{
    // A label holding the field separator must not cut the layout short.
    EXPECT_EQ(answers({ "savelayout", R"({"label":"1층)", R"(2층"})" }), Answers {});
    EXPECT_EQ(content("layout-3.json"), R"({"label":"1층</>2층"})");

    // A folder in the temporary file's place makes the write fail; the old layout stays.
    std::filesystem::create_directories(file("layout-3.json.tmp"));
    EXPECT_EQ(answers({ "savelayout", "{}" }), Answers { "배치를 저장하지 못했습니다" });
    EXPECT_EQ(content("layout-3.json"), R"({"label":"1층</>2층"})");
    // A layout file that cannot be read answers nothing.
    std::filesystem::remove(file("layout-3.json"));
    std::filesystem::create_directories(file("layout-3.json"));
    EXPECT_EQ(answers({ "getlayout" }), Answers {});
}

TEST(InformBox, ShowsAStatusMessageUnderTheTestPort)
{
    FakePort port;
    std::vector<std::string> statuses;
    bool test_port = true;
    MainWindow::Context context;
    context.port = &port;
    context.test_port = [&] { return test_port; };
    context.status = [&](std::string_view s) { statuses.emplace_back(s); };
    MainWindow window(context);

    window.inform("저장했습니다");
    EXPECT_EQ(statuses, std::vector<std::string> { "저장했습니다" });
    EXPECT_EQ(port.boxes, 0);

    test_port = false;
    window.inform("");
    EXPECT_EQ(port.boxes, 0);
    window.inform("저장했습니다");
    EXPECT_EQ(port.boxes, 1);
}

#include "door/door_state.h"
#include "foundation/json_text.h"
#include "orders/order_board.h"
#include "orders/order_family.h"
#include "recording_page.h"
#include "session/session.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

using namespace tillbay;
using test::RecordingPage;

namespace {

// The server as a script: each command text gets the next answer queued for
// its command number; without one the exchange fails as if the server
// could not be reached.
struct ScriptedServer {
    struct Answer {
        bool reached = true;
        std::string code = "0";
        std::string data;
        std::string message;
        std::string error;
    };
    std::map<std::string, std::deque<Answer>> answers;
    std::vector<std::string> sent;
    uint64_t now = 1'000'000;
    std::vector<std::string> printed;
    int64_t wall = 1'765'370'000'000;
    std::map<int, orders::KeptBoard> kept;

    void answer(std::string const& cmd, Answer a) { answers[cmd].push_back(std::move(a)); }

    orders::BoardHooks hooks()
    {
        orders::BoardHooks h;
        h.store_call = [this](std::string_view command) -> Result<api::StoreResult> {
            sent.emplace_back(command);
            std::string cmd(command.substr(0, command.find('&')));
            auto& queue = answers[cmd];
            if (queue.empty())
                return Error::with_message("서버에 연결하지 못했습니다");
            Answer a = queue.front();
            queue.pop_front();
            if (!a.reached)
                return Error::with_message(a.error);
            api::StoreResult result;
            result.resultCode = a.code;
            result.resultData = a.data;
            result.message = a.message;
            return result;
        };
        h.now_ms = [this] { return now; };
        h.kitchen_printing = [this](int, std::string_view list, bridge::Page&) { printed.emplace_back(list); };
        h.wall_ms = [this] { return static_cast<int64_t>(wall); };
        h.keep = [this](int storeidx, std::string_view list, int64_t at) -> Status {
            kept[storeidx] = { std::string(list), at };
            return {};
        };
        h.read_kept = [this](int storeidx) -> std::optional<orders::KeptBoard> {
            if (auto it = kept.find(storeidx); it != kept.end())
                return it->second;
            return std::nullopt;
        };
        return h;
    }
};

constexpr char const* list_a = R"({"orders":[{"orderidx":41,"ordersrc":"plainpay","items":[]},{"orderidx":42,"paystatus":1,"tablenum":3,"memo":"a\"b	c"}]})";
constexpr char const* list_b = R"({"orders":[]})";
constexpr char const* summary = R"({"count":3,"amount":45000})";

class OrderBoardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        session::reset();
        session::set_staff(7, 1001, "틸베이 한식당", false);
        door::set_kitchen_list("");
    }
    void TearDown() override { session::reset(); }

    ScriptedServer server;
    RecordingPage page;
};

TEST_F(OrderBoardTest, RefreshAnswersThePageFillsTheKitchenCacheAndAsksForTheSummary)
{
    server.answer("cmd=110", { .data = list_a });
    server.answer("cmd=133", { .data = summary });
    orders::OrderBoard board(server.hooks());
    EXPECT_TRUE(board.refresh(page));

    EXPECT_EQ(server.sent, (std::vector<std::string> { "cmd=110&storeidx=7", "cmd=133&storeidx=7" }));
    ASSERT_EQ(page.said.size(), 2u);
    EXPECT_EQ(page.said[0], "setOrderList(" + json::quote(list_a) + ")");
    EXPECT_EQ(page.said[1], "setTodaySummary(3,45000)");
    EXPECT_EQ(door::kitchen_list(), R"({"orders":[{"orderidx":42,"paystatus":1,"tablenum":3,"memo":"a\"b	c"}]})");
    EXPECT_EQ(server.printed, std::vector<std::string> { list_a });
}

TEST_F(OrderBoardTest, FailedFetchChangesNothing)
{
    door::set_kitchen_list("previous");
    server.answer("cmd=110", { .reached = false });
    server.answer("cmd=110", { .code = "9", .message = "점검 중" });
    orders::OrderBoard board(server.hooks());
    EXPECT_FALSE(board.refresh(page));
    EXPECT_FALSE(board.refresh(page));
    // No answer is an outage (with nothing kept, only the banner); a refusal shows nothing.
    EXPECT_EQ(page.said, std::vector<std::string> { "setBoardOffline(0)" });
    EXPECT_TRUE(server.printed.empty());
    EXPECT_EQ(door::kitchen_list(), "previous");
    EXPECT_EQ(server.sent.size(), 2u); // no summary request either
}

TEST_F(OrderBoardTest, NothingIsSentWhileSignedOut)
{
    session::reset();
    orders::OrderBoard board(server.hooks());
    orders::OrderFamily family(board);
    for (std::string name : { "refreshorders", "orderdetail", "tablecount" }) {
        bridge::Command command { { name, "5" } };
        EXPECT_EQ(family.handle(command, page), bridge::Handled::Yes) << name;
    }
    EXPECT_TRUE(server.sent.empty());
    EXPECT_TRUE(page.said.empty());
}

TEST_F(OrderBoardTest, SummaryIsThrottledToListChangesAndOncePerMinute)
{
    orders::OrderBoard board(server.hooks());
    auto refresh_with = [&](char const* list, uint64_t at) {
        server.now = at;
        server.answer("cmd=110", { .data = list });
        server.answer("cmd=133", { .data = summary });
        board.refresh(page);
        server.answers["cmd=133"].clear();
    };
    auto summaries = [&] { return std::count(server.sent.begin(), server.sent.end(), "cmd=133&storeidx=7"); };

    refresh_with(list_a, 1'000'000);
    EXPECT_EQ(summaries(), 1);
    refresh_with(list_a, 1'030'000); // the same list 30 s later
    EXPECT_EQ(summaries(), 1);
    refresh_with(list_a, 1'060'000); // exactly a minute is not more than a minute
    EXPECT_EQ(summaries(), 1);
    refresh_with(list_a, 1'061'000);
    EXPECT_EQ(summaries(), 2);
    refresh_with(list_b, 1'062'000); // a changed list asks at once
    EXPECT_EQ(summaries(), 3);
}

TEST_F(OrderBoardTest, FailingSummaryIsStampedAndRetriedAfterAMinute)
{
    orders::OrderBoard board(server.hooks());
    auto summary_calls = [&] { return std::count(server.sent.begin(), server.sent.end(), "cmd=133&storeidx=7"); };
    server.answer("cmd=110", { .data = list_a });
    server.answer("cmd=133", { .reached = false });
    board.refresh(page);
    server.now += 10'000;
    server.answer("cmd=110", { .data = list_a });
    board.refresh(page);
    EXPECT_EQ(summary_calls(), 1);
    server.now += 51'000;
    server.answer("cmd=110", { .data = list_a });
    server.answer("cmd=133", { .data = R"({"count":3})" }); // amount missing: no callback
    board.refresh(page);
    EXPECT_EQ(summary_calls(), 2);
    for (auto const& said : page.said)
        EXPECT_EQ(said.rfind("setTodaySummary", 0), std::string::npos) << said;
}

TEST_F(OrderBoardTest, DetailAnswersEveryOutcome)
{
    orders::OrderBoard board(server.hooks());
    orders::OrderFamily family(board);
    struct Case {
        ScriptedServer::Answer answer;
        std::string arg;
        std::vector<std::string> said;
    } cases[] = {
        { { .data = R"({"ordernum":"A-12","menus":[]})" }, "12",
            { "setOrderDetail(" + json::quote(R"({"ordernum":"A-12","menus":[]})") + ")" } },
        { { .reached = false }, "12",
            { "status:주문 상세를 받지 못했습니다",
                R"(setOrderDetail({"error":1,"orderidx":12,"msg":"내역을 받지 못했습니다 — 서버에 닿지 못했습니다"}))" } },
        { { .code = "3", .message = "없는 \"주문\"입니다" }, "12",
            { "status:없는 \"주문\"입니다", R"(setOrderDetail({"error":1,"orderidx":12,"msg":"없는 \"주문\"입니다"}))" } },
        // No argument sends order 0, and the refusal names order 0.
        { { .code = "3" }, "",
            { "status:주문 상세를 받지 못했습니다", R"(setOrderDetail({"error":1,"orderidx":0,"msg":"주문 상세를 받지 못했습니다"}))" } },
    };
    for (auto const& c : cases) {
        page.said.clear();
        server.sent.clear();
        server.answer("cmd=111", c.answer);
        bridge::Command command { c.arg.empty() ? std::vector<std::string> { "orderdetail" } : std::vector<std::string> { "orderdetail", c.arg } };
        family.handle(command, page);
        EXPECT_EQ(page.said, c.said);
        ASSERT_EQ(server.sent.size(), 1u);
        EXPECT_EQ(server.sent[0], "cmd=111&storeidx=7&orderidx=" + (c.arg.empty() ? std::string("0") : c.arg));
    }
}

TEST_F(OrderBoardTest, TableCountReadsEitherFieldAndIgnoresTheResultCode)
{
    orders::OrderBoard board(server.hooks());
    struct Case {
        ScriptedServer::Answer answer;
        std::vector<std::string> said;
    } cases[] = {
        { { .data = R"({"tablenum":12})" }, { "setTableCount(12)" } },
        { { .data = R"({"tablecount":"8"})" }, { "setTableCount(8)" } },
        { { .data = R"({"tablenum":-1,"tablecount":6})" }, { "setTableCount(6)" } },
        { { .data = "{}" }, { "setTableCount(0)" } },
        { { .code = "9", .data = "{}" }, { "setTableCount(0)" } },
        { { .reached = false }, {} },
    };
    for (auto const& c : cases) {
        page.said.clear();
        server.answer("cmd=112", c.answer);
        board.table_count(page);
        EXPECT_EQ(page.said, c.said);
    }
}

TEST_F(OrderBoardTest, ActionRunnerReportsTheOutcomeAndAlwaysReloads)
{
    orders::OrderBoard board(server.hooks());
    struct Case {
        ScriptedServer::Answer answer;
        std::optional<std::string_view> success;
        std::string status;
    } cases[] = {
        { {}, "조리를 시작했습니다", "status:조리를 시작했습니다" },
        { {}, std::nullopt, "" },
        { { .code = "5", .message = "이미 취소된 주문입니다" }, "조리를 시작했습니다", "status:이미 취소된 주문입니다" },
        { { .code = "5" }, std::nullopt, "status:주문 목록을 받지 못했습니다" },
        { { .reached = false, .error = "서버 응답이 없습니다" }, "조리를 시작했습니다", "status:서버 응답이 없습니다" },
        { { .reached = false }, std::nullopt, "status:주문 목록을 받지 못했습니다" },
    };
    for (auto const& c : cases) {
        page.said.clear();
        server.sent.clear();
        server.answer("cmd=121", c.answer);
        // The reload after the action fails: the action's own message still shows.
        board.run_action("cmd=121&storeidx=7&orderidx=5", c.success, page);
        std::vector<std::string> said;
        if (!c.status.empty())
            said.push_back(c.status);
        said.push_back("setBoardOffline(0)");
        EXPECT_EQ(page.said, said);
        EXPECT_EQ(server.sent, (std::vector<std::string> { "cmd=121&storeidx=7&orderidx=5", "cmd=110&storeidx=7" }));
    }
}

TEST_F(OrderBoardTest, AnOutageShowsTheKeptListReadOnlyUntilTheServerAnswers)
{
    orders::OrderBoard board(server.hooks());
    server.answer("cmd=110", { .data = list_a });
    server.answer("cmd=133", { .data = summary });
    ASSERT_TRUE(board.refresh(page));
    ASSERT_EQ(server.kept.count(7), 1u);
    EXPECT_EQ(server.kept[7].list_text, list_a);

    // The platform is gone: the kept list with the time it was fetched, no
    // printing, no summary, the kitchen cache as it was.
    page.said.clear();
    server.sent.clear();
    server.printed.clear();
    server.wall += 60'000;
    EXPECT_FALSE(board.refresh(page));
    EXPECT_TRUE(board.offline());
    EXPECT_EQ(page.said, (std::vector<std::string> { "setOrderList(" + json::quote(list_a) + ")",
                             "setBoardOffline(" + std::to_string(server.wall - 60'000) + ")" }));
    EXPECT_TRUE(server.printed.empty());
    EXPECT_EQ(server.sent, std::vector<std::string> { "cmd=110&storeidx=7" });

    // A refusal during the outage is the server's answer, not a way back.
    page.said.clear();
    server.answer("cmd=110", { .code = "9", .message = "점검 중" });
    EXPECT_FALSE(board.refresh(page));
    EXPECT_TRUE(board.offline());
    EXPECT_TRUE(page.said.empty());

    // Back: the banner goes before the new list, and the new list is kept.
    page.said.clear();
    server.answer("cmd=110", { .data = list_b });
    server.answer("cmd=133", { .data = summary });
    EXPECT_TRUE(board.refresh(page));
    EXPECT_FALSE(board.offline());
    ASSERT_GE(page.said.size(), 2u);
    EXPECT_EQ(page.said[0], "setBoardOnline()");
    EXPECT_EQ(page.said[1], "setOrderList(" + json::quote(list_b) + ")");
    EXPECT_EQ(server.kept[7].list_text, list_b);
    EXPECT_EQ(server.kept[7].fetched_at_ms, server.wall);
}

TEST_F(OrderBoardTest, TheKeptListBelongsToItsStore)
{
    orders::OrderBoard board(server.hooks());
    server.kept[3] = { list_a, 5 };
    EXPECT_FALSE(board.refresh(page)); // store 7 has nothing kept
    EXPECT_EQ(page.said, std::vector<std::string> { "setBoardOffline(0)" });
    page.said.clear();
    EXPECT_TRUE(board.show_kept(3, page));
    EXPECT_EQ(page.said, (std::vector<std::string> { "setOrderList(" + json::quote(list_a) + ")", "setBoardOffline(5)" }));
    EXPECT_FALSE(board.show_kept(7, page));
}

TEST(KeptBoardFile, IsPrivateAndReadBackAsWritten)
{
    char pattern[] = "/tmp/tb-kept-XXXXXX";
    std::string dir = ::mkdtemp(pattern);
    ::setenv("LOCALAPPDATA", dir.c_str(), 1);
    std::string list = "{\"orders\":[{\"memo\":\"줄\n바꿈\"}]}";
    ASSERT_TRUE(orders::keep_board(4, list, 1'765'370'000'123).ok());
    auto path = orders::kept_board_path(4);
    EXPECT_EQ(path, dir + "/TillBay/board-4.json");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    auto kept = orders::read_kept_board(4);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->list_text, list);
    EXPECT_EQ(kept->fetched_at_ms, 1'765'370'000'123);
    EXPECT_FALSE(orders::read_kept_board(5));
    EXPECT_FALSE(orders::keep_board(0, list, 1).ok());
    // A damaged file counts as nothing kept.
    for (std::string damaged : std::vector<std::string> { "", "\n{}", "x\n{}", "12\n", "-4\n{}", std::string(30, '1') + "\n{}" }) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << damaged;
        EXPECT_FALSE(orders::read_kept_board(4)) << damaged;
    }
    std::filesystem::remove_all(dir);
    ::unsetenv("LOCALAPPDATA");
}

TEST(OrderFamily, OtherCommandsAreLeftToTheNextFamily)
{
    orders::OrderBoard board(orders::BoardHooks {});
    orders::OrderFamily family(board);
    RecordingPage page;
    EXPECT_EQ(family.handle(bridge::Command { { "getlayout" } }, page), bridge::Handled::No);
    EXPECT_EQ(family.handle(bridge::Command { { "refreshorder" } }, page), bridge::Handled::No);
}

} // namespace

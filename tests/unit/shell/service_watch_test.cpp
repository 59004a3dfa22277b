#include "bridge/service_state.h"

#include "shell/service_watch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace tillbay;
using namespace tillbay::bridge;
using namespace tillbay::shell;

namespace {

TEST(ServiceBlock, ReadsTheServiceFile)
{
    auto block = parse_service_block(R"({"merchant":1,"food":0,"shop":2,"pos":1,"message":"점검 중\n곧 끝납니다","notice":"공지"})");
    EXPECT_EQ(block.merchant, 1);
    EXPECT_EQ(block.shop, 2);
    EXPECT_EQ(block.pos, 1);
    EXPECT_EQ(block.message, "점검 중\n곧 끝납니다");
    EXPECT_EQ(block.notice, "공지");
    EXPECT_EQ(service_block_script(block),
        "window.setServiceBlock&&setServiceBlock(1,0,2,\"점검 중\\n곧 끝납니다\",\"공지\",1)");

    auto empty = parse_service_block("{}");
    EXPECT_EQ(empty, (ServiceBlock { 0, 0, 0, 0, default_service_message, "" }));
    EXPECT_EQ(parse_service_block(R"({"message":""})").message, default_service_message);

    // Long texts are cut to their sizes without leaving half a character.
    std::string long_text;
    for (int i = 0; i < 150; ++i)
        long_text += "가";
    auto cut = parse_service_block("{\"message\":\"" + long_text + "\",\"notice\":\"" + long_text + "\"}");
    EXPECT_EQ(cut.message.size(), 198u); // 66 characters of 3 bytes
    EXPECT_EQ(cut.notice.size(), 399u);
}

TEST(ServiceState, ServerDownReport)
{
    constexpr uint64_t minute = 60'000;
    ServiceState state;
    EXPECT_EQ(state.server_down_script(10 * minute, 3), "window.setServerDown&&setServerDown(0,\"\")");

    // The channel clock starts only on an "off" after an "on".
    state.set_channel_state(false, 1 * minute);
    EXPECT_EQ(state.channel_down_since(), 0u);
    state.set_channel_state(true, 2 * minute);
    state.set_channel_state(false, 3 * minute);
    state.set_channel_state(false, 4 * minute);
    EXPECT_EQ(state.channel_down_since(), 3 * minute);
    state.web_unreachable(5 * minute);
    state.web_unreachable(6 * minute);
    EXPECT_EQ(state.web_down_since(), 5 * minute);

    EXPECT_EQ(state.server_down_script(5 * minute, 3), "window.setServerDown&&setServerDown(0,\"\")");
    EXPECT_EQ(state.server_down_script(6 * minute, 3), "window.setServerDown&&setServerDown(3,\"주문 서버\")");
    EXPECT_EQ(state.server_down_script(8 * minute + 5, 3), "window.setServerDown&&setServerDown(5,\"주문 서버·웹서버\")");
    EXPECT_EQ(state.server_down_script(6 * minute, 1), "window.setServerDown&&setServerDown(3,\"주문 서버·웹서버\")");

    state.set_channel_state(true, 9 * minute);
    state.web_reachable();
    EXPECT_EQ(state.server_down_script(20 * minute, 3), "window.setServerDown&&setServerDown(0,\"\")");
}

TEST(ServiceState, ThresholdFromTheEnvironment)
{
    constexpr uint64_t minute = 60'000;
    ServiceState state;
    state.web_unreachable(1);
    struct {
        char const* value;
        char const* expected;
    } const cases[] = {
        { "1", "window.setServerDown&&setServerDown(2,\"웹서버\")" },
        { "9", "window.setServerDown&&setServerDown(0,\"\")" },
        { "0", "window.setServerDown&&setServerDown(0,\"\")" }, // 3 minutes
        { "ab", "window.setServerDown&&setServerDown(0,\"\")" },
        { "2x", "window.setServerDown&&setServerDown(2,\"웹서버\")" },
    };
    for (auto const& c : cases) {
        setenv("TILLBAY_DOWNMIN", c.value, 1);
        EXPECT_EQ(state.server_down_script(2 * minute + 1), c.expected) << c.value;
    }
    unsetenv("TILLBAY_DOWNMIN");
}

TEST(ServiceWatch, PeriodFromTheTestVariable)
{
    struct {
        char const* value;
        int expected;
    } const cases[] = {
        { nullptr, 60'000 },
        { "", 60'000 },
        { "200", 200 },
        { "1500", 1500 },
        { "60000", 60'000 },
        { "00500", 500 },
        { "199", 60'000 },
        { "0", 60'000 },
        { "60001", 60'000 },
        { "000200", 60'000 },                 // six digits
        { "99999999999999999999", 60'000 }, // would overflow an int
        { "-500", 60'000 },
        { "+500", 60'000 },
        { " 500", 60'000 },
        { "500 ", 60'000 },
        { "500ms", 60'000 },
        { "1e3", 60'000 },
    };
    for (auto const& c : cases)
        EXPECT_EQ(service_watch_period_from(c.value), c.expected) << (c.value ? c.value : "(unset)");
}

TEST(ServiceWatch, QueuesPushOnlyWhenTheBlockChanges)
{
    ServiceState state;
    std::vector<std::string> queued;
    std::string body = R"({"merchant":0,"pos":0,"message":"","notice":""})";
    bool fail = false;
    std::string asked_host, asked_path;
    ServiceWatch watch(
        state, "shop.example.com",
        [&](std::string_view host, std::string_view path) -> Result<std::string> {
            asked_host = host;
            asked_path = path;
            if (fail)
                return Error::with_message("서버에 연결하지 못했습니다");
            return body;
        },
        [&](std::string text) { queued.push_back(std::move(text)); });

    watch.run_once();
    EXPECT_EQ(asked_host, "shop.example.com");
    EXPECT_EQ(asked_path, "/v2/pos/service.json");
    EXPECT_EQ(queued, (std::vector<std::string> { "\x01svcpush", "\x01srvdown" }));
    watch.run_once();
    EXPECT_EQ(queued.size(), 3u);
    EXPECT_EQ(queued.back(), "\x01srvdown");

    fail = true;
    watch.run_once();
    uint64_t down = state.web_down_since();
    EXPECT_NE(down, 0u);
    watch.run_once();
    EXPECT_EQ(state.web_down_since(), down); // the first failure's time stays
    EXPECT_EQ(state.block().message, default_service_message); // the last good block stays

    fail = false;
    body = R"({"pos":1,"message":"POS 점검"})";
    watch.run_once();
    EXPECT_EQ(state.web_down_since(), 0u);
    EXPECT_EQ(state.block().pos, 1);
    EXPECT_EQ(queued[queued.size() - 2], "\x01svcpush");
}

TEST(ServiceWatch, ThreadRunsAndStops)
{
    ServiceState state;
    std::atomic<int> rounds { 0 };
    ServiceWatch watch(
        state, "shop.example.com",
        [&](std::string_view, std::string_view) -> Result<std::string> {
            ++rounds;
            return std::string("{}");
        },
        [](std::string) {}, 5);
    watch.start();
    while (rounds.load() < 3)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    watch.stop();
    int after = rounds.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(rounds.load(), after);
}

} // namespace

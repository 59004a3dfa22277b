#include "foundation/log.h"
#include "foundation/log_internal.h"
#include "os/fs.h"
#include "tillbay_version.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <thread>

using namespace tillbay;
namespace fs = std::filesystem;

namespace {

// Points the per-user folder at a fresh temporary folder and starts a new
// "run" of the logs; restores the environment afterwards.
class LogFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (char const* name : { "LOCALAPPDATA", "XDG_DATA_HOME", "HOME" }) {
            char const* value = std::getenv(name);
            m_saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
        std::string pattern = (fs::temp_directory_path() / "tb-log-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
        ::setenv("LOCALAPPDATA", m_root.c_str(), 1);
        m_dir = m_root + "/TillBay/";
        fs::create_directories(m_dir);
        log::reset_for_testing();
    }

    void TearDown() override
    {
        for (auto const& [name, value] : m_saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        log::reset_for_testing();
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    // A new process run as far as the logs can tell.
    void new_run() { log::reset_for_testing(); }

    std::string path(std::string const& name) const { return m_dir + name; }

    std::string read(std::string const& name) const
    {
        auto content = os::read_file(path(name), 64 << 20);
        return content.ok() ? content.value() : std::string {};
    }

    void write(std::string const& name, std::string const& content) const
    {
        ASSERT_TRUE(os::write_file(path(name), content).ok());
    }

    // The file's lines without their CR LF; every line must have one.
    std::vector<std::string> lines(std::string const& name) const
    {
        std::vector<std::string> result;
        auto content = read(name);
        size_t start = 0;
        while (start < content.size()) {
            auto end = content.find("\r\n", start);
            EXPECT_NE(end, std::string::npos) << "line without CR LF in " << name;
            if (end == std::string::npos)
                break;
            result.push_back(content.substr(start, end - start));
            start = end + 2;
        }
        return result;
    }

    // A file of exactly `size` bytes of harmless log lines.
    void write_filler(std::string const& name, size_t size) const
    {
        std::string line = "09:00:00.000 UI 주문 목록 새로 고침 완료 ..............................\r\n";
        std::string content;
        while (content.size() + line.size() <= size)
            content += line;
        content.append(size - content.size(), '.');
        write(name, content);
    }

    std::string m_root;
    std::string m_dir;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

std::string const time_re = R"(\d\d:\d\d:\d\d\.\d{3} )";
std::string const scrub_done = "LOGSCRUB 옛 기록 다시 가림 v7: 끝 · bridge.log 0줄 · bridge.prev.log 0줄";
std::string const cap_text = "로그 상한(512KB) 도달 — 이번에 켠 동안의 나머지는 남기지 않는다";

bool matches(std::string const& text, std::string const& pattern) { return std::regex_match(text, std::regex(pattern)); }

std::string escaped_version()
{
    return std::regex_replace(std::string(TILLBAY_VERSION), std::regex(R"(\.)"), R"(\.)");
}

TEST_F(LogFolder, FirstLineOfARunWritesHeaderAndScrubNote)
{
    log::bridge("JS>>", "login</>kim</>pa55word");
    log::bridge("UI", "두 번째 줄");

    auto written = lines("bridge.log");
    ASSERT_EQ(written.size(), 4u);
    EXPECT_TRUE(matches(written[0],
        time_re + R"(---- ==== \d{4}-\d\d-\d\d \d\d:\d\d 켬  v)" + escaped_version() + " ===="))
        << written[0];
    EXPECT_TRUE(matches(written[1], time_re + "LOG " + scrub_done)) << written[1];
    EXPECT_TRUE(matches(written[2], time_re + "JS>> login</>kim</>\\*\\*\\*")) << written[2];
    EXPECT_TRUE(matches(written[3], time_re + "UI 두 번째 줄")) << written[3];
    EXPECT_EQ(read("logscrub.ver"), "7");
    EXPECT_THAT(read("bridge.log"), ::testing::Not(::testing::HasSubstr("pa55word")));

    // The next run has its header but no scrub note: the rules have not changed.
    new_run();
    log::bridge("UI", "다음 실행");
    written = lines("bridge.log");
    ASSERT_EQ(written.size(), 6u);
    EXPECT_THAT(written[4], ::testing::HasSubstr("---- ==== "));
    EXPECT_TRUE(matches(written[5], time_re + "UI 다음 실행"));
}

TEST_F(LogFolder, MessageIsCutAfterScrubbingAndKeptOnOneLine)
{
    log::bridge("UI", std::string(500, 'a'));
    // Scrubbing sees the whole message: the summary counts all of it.
    std::string orders = "[";
    for (int i = 0; i < 50; ++i)
        orders += "{\"orderidx\":" + std::to_string(i) + ",\"memo\":\"" + std::string(20, 'm') + "\"},";
    orders.back() = ']';
    log::bridge("<<UI", "window.setOrderList&&setOrderList(" + orders + ")");
    // A line break inside a message must not start a line of its own.
    log::bridge("JS>>", "viewinfo</>a\r\n12:00:00.000 SEC 가짜 줄\nb");

    auto written = lines("bridge.log");
    ASSERT_EQ(written.size(), 5u);
    EXPECT_EQ(written[2].substr(13), "UI " + std::string(300, 'a'));
    EXPECT_EQ(written[3].substr(13),
        "<<UI window.setOrderList&&setOrderList(*** " + std::to_string(orders.size()) + "B n=50)");
    EXPECT_EQ(written[4].substr(13), "JS>> viewinfo</>a  12:00:00.000 SEC 가짜 줄 b");
}

TEST_F(LogFolder, RunCapWritesOneCapLineAndThenNothing)
{
    std::string message(300, 'x');
    for (int i = 0; i < 2'000; ++i)
        log::bridge("UI", message);

    auto written = lines("bridge.log");
    ASSERT_GT(written.size(), 3u);
    EXPECT_EQ(written.back().substr(13), "UI " + cap_text);
    EXPECT_EQ(std::count_if(written.begin(), written.end(),
                  [](auto const& l) { return l.find("로그 상한") != std::string::npos; }),
        1);
    // Lines are written until the count passes 512 KiB, so the run ends just
    // above it: less than one more line plus the cap line.
    auto size = static_cast<uint64_t>(os::file_size(path("bridge.log")));
    EXPECT_GT(size, log::detail::bridge_run_cap);
    EXPECT_LT(size, log::detail::bridge_run_cap + 2 * (message.size() + 32));

    log::bridge("UI", "상한 뒤의 줄");
    EXPECT_EQ(static_cast<uint64_t>(os::file_size(path("bridge.log"))), size);

    // A new run starts a new budget.
    new_run();
    log::bridge("UI", "새 실행");
    EXPECT_THAT(read("bridge.log"), ::testing::HasSubstr("UI 새 실행\r\n"));
}

TEST_F(LogFolder, RotationAtStartOnlyAboveOneAndAHalfMebibytes)
{
    struct Case {
        size_t size;
        bool rotated;
    };
    for (auto c : { Case { 1'572'864, false }, Case { 1'572'865, true } }) {
        SCOPED_TRACE(c.size);
        std::error_code ignored;
        fs::remove(path("bridge.prev.log"), ignored);
        write("logscrub.ver", "7");
        write_filler("bridge.log", c.size);
        new_run();
        log::bridge("UI", "회전 확인");

        auto current = os::file_size(path("bridge.log"));
        if (c.rotated) {
            EXPECT_EQ(os::file_size(path("bridge.prev.log")), static_cast<long long>(c.size));
            EXPECT_LT(current, 1000);
        } else {
            EXPECT_FALSE(os::file_exists(path("bridge.prev.log")));
            EXPECT_GT(current, static_cast<long long>(c.size));
        }
        // Later lines of the same run never rotate, however large the file is.
        log::bridge("UI", "같은 실행");
        EXPECT_EQ(os::file_exists(path("bridge.prev.log")), c.rotated);
    }
}

TEST_F(LogFolder, OldLogsAreRescrubbedOnceWhenTheRulesChange)
{
    std::string const old_current = "09:00:00.000 ---- ==== 2023-01-01 09:00 켬  v1.3.100 ====\r\n"
                                    "09:00:01.000 JS>> login</>kim</>pa55word\r\n"
                                    "09:00:02.000 JS>> setpin</>4321\r\n"
                                    "09:00:03.000 UI 평범한 줄\r\n";
    std::string const old_previous = "08:00:00.000 <<UI window.setOwnerAuth&&setOwnerAuth({\"key\":\"k\"})\r\n"
                                     "08:00:01.000 UI 평범한 줄\r\n";
    write("bridge.log", old_current);
    write("bridge.prev.log", old_previous);
    write("logscrub.ver", "6");

    log::bridge("UI", "시작");
    auto current = read("bridge.log");
    EXPECT_THAT(current, ::testing::Not(::testing::HasSubstr("pa55word")));
    EXPECT_THAT(current, ::testing::Not(::testing::HasSubstr("4321")));
    EXPECT_THAT(current,
        ::testing::StartsWith("09:00:00.000 ---- ==== 2023-01-01 09:00 켬  v1.3.100 ====\r\n"
                              "09:00:01.000 JS>> login</>kim</>***\r\n"
                              "09:00:02.000 JS>> setpin</>***\r\n"
                              "09:00:03.000 UI 평범한 줄\r\n"));
    EXPECT_THAT(current,
        ::testing::HasSubstr("LOG LOGSCRUB 옛 기록 다시 가림 v7: 끝 · bridge.log 2줄 · bridge.prev.log 1줄\r\n"));
    EXPECT_EQ(read("bridge.prev.log"),
        "08:00:00.000 <<UI window.setOwnerAuth&&setOwnerAuth(***)\r\n"
        "08:00:01.000 UI 평범한 줄\r\n");
    EXPECT_EQ(read("logscrub.ver"), "7");
    EXPECT_FALSE(os::file_exists(path("bridge.log.scrub")));
    EXPECT_FALSE(os::file_exists(path("bridge.prev.log.scrub")));

    // Rescrubbing scrubbed logs changes nothing.
    auto before_current = read("bridge.log");
    auto before_previous = read("bridge.prev.log");
    ASSERT_TRUE(os::remove_file(path("logscrub.ver")).ok());
    new_run();
    log::bridge("UI", "다시 시작");
    auto after_current = read("bridge.log");
    EXPECT_EQ(after_current.substr(0, before_current.size()), before_current);
    EXPECT_THAT(after_current, ::testing::HasSubstr("LOG " + scrub_done + "\r\n"));
    EXPECT_EQ(read("bridge.prev.log"), before_previous);
}

TEST_F(LogFolder, CurrentRulesVersionSkipsTheRescrub)
{
    std::string const old_current = "09:00:01.000 JS>> login</>kim</>pa55word\r\n";
    write("bridge.log", old_current);
    write("logscrub.ver", "7");

    log::bridge("UI", "시작");
    auto current = read("bridge.log");
    EXPECT_THAT(current, ::testing::StartsWith(old_current));
    EXPECT_THAT(current, ::testing::Not(::testing::HasSubstr("LOGSCRUB")));
}

TEST_F(LogFolder, FailedRescrubIsReportedAndRetriedNextRun)
{
    // The previous log is larger than the rescrub reads: it stays untouched,
    // and the version is not recorded.
    write("bridge.log", "09:00:01.000 JS>> login</>kim</>pa55word\r\n");
    {
        std::ofstream big(path("bridge.prev.log"), std::ios::binary);
        big << "09:00:00.000 JS>> setpin</>4321\r\n";
        big.seekp(static_cast<std::streamoff>(log::detail::rescrub_max_file));
        big << '.';
    }
    log::bridge("UI", "시작");
    EXPECT_THAT(read("bridge.log"),
        ::testing::HasSubstr("LOGSCRUB 옛 기록 다시 가림 v7: 실패(다음 켬에 다시) · bridge.log 1줄 · bridge.prev.log 0줄\r\n"));
    EXPECT_FALSE(os::file_exists(path("logscrub.ver")));
    EXPECT_EQ(os::file_size(path("bridge.prev.log")), static_cast<long long>(log::detail::rescrub_max_file) + 1);
    EXPECT_FALSE(os::file_exists(path("bridge.prev.log.scrub")));

    // Once the file is readable again, the next run finishes the job.
    write("bridge.prev.log", "09:00:00.000 JS>> setpin</>4321\r\n");
    new_run();
    log::bridge("UI", "다시 시작");
    EXPECT_EQ(read("bridge.prev.log"), "09:00:00.000 JS>> setpin</>***\r\n");
    EXPECT_THAT(read("bridge.log"), ::testing::HasSubstr("v7: 끝 · bridge.log 0줄 · bridge.prev.log 1줄\r\n"));
    EXPECT_EQ(read("logscrub.ver"), "7");
}

TEST_F(LogFolder, NothingIsWrittenWithoutAFolderAndFailuresStaySilent)
{
    ::unsetenv("LOCALAPPDATA");
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("HOME");
    log::bridge("UI", "어디에도 안 남음");
    log::transport("handshake %d", 1);

    // The first line of the run is still to come once a folder exists.
    ::setenv("LOCALAPPDATA", m_root.c_str(), 1);
    EXPECT_FALSE(os::file_exists(path("bridge.log")));
    log::bridge("UI", "이제 남음");
    auto written = lines("bridge.log");
    ASSERT_EQ(written.size(), 3u);
    EXPECT_THAT(written[0], ::testing::HasSubstr("---- ==== "));
    EXPECT_THAT(written[2], ::testing::EndsWith("UI 이제 남음"));

    // A folder path that is really a file: every open fails, quietly, from
    // the first line of the run on.
    std::string blocker = m_root + "/blocker";
    { std::ofstream(blocker) << "x"; }
    ::setenv("LOCALAPPDATA", blocker.c_str(), 1);
    new_run();
    for (int i = 0; i < 3; ++i) {
        log::bridge("UI", "실패해도 조용히");
        log::transport("handshake %d", i);
    }
    EXPECT_EQ(lines("bridge.log").size(), 3u);
    EXPECT_FALSE(os::file_exists(path("tls.log")));
}

TEST_F(LogFolder, ConcurrentLinesStayWhole)
{
    constexpr int threads = 4;
    constexpr int per_thread = 200;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t] {
            for (int i = 0; i < per_thread; ++i)
                log::bridge("UI", "스레드 " + std::to_string(t) + " 줄 " + std::to_string(i) + " " + std::string(100, 'a' + t));
        });
    }
    for (auto& worker : workers)
        worker.join();

    auto written = lines("bridge.log");
    ASSERT_EQ(written.size(), 2u + threads * per_thread);
    EXPECT_THAT(written[0], ::testing::HasSubstr("---- ==== "));
    EXPECT_THAT(written[1], ::testing::HasSubstr("LOGSCRUB"));
    std::regex const line(time_re + R"(UI 스레드 (\d) 줄 \d+ ([a-d])\2{99})");
    for (size_t i = 2; i < written.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(written[i], m, line)) << written[i];
        EXPECT_EQ(m[1].str()[0] - '0', m[2].str()[0] - 'a');
    }
}

TEST_F(LogFolder, TransportLogHeaderCutAndNoScrubbing)
{
    log::transport("connect %s:%d", "api.example.kr", 7700);
    log::transport("%s", std::string(1000, 'z').c_str());
    log::transport("login</>kim</>%s", "pw");

    auto written = lines("tls.log");
    ASSERT_EQ(written.size(), 4u);
    EXPECT_TRUE(matches(written[0], time_re + R"(==== \d{4}-\d\d-\d\d \d\d:\d\d 켬 ====)")) << written[0];
    EXPECT_TRUE(matches(written[1], time_re + "connect api\\.example\\.kr:7700")) << written[1];
    EXPECT_EQ(written[2].substr(13), std::string(599, 'z'));
    EXPECT_EQ(written[3].substr(13), "login</>kim</>pw");
    EXPECT_FALSE(os::file_exists(path("bridge.log")));
}

TEST_F(LogFolder, TransportLogRotatesAboveHalfAMebibyte)
{
    for (auto [size, rotated] : { std::pair { size_t(524'288), false }, std::pair { size_t(524'289), true } }) {
        SCOPED_TRACE(size);
        std::error_code ignored;
        fs::remove(path("tls.prev.log"), ignored);
        write_filler("tls.log", size);
        new_run();
        log::transport("회전 확인");
        EXPECT_EQ(os::file_exists(path("tls.prev.log")), rotated);
        if (rotated) {
            EXPECT_EQ(os::file_size(path("tls.prev.log")), static_cast<long long>(size));
        }
    }
}

TEST_F(LogFolder, TransportLogStopsSilentlyAtItsCap)
{
    std::string message(599, 'q');
    for (int i = 0; i < 1'000; ++i)
        log::transport("%s", message.c_str());

    auto written = lines("tls.log");
    ASSERT_FALSE(written.empty());
    // The count is the message length plus 16 per line, header included; a
    // line is written while the count has not yet passed the cap.
    uint64_t count = written[0].size() - 13 + 16;
    size_t expected_lines = 0;
    while (count <= log::detail::transport_run_cap) {
        count += message.size() + 16;
        ++expected_lines;
    }
    EXPECT_EQ(written.size(), 1 + expected_lines);
    EXPECT_EQ(written.back().substr(13), message);
}

} // namespace

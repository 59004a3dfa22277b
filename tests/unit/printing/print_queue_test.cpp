#include "printing/print_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

using namespace tillbay;
using namespace tillbay::printing;
using namespace std::chrono_literals;

namespace {

// A delivery that writes down what it was given, can be held at a gate,
// and fails the jobs whose first byte is 'F'.
struct ScriptedDelivery {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::string> delivered;
    std::vector<std::string> connections;
    bool open = true;

    Sender sender()
    {
        return [this](Route const& route, std::string_view bytes) -> Result<std::string> {
            std::unique_lock guard(lock);
            changed.wait(guard, [this] { return open; });
            delivered.emplace_back(bytes);
            connections.push_back(route.connection);
            changed.notify_all();
            if (!bytes.empty() && bytes[0] == 'F')
                return Error::with_message("LAN 연결/인쇄 전송 실패 (10060) — 일부 전송됨. 출력 여부 확인 후 재인쇄하세요");
            return std::string(text_sent);
        };
    }
    void hold()
    {
        std::lock_guard guard(lock);
        open = false;
    }
    void release()
    {
        std::lock_guard guard(lock);
        open = true;
        changed.notify_all();
    }
    bool wait_for(size_t count)
    {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, 5s, [&] { return delivered.size() >= count; });
    }
};

struct Outcome {
    bool ok;
    std::string message;
    long long tag;
};

struct Listener {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Outcome> outcomes;
    ResultListener function()
    {
        return [this](bool ok, std::string const& message, long long tag) {
            std::lock_guard guard(lock);
            outcomes.push_back({ ok, message, tag });
            changed.notify_all();
        };
    }
    bool wait_for(size_t count)
    {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, 5s, [&] { return outcomes.size() >= count; });
    }
};

PrinterRecord network_printer()
{
    PrinterRecord record;
    record.connection = "tcp|192.168.0.50|9100";
    return record;
}

TEST(PrintQueue, DocumentsThatAreNeverQueued)
{
    // The listener outlives the queue, whose end waits for its worker.
    Listener listener;
    ScriptedDelivery delivery;
    PrintQueue queue(delivery.sender());
    queue.set_listener(listener.function());
    struct Case {
        std::string connection;
        size_t size;
        std::string message;
    };
    std::vector<Case> const cases {
        { "tcp|192.168.0.50|9100", 0, "보낼 내용이 없습니다" },
        { "tcp|192.168.0.50|9100", 32769, "인쇄할 내용이 너무 깁니다 (32769/32768 바이트)" },
        { "none", 10, "프린터 없음으로 설정되어 있습니다 (설정 → 프린터 연결)" },
        { "tcp|0.0.0.1|9100", 10, "프린터 연결 설정이 올바르지 않습니다" },
    };
    for (auto const& c : cases) {
        PrinterRecord record;
        record.connection = c.connection;
        auto printed = queue.print(record, std::string(c.size, 'x'), 0);
        ASSERT_FALSE(printed.ok()) << c.connection << " " << c.size;
        EXPECT_EQ(printed.error().message, c.message);
    }
    EXPECT_TRUE(queue.print(network_printer(), std::string(32768, 'x'), 0).ok());
    EXPECT_TRUE(delivery.wait_for(1));
    EXPECT_EQ(delivery.delivered[0].size(), 32768u);
}

TEST(PrintQueue, SixteenJobsWaitInOrderAndTheSeventeenthIsRefused)
{
    // The listener outlives the queue, whose end waits for its worker.
    Listener listener;
    ScriptedDelivery delivery;
    PrintQueue queue(delivery.sender());
    queue.set_listener(listener.function());
    delivery.hold();
    for (int i = 0; i < 16; ++i)
        ASSERT_TRUE(queue.print(network_printer(), (i == 3 ? "F" : "J") + std::to_string(i), 100 + i).ok()) << i;
    EXPECT_EQ(queue.pending(), 16u);
    auto refused = queue.print(network_printer(), "J16", 116);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().message, "인쇄 대기열이 가득 찼습니다. 장치 연결을 확인하세요");
    delivery.release();
    ASSERT_TRUE(delivery.wait_for(16));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(delivery.delivered[i], (i == 3 ? "F" : "J") + std::to_string(i));
    ASSERT_TRUE(listener.wait_for(16));
    queue.shut_down(5000);
    ASSERT_EQ(listener.outcomes.size(), 16u);
    EXPECT_TRUE(listener.outcomes[0].ok);
    EXPECT_EQ(listener.outcomes[0].message, "프린터로 인쇄 데이터를 전송했습니다");
    EXPECT_FALSE(listener.outcomes[3].ok);
    EXPECT_EQ(listener.outcomes[3].tag, 103);
    EXPECT_EQ(listener.outcomes[3].message, "LAN 연결/인쇄 전송 실패 (10060) — 일부 전송됨. 출력 여부 확인 후 재인쇄하세요");
    EXPECT_EQ(queue.pending(), 0u);
}

TEST(PrintQueue, WorkerComesBackAfterAQuietSpell)
{
    // The listener outlives the queue, whose end waits for its worker.
    Listener listener;
    ScriptedDelivery delivery;
    PrintQueue queue(delivery.sender());
    queue.set_listener(listener.function());
    ASSERT_TRUE(queue.print(network_printer(), "one", 0).ok());
    ASSERT_TRUE(delivery.wait_for(1));
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(queue.print(network_printer(), "two", 0).ok());
    ASSERT_TRUE(delivery.wait_for(2));
    EXPECT_EQ(delivery.delivered[1], "two");
}

TEST(PrintQueue, WithoutAListenerTheCallerDelivers)
{
    ScriptedDelivery delivery;
    PrintQueue queue(delivery.sender());
    EXPECT_TRUE(queue.print(network_printer(), "now", 0).ok());
    EXPECT_EQ(delivery.delivered.size(), 1u) << "delivered before print() returned";
    auto failed = queue.print(network_printer(), "Fail", 0);
    ASSERT_FALSE(failed.ok());
    EXPECT_NE(failed.error().message.find("10060"), std::string::npos);
}

TEST(PrintQueue, OlderRoutesGoThroughTheQueueToo)
{
    // The listener outlives the queue, whose end waits for its worker.
    Listener listener;
    ScriptedDelivery delivery;
    PrintQueue queue(delivery.sender());
    queue.set_listener(listener.function());
    delivery.hold();
    PrinterRecord legacy;
    legacy.name = "Counter";
    ASSERT_TRUE(queue.print(legacy, "legacy", 0).ok());
    EXPECT_EQ(queue.pending(), 1u) << "queued, not sent on the caller's thread";
    delivery.release();
    ASSERT_TRUE(delivery.wait_for(1));
    EXPECT_EQ(delivery.connections[0], "");
}

TEST(PrintQueue, DumpFileTakesEveryDocument)
{
    auto path = std::filesystem::temp_directory_path() / ("tb-dump-" + std::to_string(getpid()) + ".bin");
    std::filesystem::remove(path);
    setenv("TILLBAY_PRINT_DUMP", path.c_str(), 1);
    ScriptedDelivery delivery;
    PrintQueue queue(delivery.sender());
    EXPECT_TRUE(queue.print(network_printer(), "first", 0).ok());
    EXPECT_TRUE(queue.print(network_printer(), "second", 0).ok());
    PrinterRecord none;
    none.connection = "none";
    auto refused = queue.print(none, "third", 0);
    unsetenv("TILLBAY_PRINT_DUMP");
    EXPECT_FALSE(refused.ok()) << "\"none\" is refused before the dump file is looked at";
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), "firstsecond");
    EXPECT_TRUE(delivery.delivered.empty());
    std::filesystem::remove(path);
}

TEST(PrintQueue, DrawerPulse)
{
    EXPECT_EQ(drawer_pulse(5), std::string("\x1bp\x01\x19\xfa", 5));
    EXPECT_EQ(drawer_pulse(2), std::string("\x1bp\x00\x19\xfa", 5));
    ScriptedDelivery delivery;
    PrintQueue queue(delivery.sender());
    PrinterRecord record = network_printer();
    record.drawer_pin = 5;
    ASSERT_TRUE(queue.open_drawer(record).ok());
    EXPECT_EQ(delivery.delivered.back(), std::string("\x1bp\x01\x19\xfa", 5));
    record.drawer_enable = 0;
    auto off = queue.open_drawer(record);
    ASSERT_FALSE(off.ok());
    EXPECT_EQ(off.error().message, "현금서랍이 꺼져 있습니다");
}

} // namespace

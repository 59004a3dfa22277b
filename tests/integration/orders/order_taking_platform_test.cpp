// Taking orders against the reference platform over TLS: a request key sent
// twice places one order, also when the first answer was lost on the way;
// the order is placed for the signed-in store whatever its JSON claims; a
// payment QR for several orders is one code, paying it moves the orders on,
// and an expired code is extended.

#include "orders/order_taking.h"
#include "peer.h"
#include "server/signin.h"
#include "session/session.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <thread>

using namespace tillbay;
using Json = nlohmann::json;

namespace {

class CapturePage final : public bridge::Page {
public:
    void callback(std::string_view name, std::string_view args) override
    {
        calls.push_back(std::string(name) + "(" + std::string(args) + ")");
    }
    void status(std::string_view message) override { statuses.emplace_back(message); }
    std::vector<std::string> calls;
    std::vector<std::string> statuses;
};

// The object literal a setPayQr callback carries.
Json pay_qr(std::string const& call)
{
    auto open = call.find('(');
    return Json::parse(call.substr(open + 1, call.size() - open - 2), nullptr, false);
}

class OrderTakingPlatform : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (peers::Platform::binary().empty())
            GTEST_SKIP() << "tillbay-platform is not built";
        platform.serve_args = { "--qr-ttl", "3" };
        ASSERT_TRUE(platform.start());
        ASSERT_TRUE(platform.configure_pos());
        auto staff = signin::staff(api::configured_endpoint(), platform.staff_id, platform.staff_password);
        ASSERT_TRUE(staff.ok()) << staff.error().message;
        session::set_staff(staff.value().storeidx, staff.value().useridx, staff.value().shop_name, false);
        auto hooks = orders::TakingHooks::standard();
        hooks.journal = [this](int storeidx) { return orders::OrderJournal(platform.dir.path() + "/", "127.0.0.1", storeidx); };
        hooks.refresh_orders = [](bridge::Page&) { };
        family = std::make_unique<orders::OrderTakingFamily>(std::move(hooks));
    }
    void TearDown() override { session::reset(); }

    CapturePage run(std::vector<std::string> fields)
    {
        CapturePage page;
        bridge::Command command { std::move(fields), 1, false };
        EXPECT_EQ(family->handle(command, page), bridge::Handled::Yes);
        return page;
    }
    // The orders on the store's board, by orderidx.
    std::map<long long, Json> board()
    {
        auto answer = api::store_call("cmd=110&storeidx=" + std::to_string(session::storeidx()));
        std::map<long long, Json> out;
        if (!answer.ok())
            return out;
        auto list = Json::parse(answer.value().resultData, nullptr, false);
        for (auto const& o : list.value("orders", Json::array()))
            out[o["orderidx"].get<long long>()] = o;
        return out;
    }
    int order_requests_with(std::string const& key, long long after)
    {
        int count = 0;
        for (auto const& line : platform.requests_after(after))
            count += line.find("cmd=10&reqkey=" + key) != std::string::npos;
        return count;
    }
    long long last_seq()
    {
        long long seq = 0;
        (void)platform.requests_after(0, &seq);
        return seq;
    }
    long long customer_order(char const* pay)
    {
        Json made = Json::parse(platform.control("POST", "/control/orders",
            Json({ { "table", 4 }, { "kind", "table" }, { "pay", pay }, { "lines", { { { "name", "김밥" }, { "qty", 1 } } } } }).dump()));
        return made.value("orderidx", 0LL);
    }

    peers::Platform platform;
    std::unique_ptr<orders::OrderTakingFamily> family;
};

constexpr char const* key = "pos-it-0001-abcdef0123";
constexpr char const* order = R"({"storeidx":99,"tablenum":2,"requestmemo":"storeidx 99 & 덜 맵게","items":[{"menuidx":101,"qty":2,"options":[{"optionname":"곱빼기","optionprice":2000}]}]})";

TEST_F(OrderTakingPlatform, SameKeyTwicePlacesOneOrderForTheSignedInStore)
{
    long long before = last_seq();
    auto first = run({ "placeorder", order, key, "ctx" });
    ASSERT_EQ(first.calls.size(), 1u);
    auto open = first.calls[0].find(',');
    long long orderidx = std::atoll(first.calls[0].c_str() + open + 1);
    ASSERT_GT(orderidx, 0) << first.calls[0];
    EXPECT_EQ(first.calls[0], "orderRequestResult(\"" + std::string(key) + "\"," + std::to_string(orderidx) + ",\"\")");

    // The page sends it again (it never heard the answer): the same order.
    auto second = run({ "placeorder", order, key, "ctx" });
    EXPECT_EQ(second.calls, first.calls);
    EXPECT_EQ(order_requests_with(key, before), 2);

    auto orders = board();
    ASSERT_TRUE(orders.contains(orderidx));
    Json detail = Json::parse(platform.control("GET", "/control/orders/" + std::to_string(orderidx)));
    EXPECT_EQ(detail.value("requestmemo", ""), "storeidx 99 & 덜 맵게");
    EXPECT_EQ(detail.value("totalamount", 0), 22000);
    int with_key = 0;
    for (auto const& [idx, o] : orders)
        with_key += idx == orderidx;
    EXPECT_EQ(with_key, 1);

    // Another order waits until this one is forgotten, without being sent.
    long long mark = last_seq();
    auto refused = run({ "placeorder", R"({"items":[{"menuidx":108,"qty":1}]})", "pos-it-0002-abcdef0123", "ctx" });
    EXPECT_EQ(refused.calls[0], "orderRequestResult(\"pos-it-0002-abcdef0123\",0,\"" + std::string(orders::taking_text::journal_refused) + "\")");
    auto changed = run({ "placeorder", R"({"items":[{"menuidx":108,"qty":1}]})", key, "ctx" });
    EXPECT_NE(changed.calls[0].find(orders::taking_text::journal_refused), std::string::npos);
    EXPECT_EQ(last_seq(), mark);
    EXPECT_EQ(run({ "orderrequestforget", key }).calls[0], "orderRequestForgot(\"" + std::string(key) + "\",true)");
    auto next = run({ "placeorder", R"({"items":[{"menuidx":108,"qty":1}]})", "pos-it-0002-abcdef0123", "ctx" });
    EXPECT_EQ(next.calls[0].find(",0,"), std::string::npos) << next.calls[0];
}

TEST_F(OrderTakingPlatform, LostAnswerThenResendPlacesOneOrder)
{
    size_t before = board().size();
    // The platform places the order and closes the connection without answering.
    platform.control("POST", "/control/faults", R"({"listener":"api","cmd":10,"kind":"close"})");
    auto lost = run({ "placeorder", order, key, "ctx" });
    EXPECT_EQ(lost.calls[0], "orderRequestResult(\"" + std::string(key) + "\",0,\"" + orders::taking_text::no_answer + "\")");
    EXPECT_EQ(board().size(), before + 1) << "the order did arrive";

    auto again = run({ "placeorder", order, key, "ctx" });
    EXPECT_EQ(again.calls[0].find(",0,"), std::string::npos) << again.calls[0];
    EXPECT_EQ(board().size(), before + 1) << "the resend is the same order";
}

TEST_F(OrderTakingPlatform, PaymentQrForOneOrderAndForSeveral)
{
    // An order with its QR in one step; paying the token settles it.
    auto made = run({ "payqrmake", R"({"tablenum":3,"items":[{"menuidx":109,"qty":2}]})", "pos-it-qr01-abcdef0123" });
    ASSERT_FALSE(made.calls.empty());
    Json qr = pay_qr(made.calls.back());
    ASSERT_EQ(qr.value("ok", 0), 1) << made.calls.back();
    EXPECT_EQ(qr.value("amount", 0), 4000);
    std::string token = qr.value("token", "");
    ASSERT_FALSE(token.empty());
    long long orderidx = qr["orderidx"];
    EXPECT_EQ(board()[orderidx].value("paystatus", -1), 0);

    // It expires; paying then fails until it is extended.
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    EXPECT_NE(platform.control("POST", "/control/payments", Json({ { "token", token } }).dump()).find("expired"), std::string::npos);
    auto extended = run({ "qrextend", std::to_string(orderidx) });
    EXPECT_EQ(extended.calls[0].rfind("setQrExtend({'ok':1,", 0), 0u) << extended.calls[0];
    EXPECT_NE(platform.control("POST", "/control/payments", Json({ { "token", token } }).dump()).find("PAYING"), std::string::npos);
    EXPECT_EQ(board()[orderidx].value("paystatus", -1), 1);

    // Three orders, one code.
    long long a = customer_order("unpaid"), b = customer_order("unpaid"), c = customer_order("unpaid");
    ASSERT_GT(a * b * c, 0);
    auto grouped = run({ "payqrall", std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c) });
    Json group = pay_qr(grouped.calls.back());
    ASSERT_EQ(group.value("ok", 0), 1) << grouped.calls.back();
    EXPECT_EQ(group.value("groupcount", 0), 3);
    EXPECT_EQ(group.value("amount", 0), 12000);
    auto waiting = run({ "qrwait", std::to_string(a), "on" });
    EXPECT_EQ(waiting.calls[0].rfind("setQrWait({'ok':1,'orderidx':" + std::to_string(a) + ",'on':1,", 0), 0u) << waiting.calls[0];
    EXPECT_NE(platform.control("POST", "/control/payments", Json({ { "token", group.value("token", "") } }).dump()).find("PAYING"),
        std::string::npos);
    auto after = board();
    ASSERT_TRUE(after.contains(a));
    EXPECT_EQ(after[a].value("paystatus", -1), 1);
    EXPECT_FALSE(after.contains(b)) << "the platform merged the group into the first order";
}

TEST_F(OrderTakingPlatform, ServerWithoutQrGroupsMergesTheOrdersFirst)
{
    platform.control("POST", "/control/options", R"({"qrGroups":false})");
    long long a = customer_order("unpaid"), b = customer_order("unpaid"), c = customer_order("unpaid");
    auto page = run({ "payqrall", std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c) });
    Json qr = pay_qr(page.calls.back());
    ASSERT_EQ(qr.value("ok", 0), 1) << page.calls.back();
    EXPECT_EQ(qr.value("orderidx", 0LL), a);
    EXPECT_EQ(qr.value("amount", 0), 12000);
    EXPECT_EQ(page.statuses.front(), "옛 서버라 주문 3건을 하나로 합쳤습니다");
    Json merged = Json::parse(platform.control("GET", "/control/orders/" + std::to_string(b)));
    EXPECT_EQ(merged.value("mergedinto", 0LL), a);
}

} // namespace

// The order-taking commands against a scripted server and a journal in a
// temporary folder: what is sent, what the page hears, and what the journal
// lets through.

#include "orders/order_json.h"
#include "os/fs.h"
#include "orders/order_taking.h"
#include "recording_page.h"
#include "session/session.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <map>

using namespace tillbay;
using test::RecordingPage;

namespace {

struct Answer {
    bool reached = true;
    std::string code = "0";
    std::string data;
    std::string message;
};

class OrderTakingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tb-taking-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder = std::string(pattern) + "/";
        session::reset();
        session::set_staff(7, 1001, "틸베이 한식당", false);
        orders::TakingHooks hooks;
        hooks.store_call = [this](std::string_view command) -> Result<api::StoreResult> {
            sent.emplace_back(command);
            auto& queue = answers[std::string(command.substr(0, command.find('&')))];
            if (queue.empty() || !queue.front().reached) {
                if (!queue.empty())
                    queue.pop_front();
                return Error::with_message("서버에 연결하지 못했습니다");
            }
            Answer a = queue.front();
            queue.pop_front();
            return api::StoreResult { a.code, "json", a.data, a.message };
        };
        hooks.journal = [this](int storeidx) { return orders::OrderJournal(folder, "api.example.com", storeidx); };
        hooks.server_host = [] { return std::string("api.example.com"); };
        hooks.refresh_orders = [](bridge::Page& page) { page.status("refreshed"); };
        hooks.merge_orders = [this](int target, std::string_view others) {
            return orders::merge_orders_request(family.hooks().store_call, target, others);
        };
        family.hooks() = std::move(hooks);
    }
    void TearDown() override
    {
        session::reset();
        (void)std::system(("rm -rf '" + folder + "'").c_str());
    }

    void answer(std::string const& cmd, Answer a) { answers[cmd].push_back(std::move(a)); }
    std::vector<std::string> run(std::vector<std::string> fields)
    {
        RecordingPage page;
        bridge::Command command { std::move(fields), 1, false };
        EXPECT_EQ(family.runs(command.name()), bridge::Runs::OnLane);
        EXPECT_EQ(family.handle(command, page), bridge::Handled::Yes);
        return page.said;
    }

    std::string folder;
    std::map<std::string, std::deque<Answer>> answers;
    std::vector<std::string> sent;
    orders::OrderTakingFamily family { orders::TakingHooks {} };
};

constexpr char const* key = "K1b2C3d4-e5f6-7890";
constexpr char const* other_key = "Z9b2C3d4-e5f6-7890";
constexpr char const* order = R"({"tablenum":3,"items":[{"menuidx":1,"qty":2}]})";

std::string result(char const* k, int orderidx, std::string_view message)
{
    return "orderRequestResult(\"" + std::string(k) + "\"," + std::to_string(orderidx) + ",\"" + std::string(message) + "\")";
}

TEST(OrderJson, BoundToTheSignedInStore)
{
    struct Case {
        char const* in;
        char const* out; // nullptr: refused
    } const cases[] = {
        { R"({"a":1})", R"({"storeidx":7,"a":1})" },
        { R"({})", R"({"storeidx":7})" },
        { R"( {"storeidx":3,"a":1} )", R"({"storeidx":7,"a":1})" },
        { R"({"storeidx":"3","a":1,"storeidx":9})", R"({"storeidx":7,"a":1})" },
        { R"({"store\u0069dx":3})", R"({"storeidx":7})" },
        { R"({"memo":"storeidx 3 \"storeidx\":3","x":{"storeidx":3}})", R"({"storeidx":7,"memo":"storeidx 3 \"storeidx\":3","x":{"storeidx":3}})" },
        { R"({"memo":"A&B"})", R"({"storeidx":7,"memo":"A\u0026B"})" },
        { R"({"n":-1.5e3,"t":true,"f":false,"z":null,"l":[1,[2],{}]})", R"({"storeidx":7,"n":-1.5e3,"t":true,"f":false,"z":null,"l":[1,[2],{}]})" },
        { R"([1])", nullptr },
        { R"({"a":1} {"b":2})", nullptr },
        { R"({"a":1,})", nullptr },
        { R"({"a":01})", nullptr },
        { R"({"a":"line
break"})", nullptr },
        { R"({"a":"\x"})", nullptr },
        { R"({"a":tru})", nullptr },
        { R"({a:1})", nullptr },
        { R"({"a":1)", nullptr },
        { "", nullptr },
    };
    for (auto const& c : cases) {
        auto out = orders::prepare_order_json(c.in, 7);
        if (c.out)
            EXPECT_EQ(out.value_or("(refused)"), c.out) << c.in;
        else
            EXPECT_FALSE(out) << c.in;
    }
    std::string deep(orders::max_order_json_depth + 1, '[');
    EXPECT_FALSE(orders::prepare_order_json("{\"a\":" + deep + std::string(deep.size(), ']') + "}", 7));
}

TEST_F(OrderTakingTest, PlacesAnOrderForTheSignedInStore)
{
    answer("cmd=10", { true, "0", R"({"orderidx":55,"ordernum":"A-12"})" });
    auto said = run({ "placeorder", R"({"storeidx":3,"memo":"storeidx 3 & 콜라","items":[]})", key, "ctx" });
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], std::string("cmd=10&reqkey=") + key + R"(&orderjson={"storeidx":7,"memo":"storeidx 3 \u0026 콜라","items":[]})");
    EXPECT_EQ(said, (std::vector<std::string> { result(key, 55, ""), "status:refreshed" }));
    // Pending until the page forgets it.
    EXPECT_EQ(family.hooks().journal(7).read().key, key);
    EXPECT_EQ(run({ "orderrequestforget", key }), (std::vector<std::string> { std::string("orderRequestForgot(\"") + key + "\",true)" }));
    EXPECT_EQ(family.hooks().journal(7).read().state, orders::JournalState::None);
}

TEST_F(OrderTakingTest, RequestsAnOutdatedPageCannotMakeAreNeverSent)
{
    std::string const toast = std::string("status:") + orders::taking_text::page_outdated_toast;
    struct Case {
        std::vector<std::string> fields;
        char const* key_back;
    } const cases[] = {
        { { "placeorder", order, "short-key", "ctx" }, "short-key" },
        { { "placeorder", order, "", "ctx" }, "" },
        { { "placeorder", "", key, "ctx" }, key },
        { { "placeorder", order, key, "" }, key },
        { { "placeorder", order, key }, key },
        { { "placeorder", "[1,2]", key, "ctx" }, key },
        { { "placeorder", "{\"a\":", key, "ctx" }, key },
    };
    for (auto const& c : cases)
        EXPECT_EQ(run(c.fields), (std::vector<std::string> { toast, result(c.key_back, 0, orders::taking_text::page_outdated) }))
            << c.fields[1] << " / " << c.fields[2];
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(family.hooks().journal(7).read().state, orders::JournalState::None);

    session::reset();
    EXPECT_EQ(run({ "placeorder", order, key, "ctx" }), (std::vector<std::string> { result(key, 0, orders::taking_text::sign_in_again) }));
    EXPECT_EQ(run({ "orderrequestforget", key }), (std::vector<std::string> { std::string("orderRequestForgot(\"") + key + "\",false)" }));
    EXPECT_TRUE(sent.empty());
}

TEST_F(OrderTakingTest, LostAnswerKeepsTheOrderPendingForAResend)
{
    answer("cmd=10", { false });
    EXPECT_EQ(run({ "placeorder", order, key, "ctx" }), (std::vector<std::string> { result(key, 0, orders::taking_text::no_answer) }));
    // Another order, or the same key with another order, waits: nothing is sent.
    EXPECT_EQ(run({ "placeorder", order, other_key, "ctx" }),
        (std::vector<std::string> { result(other_key, 0, orders::taking_text::journal_refused) }));
    EXPECT_EQ(run({ "placeorder", R"({"items":[]})", key, "ctx" }),
        (std::vector<std::string> { result(key, 0, orders::taking_text::journal_refused) }));
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(run({ "orderrequestforget", other_key }),
        (std::vector<std::string> { std::string("orderRequestForgot(\"") + other_key + "\",false)" }));
    EXPECT_EQ(run({ "orderrequestforget", "bad key" }), (std::vector<std::string> { "orderRequestForgot(\"bad key\",false)" }));

    // The same order again is sent again, with the same key.
    answer("cmd=10", { true, "0", R"({"orderidx":56,"repeated":1})" });
    EXPECT_EQ(run({ "placeorder", order, key, "ctx" }), (std::vector<std::string> { result(key, 56, ""), "status:refreshed" }));
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], sent[1]);

    // A refusal or an answer without an order number leaves it pending too.
    ASSERT_TRUE(family.hooks().journal(7).forget(key));
    answer("cmd=10", { true, "9", "", "주문할 메뉴가 없습니다" });
    EXPECT_EQ(run({ "placeorder", order, other_key, "ctx" }),
        (std::vector<std::string> { result(other_key, 0, orders::taking_text::unknown_result) }));
    EXPECT_EQ(family.hooks().journal(7).read().key, other_key);
}

TEST_F(OrderTakingTest, RequestContextTellsThePageWhatIsPending)
{
    RecordingPage page;
    family.send_request_context(page);
    ASSERT_TRUE(family.hooks().journal(7).begin(key, order, R"({"t":"3번"})"));
    family.send_request_context(page);
    ASSERT_TRUE(os::write_file(folder + orders::journal_file_name("api.example.com", 7), "not a journal").ok());
    family.send_request_context(page);
    EXPECT_EQ(page.said,
        (std::vector<std::string> {
            R"(setOrderRequestContext("api.example.com",7,"",false,2,""))",
            std::string(R"(setOrderRequestContext("api.example.com",7,"{\"t\":\"3번\"}",false,2,")") + key + "\")",
            R"(setOrderRequestContext("api.example.com",7,"",true,2,""))",
        }));
    // An unreadable journal is given up with an empty key.
    EXPECT_EQ(run({ "orderrequestforget", key }), (std::vector<std::string> { std::string("orderRequestForgot(\"") + key + "\",false)" }));
    EXPECT_EQ(run({ "orderrequestforget", "" }), (std::vector<std::string> { "orderRequestForgot(\"\",true)" }));
}

TEST_F(OrderTakingTest, PayQrMakeNeedsAWholeRequestKey)
{
    for (std::vector<std::string> fields : std::vector<std::vector<std::string>> {
             { "payqrmake", order }, { "payqrmake", order, "" }, { "payqrmake", order, "short" }, { "payqrmake", order, "K1b2C3d4 e5f6 7890" },
             { "payqrmake", "nope", key } }) {
        auto said = run(fields);
        ASSERT_FALSE(said.empty());
        EXPECT_EQ(said.back(), "setPayQr({\"ok\":0})") << fields.size();
    }
    EXPECT_TRUE(sent.empty());

    answer("cmd=10", { true, "0", R"({"orderidx":70})" });
    answer("cmd=131", { true, "0", R"({"orderidx":70,"ordernum":"A-3","tablenum":2,"totalamount":16000,"paytoken":"PT1","expire":"2026-12-10 18:00:00","groupcount":1})" });
    auto said = run({ "payqrmake", R"({"storeidx":1,"items":[]})", key });
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], std::string("cmd=10&reqkey=") + key + R"(&prepay=1&orderjson={"storeidx":7,"items":[]})");
    EXPECT_EQ(sent[1], "cmd=131&storeidx=7&orderidx=70");
    EXPECT_EQ(said, (std::vector<std::string> { R"(setPayQr({"ok":1,"orderidx":70,"ordernum":"A-3","tablenum":2,"amount":16000,"token":"PT1","fallback":0,"expire":"2026-12-10 18:00:00"}))",
                        "status:refreshed" }));

    // The order was made but no token: the fallback form.
    answer("cmd=10", { true, "0", R"({"orderidx":71})" });
    answer("cmd=131", { true, "9", "", "토큰 없음" });
    said = run({ "payqrmake", order, other_key });
    EXPECT_EQ(said.front(), R"(setPayQr({"ok":1,"orderidx":71,"ordernum":"","tablenum":0,"amount":0,"token":"","fallback":1}))");
    // A refused order and an answer without an order number.
    answer("cmd=10", { true, "9", "", "거절" });
    EXPECT_EQ(run({ "payqrmake", order, key }),
        (std::vector<std::string> { std::string("status:") + orders::taking_text::qr_order_failed, "setPayQr({\"ok\":0})" }));
    answer("cmd=10", { true, "0", "{}" });
    EXPECT_EQ(run({ "payqrmake", order, key }),
        (std::vector<std::string> { std::string("status:") + orders::taking_text::qr_no_orderidx, "setPayQr({\"ok\":0})" }));
}

TEST_F(OrderTakingTest, PayQrForGroupsOrMergesOnAnOldServer)
{
    answer("cmd=131", { true, "0", R"({"orderidx":5,"ordernum":"5","tablenum":1,"totalamount":30000,"paytoken":"PTG","expire":"e","groupcount":3})" });
    auto said = run({ "payqrall", "5,6,,7,-2,0,x9" });
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], "cmd=131&storeidx=7&orderidx=5&orders=6,7");
    EXPECT_EQ(said, (std::vector<std::string> { "status:주문 3건을 한 QR 로 묶었습니다 — 결제되면 하나로 합쳐집니다", "status:refreshed",
                        R"(setPayQr({"ok":1,"orderidx":5,"ordernum":"5","tablenum":1,"amount":30000,"token":"PTG","fallback":0,"kept":1,"mixed":0,"groupcount":3,"expire":"e"}))" }));

    // A server without QR groups: the orders are merged, then the merged one gets the QR.
    sent.clear();
    answer("cmd=131", { true, "0", R"({"orderidx":5,"paytoken":"PT5","groupcount":0})" });
    answer("cmd=138", { true, "0", R"({"orderidx":5,"mixed":1,"count":3})" });
    answer("cmd=131", { true, "0", R"({"orderidx":5,"ordernum":"5","tablenum":1,"totalamount":30000,"paytoken":"PTM","expire":"e","groupcount":1})" });
    said = run({ "payqrfor", "5", "0", "6,7;drop table", "1" });
    EXPECT_EQ(sent, (std::vector<std::string> { "cmd=131&storeidx=7&orderidx=5&extend=1&orders=6,7", "cmd=138&storeidx=7&target=5&sources=6,7",
                        "cmd=131&storeidx=7&orderidx=5" }));
    EXPECT_EQ(said, (std::vector<std::string> { "status:옛 서버라 주문 3건을 하나로 합쳤습니다", "status:refreshed", "status:refreshed",
                        R"(setPayQr({"ok":1,"orderidx":5,"ordernum":"5","tablenum":1,"amount":30000,"token":"PTM","fallback":0,"kept":1,"mixed":1,"groupcount":1,"expire":"e"}))" }));

    // A merge the server refuses ends with the failure form and its reason.
    answer("cmd=131", { true, "0", R"({"paytoken":"PT5","groupcount":0})" });
    answer("cmd=138", { true, "9", "", "이미 취소된 주문입니다" });
    EXPECT_EQ(run({ "payqrfor", "5", "0", "6" }), (std::vector<std::string> { "status:이미 취소된 주문입니다", "setPayQr({\"ok\":0})" }));
    EXPECT_EQ(run({ "payqrfor" }), (std::vector<std::string> { "setPayQr({\"ok\":0})" }));
    EXPECT_EQ(run({ "payqrfor", "0" }), (std::vector<std::string> { "setPayQr({\"ok\":0})" }));
    EXPECT_EQ(run({ "payqrall", "" }), (std::vector<std::string> { "setPayQr({\"ok\":0})" }));
}

TEST_F(OrderTakingTest, ExtendAndWait)
{
    answer("cmd=131", { true, "0", R"({"expire":"2026-12-10 18:10:00"})" });
    EXPECT_EQ(run({ "qrextend", "5" }), (std::vector<std::string> { R"(setQrExtend({'ok':1,'orderidx':5,'expire':"2026-12-10 18:10:00"}))" }));
    EXPECT_EQ(sent.back(), "cmd=131&storeidx=7&orderidx=5&extend=1");
    answer("cmd=139", { true, "0", R"({"on":1,"expire":1765389000})" });
    EXPECT_EQ(run({ "qrwait", "5", "on" }), (std::vector<std::string> { "setQrWait({'ok':1,'orderidx':5,'on':1,'expire':1765389000})" }));
    EXPECT_EQ(sent.back(), "cmd=139&storeidx=7&orderidx=5&act=on&ttl=60");
    answer("cmd=139", { true, "0", R"({"on":0,"expire":0})" });
    (void)run({ "qrwait", "5", "ON" });
    EXPECT_EQ(sent.back(), "cmd=139&storeidx=7&orderidx=5&act=off&ttl=60");
    auto said = run({ "qrextend", "5" });
    EXPECT_EQ(said.back(), R"(setQrExtend({'ok':0,'orderidx':5,'expire':""}))");
}

TEST_F(OrderTakingTest, MenuReads)
{
    answer("cmd=1", { true, "0", R"({"categories":[{"idx":1,"ctname":"식사"}]})" });
    EXPECT_EQ(run({ "menucats" }), (std::vector<std::string> { R"(setMenuCats("{\"categories\":[{\"idx\":1,\"ctname\":\"식사\"}]}"))" }));
    answer("cmd=2", { true, "0", R"({"menus":[]})" });
    answer("cmd=3", { false });
    EXPECT_EQ(run({ "menulist", "4" }), (std::vector<std::string> { "status:메뉴 옵션을 받지 못했습니다", R"(setMenuList(4,"{\"menus\":[]}",""))" }));
    EXPECT_EQ(sent, (std::vector<std::string> { "cmd=1&storeidx=7", "cmd=2&storeidx=7&categoryidx=4", "cmd=3&storeidx=7&categoryidx=4" }));
    EXPECT_EQ(run({ "menucats" }), (std::vector<std::string> { "status:메뉴 분류를 받지 못했습니다", R"(setMenuCats(""))" }));
}

} // namespace

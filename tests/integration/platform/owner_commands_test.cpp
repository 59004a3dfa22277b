// The owner's back-office commands of the reference platform, driven from
// outside with openssl enc for the owner cipher: what each command answers,
// a change made through one command read back through another and after a
// restart, form values decoded as a web server decodes them, and the demo
// store's history, the same for every store seeded on the same day.

#include "platform_peer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

using namespace platform_test;

namespace {

// Every page's answer stays within 64 KiB, quick over a shop's connection.
constexpr size_t pos_answer_limit = 65535;

struct Owner {
    long long idx = 0;
    std::string key, iv;
};

Owner sign_in_owner(PlatformProcess& p)
{
    Json login = p.owner_call("cmd=12&id=owner01&password=owner1234!", 1, 0, p.info()["appKey"], p.info()["appIv"]);
    Json record = Json::parse(login.value("plain", ""), nullptr, false);
    if (!record.is_object())
        return {};
    return { std::stoll(record["idx"].get<std::string>()), record["devkey"], record["deviv"] };
}

// An owner command's answer: code, the decrypted payload parsed when it is
// JSON (else kept as text under "text"), and the raw answer's size.
struct Answer {
    std::string code;
    Json data;
    std::string text;
    size_t size = 0;
};

Answer owner(PlatformProcess& p, Owner const& o, std::string const& command)
{
    Json envelope = { { "header", p.info()["serverHeader"] }, { "version", "1.0" }, { "grade", 3 }, { "useridx", o.idx },
        { "data", aes_encrypt_b64(command, o.key, o.iv) } };
    std::string raw = p.api_exchange(envelope.dump() + "\n");
    Json answer = Json::parse(raw, nullptr, false);
    Answer a;
    a.size = raw.size();
    if (!answer.is_object())
        return a;
    a.code = answer.value("resultCode", "");
    std::string data = answer.value("resultData", "");
    if (!data.empty())
        a.text = aes_decrypt_b64(data, o.key, o.iv);
    a.data = Json::parse(a.text, nullptr, false);
    return a;
}

class OwnerCommands : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_platform = new PlatformProcess({ "--plain" });
        s_owner = sign_in_owner(*s_platform);
    }
    static void TearDownTestSuite() { delete s_platform; }
    void SetUp() override
    {
        ASSERT_TRUE(s_platform->ready());
        ASSERT_GT(s_owner.idx, 0);
    }
    Answer call(std::string const& command) { return owner(*s_platform, s_owner, command); }

    static PlatformProcess* s_platform;
    static Owner s_owner;
};
PlatformProcess* OwnerCommands::s_platform = nullptr;
Owner OwnerCommands::s_owner;

bool has_array(Json const& j, char const* key, size_t at_least = 1)
{
    return j.is_object() && j.contains(key) && j[key].is_array() && j[key].size() >= at_least;
}

} // namespace

// Every read a back-office page makes, with what the page needs from it.
TEST_F(OwnerCommands, ReadsAnswerWhatThePagesShow)
{
    struct Case {
        std::string command;
        std::function<bool(Json const&)> shaped;
    } const cases[] = {
        { "cmd=1&storeidx=1", [](Json const& j) { return j["tablenum"] == 12 && j["shopname"] == "틸베이 한식당"; } },
        { "cmd=9&storeidx=1", [](Json const& j) { return has_array(j, "categories", 4) && j["categories"][0].contains("ctname"); } },
        { "cmd=10&storeidx=1&categoryidx=11", [](Json const& j) { return has_array(j, "menus", 3) && j["menus"][0]["mname"] == "김치찌개"; } },
        { "cmd=11&storeidx=1&menuidx=101", [](Json const& j) { return j["mname"] == "김치찌개" && has_array(j, "groups", 2); } },
        { "cmd=92&storeidx=1&menuidx=101", [](Json const& j) { return has_array(j, "groups", 2) && j["groups"][0].contains("idx"); } },
        { "cmd=21&storeidx=1&withcat=1", [](Json const& j) { return has_array(j, "products", 3) && j["total"] == 3; } },
        { "cmd=22&storeidx=1&productidx=501", [](Json const& j) { return j["pname"] == "수제 김치 1kg" && has_array(j, "variants", 2); } },
        { "cmd=67&storeidx=1&productidx=501", [](Json const& j) { return has_array(j, "variants", 2); } },
        { "cmd=80&storeidx=1&productidx=501", [](Json const& j) { return has_array(j, "photos", 0); } },
        { "cmd=38", [](Json const& j) { return has_array(j, "categories", 3); } },
        { "cmd=45", [](Json const& j) { return has_array(j, "products", 1); } },
        { "cmd=40&storeidx=1", [](Json const& j) { return has_array(j, "promotions", 1); } },
        { "cmd=56", [](Json const& j) { return has_array(j, "messages", 20); } },
        { "cmd=58&msgidx=1", [](Json const& j) { return j.contains("body") && j.contains("title"); } },
        { "cmd=60&storeidx=1&status=1", [](Json const& j) { return has_array(j, "list", 2); } },
        { "cmd=62&storeidx=1", [](Json const& j) { return has_array(j, "list", 0); } },
        { "cmd=70&storeidx=1", [](Json const& j) { return !j["value"].get<std::string>().empty(); } },
        { "cmd=74&storeidx=1&type=store", [](Json const& j) { return has_array(j, "reviews", 20) && j["reviews"][0].contains("reply"); } },
        { "cmd=74&storeidx=1&type=product", [](Json const& j) { return has_array(j, "reviews", 5) && !j["reviews"][0]["pname"].get<std::string>().empty(); } },
        { "cmd=76&storeidx=1", [](Json const& j) { return j["opentime"] == "11:00" && has_array(j, "staff", 2) && j.contains("openstatus"); } },
        { "cmd=84&storeidx=1", [](Json const& j) { return has_array(j, "claims", 1) && j["claims"][0].contains("buyer"); } },
        { "cmd=86&storeidx=1", [](Json const& j) { return j["ceoname"] == "김민준" && j.contains("returnfeeinfo"); } },
        { "cmd=88&storeidx=1&unanswered=1", [](Json const& j) { return has_array(j, "qna", 2); } },
        { "cmd=8&type=get&storeidx=1", [](Json const& j) { return j["modes"]["1"] == "12000" && !j["benefit"].get<std::string>().empty(); } },
        { "cmd=55&storeidx=1", [](Json const& j) { return j["storetype"] == 1 && j.contains("todayamount"); } },
        { "cmd=54&storeidx=1", [](Json const& j) { return j["days"].size() == 30 && j["amount"].get<long long>() > 0 && has_array(j, "hours", 5) && has_array(j, "menus", 5); } },
        { "cmd=64&storeidx=1", [](Json const& j) { return j["days"].size() == 7 && j.contains("amount"); } },
        { "cmd=64&storeidx=1&group=product&top=2", [](Json const& j) { return has_array(j, "rank", 1) && j["rank"].size() <= 2; } },
    };
    for (auto const& c : cases) {
        Answer a = call(c.command);
        EXPECT_EQ(a.code, "0") << c.command << ": " << a.text;
        EXPECT_TRUE(c.shaped(a.data)) << c.command << ": " << a.text.substr(0, 600);
        EXPECT_LE(a.size, pos_answer_limit) << c.command;
    }
}

// Bad input is refused with a reason for the user, and nothing changes.
TEST_F(OwnerCommands, BadInputIsRefusedWithAReason)
{
    struct Case {
        std::string command;
    } const cases[] = {
        { "cmd=77&storeidx=1&opentime=25:00&closetime=21:00&breakstart=&breakend=&holidays=" },
        { "cmd=77&storeidx=1&opentime=11:00&closetime=21:00&breakstart=15:00&breakend=&holidays=" },
        { "cmd=44&storeidx=1&value=abc" },
        { "cmd=73&storeidx=1&openstatus=7" },
        { "cmd=61&storeidx=1&buyidx=9001&status=9" },
        { "cmd=85&storeidx=1&claimidx=1&action=maybe&rejectreason=" },
        { "cmd=54&storeidx=1&startday=20260301&endday=20250101" },
        { "cmd=54&storeidx=1&startday=20200101&endday=20251231" },
        { "cmd=8&type=set&storeidx=1&mode=77&value=1" },
        { "cmd=36&storeidx=1&categoryidx=11" },
        { "cmd=35&storeidx=2&categoryidx=11&ctname=x" },
    };
    for (auto const& c : cases) {
        Answer a = call(c.command);
        EXPECT_NE(a.code, "0") << c.command;
        EXPECT_FALSE(a.text.empty()) << c.command << " gives no reason";
    }
    EXPECT_EQ(call("cmd=76&storeidx=1").data["opentime"], "11:00");
}

// Changes read back through the command of the page that shows them.
TEST_F(OwnerCommands, ChangesReadBackThroughTheOtherCommand)
{
    struct Case {
        std::string change;
        std::string read;
        std::function<bool(Json const&)> shows;
    } const cases[] = {
        { "cmd=35&storeidx=1&categoryidx=12&ctname=%EC%A0%95%EC%8B%9D%20%26%20%EB%B0%A5", "cmd=9&storeidx=1",
            [](Json const& j) { return j["categories"][1]["ctname"] == "정식 & 밥"; } },
        { "cmd=16&storeidx=1&menuidx=102&value=1", "cmd=10&storeidx=1&categoryidx=11",
            [](Json const& j) { return j["menus"][1]["soldout"] == 1; } },
        { "cmd=77&storeidx=1&opentime=10:30&closetime=22:00&breakstart=&breakend=&holidays=%EC%9B%94", "cmd=76&storeidx=1",
            [](Json const& j) { return j["opentime"] == "10:30" && j["breakstart"] == "" && j["holidays"] == "월"; } },
        // A reply holding "&", "=" and a line break, sent encoded, arrives whole.
        { "cmd=75&storeidx=1&reviewidx=2&reply=A%26B%3DC%0A%EA%B0%90%EC%82%AC%ED%95%A9%EB%8B%88%EB%8B%A4", "cmd=74&storeidx=1&type=store",
            [](Json const& j) {
                for (auto const& r : j["reviews"])
                    if (r["reviewidx"] == 2)
                        return r["reply"] == "A&B=C\n감사합니다";
                return false;
            } },
        { "cmd=78&storeidx=1&name=%EC%84%9C%EB%B9%99&loginid=tillbay03&passwd=hall4321&role=staff", "cmd=76&storeidx=1",
            [](Json const& j) { return j["staff"].size() == 3 && j["staff"][2]["name"] == "서빙"; } },
        { "cmd=2&storeidx=1&shopname=%ED%8B%B8%EB%B2%A0%EC%9D%B4%20%EB%B3%B8%EC%A0%90", "cmd=55&storeidx=1",
            [](Json const& j) { return j["shopname"] == "틸베이 본점"; } },
        { "cmd=44&storeidx=1&value=15", "cmd=1&storeidx=1", [](Json const& j) { return j["tablenum"] == 15; } },
        { "cmd=73&storeidx=1&openstatus=0", "cmd=76&storeidx=1", [](Json const& j) { return j["openstatus"] == 0; } },
        { "cmd=87&storeidx=1&ceoname=%EA%B9%80%EB%AF%BC%EC%A4%80&bizno=214-86-53127&mailorderno=x&sellerphone=010&returnaddr=a%26b&deliverydays=3&returnfeeinfo=5%25",
            "cmd=86&storeidx=1", [](Json const& j) { return j["returnaddr"] == "a&b" && j["returnfeeinfo"] == "5%" && j["deliverydays"] == "3"; } },
        { "cmd=8&type=setbenefit&storeidx=1&mode=5&value=%EC%BF%A0%ED%8F%B0%20100%25", "cmd=8&type=get&storeidx=1",
            [](Json const& j) { return j["benefit"] == "쿠폰 100%"; } },
        { "cmd=71&storeidx=1&value=%EB%A7%B5%EA%B2%8C", "cmd=70&storeidx=1", [](Json const& j) { return j["value"] == "맵게"; } },
        { "cmd=89&storeidx=1&qnaidx=2&answer=%EB%84%A4", "cmd=88&storeidx=1&unanswered=1",
            [](Json const& j) { return j["qna"].size() == 2; } },
        { "cmd=65&storeidx=1&buyidx=9001&courier=CJ&invoiceno=123&couriercode=04&memo=", "cmd=60&storeidx=1&status=2",
            [](Json const& j) {
                for (auto const& o : j["list"])
                    if (o["buyidx"] == 9001)
                        return o["invoiceno"] == "123";
                return false;
            } },
        { "cmd=41&storeidx=1&promoidx=0&title=%EC%A0%80%EB%85%81&dcrate=15&startdate=2026-01-01&enddate=2026-02-01&isactive=Y",
            "cmd=40&storeidx=1", [](Json const& j) { return j["promotions"].size() == 2; } },
    };
    for (auto const& c : cases) {
        Answer changed = call(c.change);
        EXPECT_EQ(changed.code, "0") << c.change << ": " << changed.text;
        Answer read = call(c.read);
        EXPECT_TRUE(c.shows(read.data)) << c.change << " then " << c.read << ": " << read.text.substr(0, 800);
    }
    // The staff member added by the owner signs in at the counter.
    EXPECT_EQ(s_platform->store_call("cmd=100&id=tillbay03&pw=hall4321", 0)["resultCode"], "0");

    // The request log holds the decrypted command as it was sent.
    Json log = s_platform->control("GET", "/control/requests?after=0");
    bool seen = false;
    for (auto const& r : log["requests"])
        seen = seen || r["command"].get<std::string>().starts_with("cmd=75&storeidx=1&reviewidx=2&reply=A%26B%3DC");
    EXPECT_TRUE(seen);
}

// Percent escapes are decoded once; a "%" without two hexadecimal digits and
// a "+" arrive as they were sent.
TEST_F(OwnerCommands, FormValuesAreDecodedOnceAndOnlyWhereEncoded)
{
    struct Case {
        std::string sent;
        std::string stored;
    } const cases[] = {
        { "50%", "50%" },
        { "100%OFF", "100%OFF" },
        { "%2541", "%41" },
        { "+82 10", "+82 10" },
        { "a%3db", "a=b" },
        { "%EC%95%88%EB%85%95", "안녕" },
    };
    for (auto const& c : cases) {
        ASSERT_EQ(call("cmd=51&storeidx=1&value=" + c.sent).code, "0") << c.sent;
        EXPECT_EQ(call("cmd=55&storeidx=1").data.value("smscomment", ""), c.stored) << c.sent;
    }
}

TEST(OwnerHistory, SalesHaveMonthsOfHistoryTheSameForEveryStoreSeededToday)
{
    PlatformProcess first({ "--plain" });
    PlatformProcess second({ "--plain" });
    ASSERT_TRUE(first.ready() && second.ready());
    Owner a = sign_in_owner(first), b = sign_in_owner(second);

    // A year in one answer, with a page of orders, stays small.
    std::string year = "cmd=54&storeidx=1&startday=" + run_shell("date -d '-365 days' +%Y%m%d").substr(0, 8) + "&endday="
        + run_shell("date +%Y%m%d").substr(0, 8) + "&offset=0&limit=50&yday=1";
    Answer sales = owner(first, a, year);
    ASSERT_EQ(sales.code, "0") << sales.text.substr(0, 300);
    EXPECT_LE(sales.size, pos_answer_limit);
    EXPECT_EQ(sales.data["orders"].size(), 50u);
    EXPECT_GT(sales.data["total"].get<long long>(), 2000);
    EXPECT_TRUE(sales.data["yday"].contains("amount"));
    int months_with_sales = 0;
    std::map<std::string, long long> by_month;
    for (auto const& d : sales.data["days"])
        by_month[d["day"].get<std::string>().substr(0, 7)] += d["amount"].get<long long>();
    for (auto const& [month, amount] : by_month)
        months_with_sales += amount > 0;
    EXPECT_GE(months_with_sales, 4);

    Answer again = owner(second, b, year);
    EXPECT_EQ(again.data["days"], sales.data["days"]) << "the history is drawn from one fixed seed";
    EXPECT_EQ(again.data["menus"], sales.data["menus"]);

    // The receipt history's fullest page stays small as well.
    Json token = Json::parse(first.owner_call("cmd=91&storeidx=1", 3, a.idx, a.key, a.iv)["plain"].get<std::string>());
    std::string page = first.api_exchange(Json({ { "header", first.info()["serverHeader"] }, { "version", "1.0" }, { "grade", 5 },
        { "useridx", a.idx }, { "data", "cmd=134&storeidx=1&from=20000101&to=20991231&page=1&size=200&token=" + token["token"].get<std::string>() } })
                                              .dump());
    EXPECT_LE(page.size(), pos_answer_limit);
    Json history = Json::parse(page, nullptr, false);
    ASSERT_TRUE(history.is_object() && history["resultData"].is_string()) << page.substr(0, 300);
    EXPECT_EQ(Json::parse(history["resultData"].get<std::string>())["orders"].size(), 200u);
}

TEST(OwnerRestart, ChangesSurviveARestart)
{
    char folder[] = "/tmp/tbplatrestartXXXXXX";
    std::string data = mkdtemp(folder);
    {
        PlatformProcess p({ "--plain" }, data);
        ASSERT_TRUE(p.ready());
        Owner o = sign_in_owner(p);
        ASSERT_EQ(owner(p, o, "cmd=34&storeidx=1&ctname=%EC%95%BC%EC%8B%9D").code, "0");
        ASSERT_EQ(owner(p, o, "cmd=13&storeidx=1&menuidx=101&value=9500").code, "0");
        ASSERT_EQ(owner(p, o, "cmd=75&storeidx=1&reviewidx=3&reply=%EA%B3%A0%EB%A7%88%EC%9B%8C%EC%9A%94").code, "0");
        p.stop();
    }
    {
        PlatformProcess p({ "--plain" }, data);
        ASSERT_TRUE(p.ready());
        Owner o = sign_in_owner(p);
        Json categories = owner(p, o, "cmd=9&storeidx=1").data["categories"];
        EXPECT_EQ(categories.back()["ctname"], "야식");
        EXPECT_EQ(owner(p, o, "cmd=11&storeidx=1&menuidx=101").data["price"], 9500);
        Answer reviews = owner(p, o, "cmd=74&storeidx=1&type=store");
        bool replied = false;
        for (auto const& r : reviews.data["reviews"])
            replied = replied || (r["reviewidx"] == 3 && r["reply"] == "고마워요");
        EXPECT_TRUE(replied);
        p.stop();
    }
    std::filesystem::remove_all(data);
}

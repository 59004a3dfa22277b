// The demo store's past: four months of counter orders, mall orders, reviews,
// questions and messages, so that the sales pages have figures to draw and
// the lists have pages to turn. Everything is drawn from one fixed-seed
// generator of our own (the standard distributions differ between library
// implementations), so a store seeded on the same day always holds the same
// history.

#include "tools/platform/db.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace tillbay::platform {

namespace {

// How far back the history reaches, in days before the seeding day.
constexpr int k_history_days = 120;

// splitmix64: small, fast and the same everywhere.
class Dice {
public:
    explicit Dice(uint64_t seed)
        : m_state(seed)
    {
    }
    uint64_t next()
    {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 .. n-1
    int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
    bool percent(int p) { return below(100) < p; }

private:
    uint64_t m_state;
};

long long local_midnight(long long seconds)
{
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm {};
    localtime_r(&t, &tm);
    tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
    tm.tm_isdst = -1;
    return static_cast<long long>(std::mktime(&tm));
}

// The midnight `days` calendar days before the given midnight (a day is not
// always 86,400 seconds long where clocks change).
long long days_before(long long midnight, int days)
{
    std::time_t t = static_cast<std::time_t>(midnight);
    std::tm tm {};
    localtime_r(&t, &tm);
    tm.tm_mday -= days;
    tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
    tm.tm_isdst = -1;
    return static_cast<long long>(std::mktime(&tm));
}

int weekday(long long seconds)
{
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm {};
    localtime_r(&t, &tm);
    return tm.tm_wday;
}

std::string date_text(long long seconds, char const* format)
{
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm {};
    localtime_r(&t, &tm);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, format, &tm);
    return buffer;
}

// Minutes after midnight: lunch is the busiest, the break (15:00-16:30) is
// closed, dinner runs to 21:00.
int order_minute(Dice& dice)
{
    int r = dice.below(100);
    if (r < 52)
        return 11 * 60 + dice.below(210);      // 11:00 - 14:30
    if (r < 60)
        return 14 * 60 + 30 + dice.below(30);  // 14:30 - 15:00
    if (r < 68)
        return 16 * 60 + 30 + dice.below(60);  // 16:30 - 17:30
    return 17 * 60 + 30 + dice.below(210);     // 17:30 - 21:00
}

struct Menu {
    long long menuidx;
    std::string name;
    long long price;
    int weight;
    bool stew;
};

void seed_counter_orders(Db& db, Dice& dice, long long today)
{
    std::vector<Menu> menus;
    int weights = 0;
    for (auto const& m : db.query("SELECT menuidx, mname, price, categoryidx FROM menus WHERE storeidx=1 ORDER BY menuidx")) {
        long long id = m["menuidx"];
        // The stews and the rice dishes sell best, drinks come along.
        int weight = id <= 103 ? 14 : id <= 106 ? 10 : id <= 108 ? 8 : 5;
        menus.push_back({ id, m["mname"], m["price"], weight, id <= 103 });
        weights += weight;
    }
    if (menus.empty())
        return;
    auto pick = [&]() -> Menu const& {
        int r = dice.below(weights);
        for (auto const& m : menus) {
            if (r < m.weight)
                return m;
            r -= m.weight;
        }
        return menus.back();
    };
    static std::array<char const*, 5> const issuers = { "신한카드", "KB국민카드", "현대카드", "삼성카드", "BC카드" };
    for (int back = k_history_days; back >= 1; --back) {
        long long midnight = days_before(today, back);
        int wday = weekday(midnight + 12 * 3600);
        if (wday == 0)
            continue; // closed on Sundays (the demo store's holiday)
        // Busier on Fridays and Saturdays, and a little busier each month.
        int count = 20 + dice.below(12) + (wday == 5 || wday == 6 ? 10 : 0) + (k_history_days - back) / 15;
        std::vector<int> minutes;
        for (int i = 0; i < count; ++i)
            minutes.push_back(order_minute(dice));
        std::sort(minutes.begin(), minutes.end());
        for (int i = 0; i < count; ++i) {
            long long idate = midnight + minutes[i] * 60LL + dice.below(60);
            int src = dice.below(100);
            char const* ordersrc = src < 64 ? "table" : src < 84 ? "map_takeout" : src < 90 ? "table_takeout" : "pos";
            int tablenum = (src < 64 || (src >= 84 && src < 90)) ? 1 + dice.below(12) : 0;
            int prepay = std::string(ordersrc) == "table" ? dice.below(2) : std::string(ordersrc) == "pos" ? 0 : 1;
            bool cancelled = dice.percent(3);
            bool cash = !prepay && dice.percent(35);
            db.exec("INSERT INTO orders (storeidx, ordernum, tablenum, status, paystatus, prepay, ordersrc, idate, udate, paydate, paymethod)"
                    " VALUES (1,?,?,?,1,?,?,?,?,?,?)",
                { std::to_string(i + 1), tablenum, cancelled ? 4 : 3, prepay, ordersrc, idate, idate + 35 * 60, idate + 30 * 60 + dice.below(600),
                    cash ? "CASH" : "CARD" });
            long long orderidx = db.last_id();
            long long total = 0;
            int lines = 1 + dice.below(3);
            std::vector<long long> taken;
            for (int l = 0; l < lines; ++l) {
                Menu const& m = pick();
                if (std::find(taken.begin(), taken.end(), m.menuidx) != taken.end())
                    continue;
                taken.push_back(m.menuidx);
                int qty = 1 + (dice.percent(30) ? 1 + dice.below(2) : 0);
                long long price = m.price;
                std::string options = "[]";
                if (m.stew && dice.percent(20)) {
                    price += 2000;
                    options = R"([{"optionname":"곱빼기","optionprice":2000}])";
                }
                db.exec("INSERT INTO order_menus (orderidx, menuidx, mname, qty, price, options) VALUES (?,?,?,?,?,?)",
                    { orderidx, m.menuidx, m.name, qty, price, options });
                total += price * qty;
            }
            std::string cards = "[]";
            if (!cash) {
                Json card = { { "issueCardName", issuers[static_cast<size_t>(dice.below(5))] },
                    { "cardNoEnc", "4" + std::to_string(100 + dice.below(900)) + "-12**-****-" + std::to_string(1000 + dice.below(9000)) },
                    { "installment", "일시불" }, { "applNo", std::to_string(20000000 + orderidx * 13) }, { "amount", total },
                    { "cancelYN", cancelled ? "Y" : "N" }, { "cancelAmount", cancelled ? total : 0 },
                    { "cancelRefNo", cancelled ? "C" + std::to_string(orderidx) : "" }, { "tranDate", date_text(idate, "%Y%m%d") },
                    { "tranTime", date_text(idate, "%H%M%S") }, { "cancelDate", cancelled ? date_text(idate + 35 * 60, "%Y%m%d") : "" },
                    { "cancelTime", cancelled ? date_text(idate + 35 * 60, "%H%M%S") : "" } };
                cards = Json::array({ card }).dump();
            }
            db.exec("UPDATE orders SET totalamount=?, payamount=?, cards=? WHERE orderidx=?", { total, total, cards, orderidx });
        }
    }
}

void seed_mall_orders(Db& db, Dice& dice, long long today)
{
    struct Product {
        long long idx;
        char const* name;
        long long price;
    };
    static Product const products[] = { { 501, "수제 김치 1kg", 13000 }, { 502, "된장 500g", 9000 }, { 503, "참기름 300ml", 11000 } };
    static char const* const buyers[] = { "김하늘", "윤서준", "장미경", "오세훈", "한지민", "정우성", "강다은", "신예린", "문태호", "배수아" };
    static char const* const addresses[] = { "서울특별시 강남구 테헤란로 152", "인천광역시 연수구 송도과학로 32", "광주광역시 서구 상무중앙로 61",
        "경기도 수원시 영통구 광교로 145", "대구광역시 수성구 달구벌대로 2450", "울산광역시 남구 삼산로 287" };
    long long buyidx = 8001;
    for (int back = k_history_days; back >= 1; --back) {
        long long midnight = days_before(today, back);
        int count = dice.below(4);
        for (int i = 0; i < count; ++i) {
            // The sesame oil sold out a month ago.
            Product const& p = products[back > 30 ? dice.below(3) : dice.below(2)];
            int qty = 1 + (dice.percent(25) ? 1 : 0);
            long long idate = midnight + 8 * 3600 + dice.below(14 * 3600);
            int status = dice.percent(4) ? 4 : back > 6 ? 3 : back > 1 ? 2 : 1;
            db.exec("INSERT INTO mall_orders (buyidx, storeidx, productidx, pname, qty, amount, buyer, tel, address, status, idate) VALUES (?,1,?,?,?,?,?,?,?,?,?)",
                { buyidx, p.idx, p.name, qty, p.price * qty, buyers[dice.below(10)],
                    "010-" + std::to_string(2000 + dice.below(8000)) + "-" + std::to_string(1000 + dice.below(9000)),
                    addresses[dice.below(6)], status, idate });
            if (status == 2 || status == 3)
                db.exec("UPDATE mall_orders SET courier='CJ대한통운', couriercode='04', invoiceno=? WHERE buyidx=?",
                    { std::to_string(560000000000LL + buyidx * 37), buyidx });
            ++buyidx;
        }
    }
}

void seed_voices(Db& db, Dice& dice, long long today)
{
    static char const* const writers[] = { "국밥러버", "동네주민", "회사원K", "맛있으면짖는개", "혼밥왕", "가족외식", "단골손님", "먹깨비" };
    static char const* const store_reviews[] = { "찌개 국물이 진하고 밑반찬도 깔끔해요.", "점심에 가도 빨리 나와서 좋아요.",
        "제육볶음 양이 넉넉합니다.", "포장했는데 따뜻하게 도착했어요.", "직원분들이 친절해요. 또 올게요!",
        "조금 짰지만 맛있었어요.", "가격 대비 만족스러워요.", "주차가 조금 불편했어요." };
    static char const* const replies[] = { "찾아주셔서 감사합니다! 다음에도 맛있게 준비할게요.", "소중한 후기 감사합니다.",
        "말씀 주신 부분 꼭 챙기겠습니다. 감사합니다." };
    for (int i = 0; i < 24; ++i) {
        long long idate = days_before(today, 2 + i * 4) + 13 * 3600 + dice.below(6 * 3600);
        int score = 3 + dice.below(3);
        bool replied = i > 3 && dice.percent(70);
        db.exec("INSERT INTO reviews (storeidx, type, productidx, writer, score, content, reply, idate) VALUES (1,'store',0,?,?,?,?,?)",
            { writers[dice.below(8)], score, store_reviews[dice.below(8)], replied ? replies[dice.below(3)] : "", idate });
    }
    static char const* const product_reviews[] = { "김치가 딱 알맞게 익어서 왔어요.", "포장이 꼼꼼해요.", "된장 향이 구수합니다.",
        "재구매했어요. 역시 맛있네요." };
    for (int i = 0; i < 8; ++i) {
        long long idate = days_before(today, 5 + i * 11) + 10 * 3600;
        db.exec("INSERT INTO reviews (storeidx, type, productidx, writer, score, content, reply, idate) VALUES (1,'product',?,?,?,?,?,?)",
            { i % 3 == 2 ? 502 : 501, writers[dice.below(8)], 4 + dice.below(2), product_reviews[dice.below(4)],
                i > 2 ? replies[dice.below(3)] : "", idate });
    }
    static char const* const questions[] = { "유통기한은 어떻게 되나요?", "맵기 조절이 가능한가요?", "선물 포장 되나요?" };
    for (int i = 0; i < 3; ++i)
        db.exec("INSERT INTO qna (storeidx, productidx, writer, question, answer, idate) VALUES (1,?,?,?,?,?)",
            { i == 2 ? 502 : 501, writers[dice.below(8)], questions[i], i == 0 ? "냉장 보관 시 한 달입니다." : "",
                days_before(today, 3 + i * 9) + 9 * 3600 });
    // Enough notices from the platform for the message list to have a second page.
    static char const* const titles[] = { "정산 안내", "서비스 개선 안내", "이용약관 변경 안내", "이벤트 안내", "점검 안내" };
    for (int i = 25; i >= 0; --i) {
        long long idate = days_before(today, 10 + i * 4) + 10 * 3600;
        std::string title = std::string(titles[i % 5]) + " (" + date_text(idate, "%m/%d") + ")";
        db.exec("INSERT INTO messages (title, body, idate, readyn) VALUES (?,?,?,'Y')",
            { title, title + " 내용입니다. 자세한 사항은 고객센터(1588-0000)로 문의해 주세요.", idate });
    }
}

} // namespace

void seed_demo_history(Db& db, long long now)
{
    // One seed for the whole history; the day it is seeded anchors it.
    Dice dice(0x7417BA1ull);
    long long today = local_midnight(now);
    seed_counter_orders(db, dice, today);
    seed_mall_orders(db, dice, today);
    seed_voices(db, dice, today);
}

} // namespace tillbay::platform

// Sales figures for the owner: the counter's takings by day, by hour, by menu
// and by order source (cmd 54), and the mall's sales with its best-selling
// products (cmd 64). Every day of the asked period is listed, days without
// sales as zeros, so the pages can draw the period as it was.

#include "tools/platform/commands.h"
#include "tools/platform/orders.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <optional>

namespace tillbay::platform {

namespace {

// The longest period one answer covers; a year of days still fits well
// inside the answer a POS reads.
constexpr int k_max_period_days = 366;
// At most this many orders of the period per page.
constexpr long long k_max_page = 50;

struct Period {
    long long from = 0; // first second
    long long to = 0;   // one past the last second
    std::string startday, endday;
};

long long midnight_of(long long seconds, int add_days)
{
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm {};
    localtime_r(&t, &tm);
    tm.tm_mday += add_days;
    tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
    tm.tm_isdst = -1;
    return static_cast<long long>(std::mktime(&tm));
}

// The period of startday/endday, or the last `default_days` days to today.
// Empty with a reason when the days are there but make no period.
std::optional<Period> period_of(Call& call, int default_days, std::string& why)
{
    Period p;
    long long from = day_from_text(call.str("startday"), false);
    long long to = day_from_text(call.str("endday"), true);
    if (!call.has("startday") && !call.has("endday")) {
        p.to = midnight_of(now_seconds(), 1);
        p.from = midnight_of(now_seconds(), 1 - default_days);
    } else if (from < 0 || to < 0 || to <= from) {
        why = "기간이 올바르지 않습니다";
        return std::nullopt;
    } else {
        p.from = from;
        p.to = to;
    }
    if (p.to - p.from > (k_max_period_days + 1) * 86400LL) {
        why = "기간은 " + std::to_string(k_max_period_days) + "일까지 볼 수 있습니다";
        return std::nullopt;
    }
    p.startday = local_time_text(p.from, "%Y%m%d");
    p.endday = local_time_text(p.to - 1, "%Y%m%d");
    return p;
}

// Every day of the period, filled from rows keyed by "day" (YYYY-MM-DD).
Json every_day(Period const& p, std::vector<Json> const& rows, Json const& zero)
{
    std::map<std::string, Json> by_day;
    for (auto const& r : rows)
        by_day[r["day"].get<std::string>()] = r;
    Json days = Json::array();
    for (long long day = p.from; day < p.to; day = midnight_of(day + 43200, 1)) {
        std::string key = local_time_text(day, "%Y-%m-%d");
        auto it = by_day.find(key);
        if (it != by_day.end()) {
            days.push_back(it->second);
        } else {
            Json z = zero;
            z["day"] = key;
            days.push_back(z);
        }
    }
    return days;
}

Json list(Call& call, std::string const& sql, std::vector<Json> const& params)
{
    Json out = Json::array();
    for (auto& r : call.db().query(sql, params))
        out.push_back(r);
    return out;
}

// Paid counter orders that count as takings: not cancelled, not merged away.
constexpr char k_takings[] = " FROM orders WHERE storeidx=? AND paystatus=1 AND status<>4 AND mergedinto=0 AND paydate>=? AND paydate<?";

Reply counter_sales(Call& call)
{
    std::string why;
    auto p = period_of(call, 30, why);
    if (!p)
        return Reply::refuse(why);
    std::vector<Json> range { call.storeidx, p->from, p->to };
    auto totals = call.db().query_one(std::string("SELECT COUNT(*) AS count, COALESCE(SUM(payamount),0) AS amount,"
                                                  " COALESCE(SUM(CASE WHEN paymethod='CASH' THEN payamount ELSE 0 END),0) AS cash,"
                                                  " COALESCE(SUM(CASE WHEN paymethod='CARD' THEN payamount ELSE 0 END),0) AS card")
            + k_takings,
        range);
    long long count = totals["count"], amount = totals["amount"];
    Json days = every_day(*p,
        call.db().query(std::string("SELECT strftime('%Y-%m-%d', paydate, 'unixepoch', 'localtime') AS day, COUNT(*) AS count,"
                                    " SUM(payamount) AS amount, SUM(CASE WHEN paymethod='CASH' THEN payamount ELSE 0 END) AS cash,"
                                    " SUM(CASE WHEN paymethod='CARD' THEN payamount ELSE 0 END) AS card")
                + k_takings + " GROUP BY day",
            range),
        { { "count", 0 }, { "amount", 0 }, { "cash", 0 }, { "card", 0 } });
    Json hours = list(call, std::string("SELECT CAST(strftime('%H', paydate, 'unixepoch', 'localtime') AS INTEGER) AS hour, COUNT(*) AS count,"
                                        " SUM(payamount) AS amount")
            + k_takings + " GROUP BY hour ORDER BY hour",
        range);
    Json menus = list(call, "SELECT m.mname, SUM(m.qty) AS qty, SUM(m.qty*m.price) AS amount FROM order_menus m JOIN orders o ON o.orderidx=m.orderidx"
                            " WHERE o.storeidx=? AND o.paystatus=1 AND o.status<>4 AND o.mergedinto=0 AND o.paydate>=? AND o.paydate<?"
                            " GROUP BY m.mname ORDER BY amount DESC LIMIT 10",
        range);
    Json sources = list(call, std::string("SELECT ordersrc, COUNT(*) AS count, SUM(payamount) AS amount") + k_takings
            + " GROUP BY ordersrc ORDER BY amount DESC",
        range);
    auto cancelled = call.db().query_one("SELECT COUNT(*) AS count, COALESCE(SUM(payamount),0) AS amount FROM orders"
                                         " WHERE storeidx=? AND status=4 AND mergedinto=0 AND idate>=? AND idate<?",
        range);
    Json j = { { "startday", p->startday }, { "endday", p->endday }, { "count", count }, { "amount", amount },
        { "cash", totals["cash"] }, { "card", totals["card"] }, { "average", count ? amount / count : 0 },
        { "cancelcount", cancelled["count"] }, { "cancelamount", cancelled["amount"] }, { "days", days }, { "hours", hours },
        { "menus", menus }, { "sources", sources } };
    if (call.str("yday") == "1") {
        long long start = midnight_of(now_seconds(), -1);
        auto y = call.db().query_one(std::string("SELECT COUNT(*) AS count, COALESCE(SUM(payamount),0) AS amount") + k_takings,
            { call.storeidx, start, midnight_of(now_seconds(), 0) });
        j["yday"] = { { "day", local_time_text(start, "%Y%m%d") }, { "count", y["count"] }, { "amount", y["amount"] } };
    }
    if (call.has("limit")) {
        long long limit = std::clamp(call.num("limit", 20), 1LL, k_max_page);
        long long offset = std::max(call.num("offset", 0), 0LL);
        Json orders = Json::array();
        for (auto const& row : call.db().query("SELECT * FROM orders WHERE storeidx=? AND mergedinto=0 AND idate>=? AND idate<?"
                                               " ORDER BY idate DESC LIMIT ? OFFSET ?",
                 { call.storeidx, p->from, p->to, limit, offset }))
            orders.push_back(history_entry(call.db(), row));
        j["offset"] = offset;
        j["limit"] = limit;
        j["total"] = call.db().query_int("SELECT COUNT(*) FROM orders WHERE storeidx=? AND mergedinto=0 AND idate>=? AND idate<?", range);
        j["orders"] = orders;
    }
    return Reply::ok(j);
}

Reply mall_sales(Call& call)
{
    std::string why;
    auto p = period_of(call, 7, why);
    if (!p)
        return Reply::refuse(why);
    std::vector<Json> range { call.storeidx, p->from, p->to };
    if (call.str("group") == "product") {
        long long top = call.num("top", 10);
        if (top < 1 || top > 30)
            top = 10;
        range.push_back(top);
        return Reply::ok({ { "startday", p->startday }, { "endday", p->endday },
            { "rank", list(call, "SELECT productidx, pname, COUNT(*) AS count, SUM(qty) AS qty, SUM(amount) AS amount FROM mall_orders"
                                 " WHERE storeidx=? AND status<>4 AND idate>=? AND idate<? GROUP BY productidx ORDER BY amount DESC LIMIT ?",
                          range) } });
    }
    auto totals = call.db().query_one("SELECT COUNT(*) AS count, COALESCE(SUM(amount),0) AS amount, COALESCE(SUM(qty),0) AS qty"
                                      " FROM mall_orders WHERE storeidx=? AND status<>4 AND idate>=? AND idate<?",
        range);
    Json days = every_day(*p,
        call.db().query("SELECT strftime('%Y-%m-%d', idate, 'unixepoch', 'localtime') AS day, COUNT(*) AS count, SUM(amount) AS amount"
                        " FROM mall_orders WHERE storeidx=? AND status<>4 AND idate>=? AND idate<? GROUP BY day",
            range),
        { { "count", 0 }, { "amount", 0 } });
    return Reply::ok({ { "startday", p->startday }, { "endday", p->endday }, { "count", totals["count"] }, { "amount", totals["amount"] },
        { "qty", totals["qty"] },
        { "cancelcount", call.db().query_int("SELECT COUNT(*) FROM mall_orders WHERE storeidx=? AND status=4 AND idate>=? AND idate<?", range) },
        { "days", days } });
}

} // namespace

void register_sales_commands(CommandTables& t)
{
    t.owner[54] = counter_sales;
    t.owner[64] = mall_sales;
}

} // namespace tillbay::platform

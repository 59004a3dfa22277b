// The order board and the actions on orders (store calls of the counter).

#include "tools/platform/commands.h"
#include "tools/platform/orders.h"
#include "tools/platform/pcrypto.h"

#include <ctime>

namespace tillbay::platform {

namespace {

// Cancelled orders stay on the board this long, so staff see what happened.
constexpr long long k_cancelled_visible_s = 6 * 3600;

constexpr char k_no_order[] = "주문을 찾지 못했습니다";
constexpr char k_cancelled[] = "이미 취소된 주문입니다";
constexpr char k_merged[] = "다른 주문에 합쳐진 주문입니다";

long long start_of_today()
{
    std::time_t t = std::time(nullptr);
    std::tm tm {};
    localtime_r(&t, &tm);
    tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
    return static_cast<long long>(std::mktime(&tm));
}

// The order of this store, or null.
Json find_order(Call& call, long long orderidx)
{
    return call.db().query_one("SELECT * FROM orders WHERE orderidx=? AND storeidx=?", { orderidx, call.storeidx });
}

// An order that an action may still change: found, not cancelled, not merged away.
Json open_order(Call& call, long long orderidx, Reply& refusal)
{
    auto order = find_order(call, orderidx);
    if (order.is_null())
        refusal = Reply::refuse(k_no_order);
    else if (order["status"] == 4)
        refusal = Reply::refuse(k_cancelled);
    else if (order["mergedinto"] != 0)
        refusal = Reply::refuse(k_merged);
    else
        return order;
    return Json();
}

void recompute_total(Db& db, long long orderidx)
{
    db.exec("UPDATE orders SET totalamount=(SELECT COALESCE(SUM(qty*price),0) FROM order_menus WHERE orderidx=?) WHERE orderidx=?",
        { orderidx, orderidx });
}

// The list is read on every push, so it takes two queries in all: the open
// orders, then all their lines at once.
Reply order_list(Call& call)
{
    constexpr char const* open_orders = "storeidx=? AND status IN (0,1,2,4) AND mergedinto=0 AND (status<>4 OR udate>?)";
    std::vector<Json> params { call.storeidx, now_seconds() - k_cancelled_visible_s };
    auto rows = call.db().query(std::string("SELECT orderidx, ordernum, tablenum, status, paystatus, prepay, ordersrc, pickup,"
                                            " pickuptime, pickupready, idate, totalamount, payamount, paymethod, requestmemo,"
                                            " cooktime FROM orders WHERE ")
            + open_orders + " ORDER BY orderidx",
        params);
    auto lines = call.db().query(std::string("SELECT orderidx, mname, qty, comment FROM order_menus WHERE orderidx IN"
                                             " (SELECT orderidx FROM orders WHERE ")
            + open_orders + ") ORDER BY orderidx, ordermenuidx",
        params);
    Json orders = Json::array();
    size_t next_line = 0;
    for (auto const& row : rows) {
        long long orderidx = row["orderidx"];
        Json items = Json::array();
        while (next_line < lines.size() && lines[next_line]["orderidx"].get<long long>() < orderidx)
            ++next_line;
        for (; next_line < lines.size() && lines[next_line]["orderidx"].get<long long>() == orderidx; ++next_line) {
            Json& line = lines[next_line];
            line.erase("orderidx");
            items.push_back(std::move(line));
        }
        orders.push_back(order_list_entry(row, std::move(items)));
    }
    return Reply::ok({ { "orders", std::move(orders) }, { "storeidx", call.storeidx } });
}

Reply order_detail_cmd(Call& call)
{
    auto order = find_order(call, call.num("orderidx"));
    if (order.is_null())
        return Reply::refuse(k_no_order);
    return Reply::ok(order_detail(call.db(), order));
}

Reply table_count(Call& call)
{
    return Reply::ok({ { "tablenum", call.db().query_int("SELECT tablecount FROM stores WHERE storeidx=?", { call.storeidx }) } });
}

Reply place_order(Call& call)
{
    std::string key = call.str("reqkey");
    if (key.size() < 16 || key.size() > 60)
        return Reply::refuse("주문 요청 키가 올바르지 않습니다");
    for (char c : key)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-')
            return Reply::refuse("주문 요청 키가 올바르지 않습니다");
    std::string text = call.str("orderjson");
    // A repeated key is the same order: answer it again instead of placing a second one.
    auto existing = call.db().query_one("SELECT orderidx, ordernum, reqjson FROM orders WHERE storeidx=? AND reqkey=?", { call.storeidx, key });
    if (!existing.is_null()) {
        if (existing["reqjson"] != text)
            return Reply::refuse("같은 요청 키로 다른 주문이 이미 들어왔습니다");
        return Reply::ok({ { "orderidx", existing["orderidx"] }, { "ordernum", existing["ordernum"] }, { "repeated", 1 } });
    }
    Json j = Json::parse(text, nullptr, false);
    if (!j.is_object())
        return Reply::refuse("주문 내용을 읽지 못했습니다");
    if (j.contains("storeidx")) {
        auto const& s = j["storeidx"];
        long long store = s.is_number_integer() ? s.get<long long>() : (s.is_string() ? std::atoll(s.get<std::string>().c_str()) : -1);
        if (store != call.storeidx)
            return Reply::refuse("다른 매장의 주문입니다");
    }
    NewOrder order;
    order.storeidx = call.storeidx;
    order.reqkey = key;
    order.reqjson = text;
    auto number = [&](char const* name) -> long long {
        if (!j.contains(name))
            return 0;
        if (j[name].is_number_integer())
            return j[name].get<long long>();
        if (j[name].is_string())
            return std::atoll(j[name].get<std::string>().c_str());
        return 0;
    };
    order.tablenum = number("tablenum") ? number("tablenum") : number("table");
    order.ordersrc = "pos";
    for (char const* memo : { "requestmemo", "memo" })
        if (j.contains(memo) && j[memo].is_string())
            order.memo = j[memo];
    if (call.str("prepay") == "1") {
        // Paid by the customer's QR: waits for the payment like a prepaid order.
        order.prepay = 1;
        order.status = 0;
    }
    Json items;
    for (char const* name : { "items", "menus", "lines" })
        if (j.contains(name)) {
            items = j[name];
            break;
        }
    std::string why;
    if (!lines_from_json(items, order.lines, why))
        return Reply::refuse(why);
    if (order.lines.empty())
        return Reply::refuse("주문할 메뉴가 없습니다");
    long long orderidx = create_order(call.db(), order);
    call.raise(orderidx, "NEWORDER");
    auto row = call.db().query_one("SELECT ordernum, totalamount FROM orders WHERE orderidx=?", { orderidx });
    return Reply::ok({ { "orderidx", orderidx }, { "ordernum", row["ordernum"] }, { "totalamount", row["totalamount"] } });
}

Reply move_table(Call& call)
{
    Reply refusal;
    long long tablenum = call.num("tablenum");
    long long tables = call.db().query_int("SELECT tablecount FROM stores WHERE storeidx=?", { call.storeidx });
    if (tablenum < 1 || tablenum > tables)
        return Reply::refuse("없는 자리 번호입니다");
    auto order = open_order(call, call.num("orderidx"), refusal);
    if (order.is_null())
        return refusal;
    call.db().exec("UPDATE orders SET tablenum=? WHERE orderidx=?", { tablenum, order["orderidx"] });
    return Reply::ok({ { "orderidx", order["orderidx"] }, { "tablenum", tablenum } });
}

Reply swap_tables(Call& call)
{
    Reply refusal;
    auto a = open_order(call, call.num("orderidxa"), refusal);
    if (a.is_null())
        return refusal;
    auto b = open_order(call, call.num("orderidxb"), refusal);
    if (b.is_null())
        return refusal;
    call.db().exec("UPDATE orders SET tablenum=? WHERE orderidx=?", { b["tablenum"], a["orderidx"] });
    call.db().exec("UPDATE orders SET tablenum=? WHERE orderidx=?", { a["tablenum"], b["orderidx"] });
    return Reply::ok({ { "ok", 1 } });
}

Reply cook_start(Call& call)
{
    Reply refusal;
    auto order = open_order(call, call.num("orderidx"), refusal);
    if (order.is_null())
        return refusal;
    if (order["prepay"] != 0 && order["paystatus"] != 1)
        return Reply::refuse("결제가 끝나지 않은 주문입니다");
    call.db().exec("UPDATE orders SET status=2, cooktime=? WHERE orderidx=?", { call.num("cooktime"), order["orderidx"] });
    return Reply::ok({ { "orderidx", order["orderidx"] }, { "status", 2 } });
}

Reply serve_done(Call& call)
{
    Reply refusal;
    auto order = open_order(call, call.num("orderidx"), refusal);
    if (order.is_null())
        return refusal;
    call.db().exec("UPDATE orders SET status=3, udate=? WHERE orderidx=?", { now_seconds(), order["orderidx"] });
    return Reply::ok({ { "orderidx", order["orderidx"] }, { "status", 3 } });
}

Reply pickup_ready(Call& call)
{
    Reply refusal;
    auto order = open_order(call, call.num("orderidx"), refusal);
    if (order.is_null())
        return refusal;
    call.db().exec("UPDATE orders SET pickupready=1 WHERE orderidx=?", { order["orderidx"] });
    return Reply::ok({ { "orderidx", order["orderidx"] }, { "pickupready", 1 } });
}

Reply cancel_order(Call& call)
{
    Reply refusal;
    auto order = open_order(call, call.num("orderidx"), refusal);
    if (order.is_null())
        return refusal;
    if (call.role != "owner") {
        auto store = call.db().query_one("SELECT cancelpolicy, cancelpin FROM stores WHERE storeidx=?", { call.storeidx });
        long long policy = store["cancelpolicy"];
        bool today = order["idate"].get<long long>() >= start_of_today();
        bool allowed = policy == 3 || (policy == 2 && today);
        if (!allowed) {
            std::string pin = call.str("pin");
            if (pin.empty())
                return Reply::refuse("직원 PIN 이 있어야 취소할 수 있습니다", "6202");
            if (pin != store["cancelpin"].get<std::string>() || pin.empty())
                return Reply::refuse("PIN 이 맞지 않습니다");
        }
    }
    long long now = now_seconds();
    Json cards = Json::parse(order["cards"].get<std::string>(), nullptr, false);
    if (cards.is_array()) {
        for (auto& card : cards) {
            card["cancelYN"] = "Y";
            card["cancelAmount"] = card.value("amount", 0LL);
            card["cancelRefNo"] = "C" + std::to_string(order["orderidx"].get<long long>());
            card["cancelDate"] = local_time_text(now, "%Y%m%d");
            card["cancelTime"] = local_time_text(now, "%H%M%S");
        }
    } else {
        cards = Json::array();
    }
    call.db().exec("UPDATE orders SET status=4, udate=?, paytoken='', payexpire=0, qrwait=0, cards=? WHERE orderidx=?",
        { now, cards.dump(), order["orderidx"] });
    return Reply::ok({ { "orderidx", order["orderidx"] }, { "status", 4 } });
}

Reply cash_pay(Call& call)
{
    Reply refusal;
    auto order = open_order(call, call.num("orderidx"), refusal);
    if (order.is_null())
        return refusal;
    if (order["paystatus"] == 1)
        return Reply::refuse("이미 결제된 주문입니다");
    std::string tel;
    for (char c : call.str("tel"))
        if (c >= '0' && c <= '9' && tel.size() < 20)
            tel += c;
    long long now = now_seconds();
    call.db().exec("UPDATE orders SET paystatus=1, status=CASE WHEN status=0 THEN 1 ELSE status END, payamount=totalamount,"
                   " paymethod='CASH', paydate=?, tel=?, paytoken='', payexpire=0, qrwait=0 WHERE orderidx=?",
        { now, tel, order["orderidx"] });
    return Reply::ok({ { "orderidx", order["orderidx"] }, { "ordernum", order["ordernum"] }, { "payamount", order["totalamount"] },
        { "paymethod", "CASH" } });
}

Reply receipt(Call& call)
{
    auto order = find_order(call, call.num("orderidx"));
    if (order.is_null())
        return Reply::refuse(k_no_order);
    auto store = call.db().query_one("SELECT * FROM stores WHERE storeidx=?", { call.storeidx });
    Json menus = Json::array();
    for (auto& line : call.db().query("SELECT mname, qty, price, options FROM order_menus WHERE orderidx=? ORDER BY ordermenuidx",
             { order["orderidx"] })) {
        Json options = Json::parse(line["options"].get<std::string>(), nullptr, false);
        menus.push_back({ { "mname", line["mname"] }, { "qty", line["qty"] }, { "price", line["price"] },
            { "amount", line["qty"].get<long long>() * line["price"].get<long long>() },
            { "options", options.is_array() ? options : Json::array() } });
    }
    Json cards = Json::parse(order["cards"].get<std::string>(), nullptr, false);
    if (!cards.is_array())
        cards = Json::array();
    long long idate = order["idate"];
    for (auto& card : cards) {
        if (card.value("tranDate", "").empty()) {
            card["tranDate"] = local_time_text(order["paydate"].get<long long>() ? order["paydate"].get<long long>() : idate, "%Y%m%d");
            card["tranTime"] = local_time_text(order["paydate"].get<long long>() ? order["paydate"].get<long long>() : idate, "%H%M%S");
        }
    }
    return Reply::ok({
        { "shopname", store["shopname"] }, { "address", store["address"] }, { "biznumber", store["biznumber"] },
        { "bizname", store["bizname"] }, { "tel", store["tel"] }, { "tid", store["tid"] }, { "vat", 1 },
        { "orderidx", order["orderidx"] }, { "ordernum", order["ordernum"] }, { "idate", local_time_text(idate) },
        { "tablenum", order["tablenum"] }, { "paymethod", order["paymethod"] }, { "requestmemo", order["requestmemo"] },
        { "totalamount", order["totalamount"] }, { "usekjeon", order["usekjeon"] }, { "usemilege", order["usemilege"] },
        { "payamount", order["payamount"] }, { "menus", menus }, { "cards", cards }, { "status", order["status"] },
        { "paystatus", order["paystatus"] }, { "udate", order["udate"] },
    });
}

// Digits and commas only; anything else ends the list.
std::vector<long long> order_numbers(std::string const& text)
{
    std::vector<long long> out;
    long long value = 0;
    bool any = false;
    for (size_t i = 0; i <= text.size(); ++i) {
        char c = i < text.size() ? text[i] : ',';
        if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
            any = true;
            if (value > 1000000000000LL)
                return {};
        } else if (c == ',') {
            if (any && value > 0)
                out.push_back(value);
            value = 0;
            any = false;
        } else {
            return {};
        }
    }
    return out;
}

Reply pay_token(Call& call)
{
    Reply refusal;
    auto order = open_order(call, call.num("orderidx"), refusal);
    if (order.is_null())
        return refusal;
    if (order["paystatus"] == 1)
        return Reply::refuse("이미 결제된 주문입니다");
    std::vector<Json> group { order };
    bool groups = call.platform.qr_groups();
    for (long long other : groups ? order_numbers(call.str("orders")) : std::vector<long long> {}) {
        if (other == order["orderidx"])
            continue;
        auto o = open_order(call, other, refusal);
        if (o.is_null())
            return refusal;
        if (o["paystatus"] == 1)
            return Reply::refuse("이미 결제된 주문이 섞여 있습니다");
        group.push_back(o);
    }
    long long now = now_seconds();
    long long ttl = call.platform.options().qr_ttl_s;
    std::string token = order["paytoken"];
    long long expire = order["payexpire"];
    bool extend = call.str("extend") == "1";
    // Extending keeps the token, also one that has just expired: the code
    // the customer is looking at stays good.
    if (token.empty() || (expire <= now && !extend) || group.size() > 1) {
        token = "PT" + random_hex(12);
        expire = now + ttl;
    } else if (extend) {
        expire = now + ttl;
    }
    long long total = 0;
    for (auto const& o : group) {
        call.db().exec("UPDATE orders SET paytoken=?, payexpire=?, paygroup=? WHERE orderidx=?",
            { token, expire, group.size() > 1 ? token : std::string(), o["orderidx"] });
        total += o["totalamount"].get<long long>();
    }
    return Reply::ok({ { "orderidx", order["orderidx"] }, { "ordernum", order["ordernum"] }, { "tablenum", order["tablenum"] },
        { "totalamount", total }, { "paytoken", token }, { "expire", local_time_text(expire) },
        { "groupcount", groups ? static_cast<long long>(group.size()) : 0LL } });
}

Reply qr_wait(Call& call)
{
    Reply refusal;
    auto order = open_order(call, call.num("orderidx"), refusal);
    if (order.is_null())
        return refusal;
    long long ttl = call.num("ttl", 60);
    if (ttl < 1 || ttl > 600)
        ttl = 60;
    long long until = call.str("act") == "on" ? now_seconds() + ttl : 0;
    call.db().exec("UPDATE orders SET qrwait=? WHERE orderidx=?", { until, order["orderidx"] });
    return Reply::ok({ { "orderidx", order["orderidx"] }, { "on", until ? 1 : 0 }, { "expire", until } });
}

Reply merge_orders(Call& call)
{
    Reply refusal;
    auto target = open_order(call, call.num("target"), refusal);
    if (target.is_null())
        return refusal;
    auto sources = order_numbers(call.str("sources"));
    if (sources.empty())
        return Reply::refuse("합칠 주문이 없습니다");
    int paid = target["paystatus"] == 1 ? 1 : 0;
    int unpaid = 1 - paid;
    std::vector<Json> found;
    for (long long s : sources) {
        if (s == target["orderidx"])
            continue;
        auto o = open_order(call, s, refusal);
        if (o.is_null())
            return refusal;
        (o["paystatus"] == 1 ? paid : unpaid)++;
        found.push_back(o);
    }
    long long now = now_seconds();
    long long paid_amount = target["payamount"];
    for (auto const& o : found) {
        call.db().exec("UPDATE order_menus SET orderidx=? WHERE orderidx=?", { target["orderidx"], o["orderidx"] });
        call.db().exec("UPDATE orders SET mergedinto=?, udate=? WHERE orderidx=?", { target["orderidx"], now, o["orderidx"] });
        paid_amount += o["payamount"].get<long long>();
    }
    recompute_total(call.db(), target["orderidx"]);
    int mixed = paid > 0 && unpaid > 0 ? 1 : 0;
    // Merged orders are paid only when every part was; a mixture waits for the rest.
    call.db().exec("UPDATE orders SET paystatus=?, payamount=? WHERE orderidx=?", { unpaid == 0 ? 1 : 0, paid_amount, target["orderidx"] });
    return Reply::ok({ { "orderidx", target["orderidx"] }, { "mixed", mixed }, { "count", static_cast<long long>(found.size() + 1) } });
}

Reply today_summary(Call& call)
{
    long long since = start_of_today();
    auto& db = call.db();
    return Reply::ok({ { "count", db.query_int("SELECT COUNT(*) FROM orders WHERE storeidx=? AND idate>=? AND status<>4 AND mergedinto=0", { call.storeidx, since }) },
        { "amount", db.query_int("SELECT COALESCE(SUM(payamount),0) FROM orders WHERE storeidx=? AND paydate>=? AND status<>4 AND mergedinto=0", { call.storeidx, since }) } });
}

Reply history(Call& call)
{
    if (call.role != "owner")
        return Reply::refuse("점주 로그인이 필요합니다", "6201");
    long long from = day_from_text(call.str("from"), false);
    long long to = day_from_text(call.str("to"), true);
    if (from < 0)
        from = start_of_today() - 30 * 86400;
    if (to < 0)
        to = now_seconds() + 86400;
    long long size = call.num("size", 200);
    if (size < 1 || size > 200)
        size = 200;
    long long page = call.num("page", 1);
    if (page < 1)
        page = 1;
    long long total = call.db().query_int("SELECT COUNT(*) FROM orders WHERE storeidx=? AND idate>=? AND idate<? AND mergedinto=0",
        { call.storeidx, from, to });
    auto rows = call.db().query("SELECT * FROM orders WHERE storeidx=? AND idate>=? AND idate<? AND mergedinto=0 ORDER BY idate DESC LIMIT ? OFFSET ?",
        { call.storeidx, from, to, size, (page - 1) * size });
    Json orders = Json::array();
    for (auto const& row : rows)
        orders.push_back(history_entry(call.db(), row));
    return Reply::ok({ { "total", total }, { "page", page }, { "size", size }, { "orders", orders } });
}

Reply edit_line(Call& call)
{
    Reply refusal;
    auto order = open_order(call, call.num("orderidx"), refusal);
    if (order.is_null())
        return refusal;
    long long newqty = call.num("newqty", -1);
    if (newqty < 0 || newqty > 999)
        return Reply::refuse("수량이 올바르지 않습니다");
    auto line = call.db().query_one("SELECT * FROM order_menus WHERE ordermenuidx=? AND orderidx=?", { call.num("ordermenuidx"), order["orderidx"] });
    if (line.is_null())
        return Reply::refuse("주문에 없는 메뉴입니다");
    if (newqty == 0)
        call.db().exec("DELETE FROM order_menus WHERE ordermenuidx=?", { line["ordermenuidx"] });
    else
        call.db().exec("UPDATE order_menus SET qty=? WHERE ordermenuidx=?", { newqty, line["ordermenuidx"] });
    recompute_total(call.db(), order["orderidx"]);
    bool cancelled = call.db().query_int("SELECT COUNT(*) FROM order_menus WHERE orderidx=?", { order["orderidx"] }) == 0;
    if (cancelled)
        call.db().exec("UPDATE orders SET status=4, udate=? WHERE orderidx=?", { now_seconds(), order["orderidx"] });
    return Reply::ok({ { "orderidx", order["orderidx"] }, { "mname", line["mname"] }, { "oldqty", line["qty"] }, { "newqty", newqty },
        { "ordercancelled", cancelled ? "Y" : "N" } });
}

} // namespace

void register_order_commands(CommandTables& t)
{
    t.store[10] = place_order;
    t.store[110] = order_list;
    t.store[111] = order_detail_cmd;
    t.store[112] = table_count;
    t.store[113] = move_table;
    t.store[114] = swap_tables;
    t.store[115] = cook_start;
    t.store[116] = serve_done;
    t.store[117] = cancel_order;
    t.store[121] = pickup_ready;
    t.store[124] = cash_pay;
    t.store[125] = receipt;
    t.store[131] = pay_token;
    t.store[133] = today_summary;
    t.store[134] = history;
    t.store[138] = merge_orders;
    t.store[139] = qr_wait;
    t.store[141] = edit_line;
}

} // namespace tillbay::platform

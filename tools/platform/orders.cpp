#include "tools/platform/orders.h"

#include "tools/platform/commands.h"

#include <ctime>

namespace tillbay::platform {

namespace {

// An order may carry at most this many menu lines.
constexpr size_t k_max_order_lines = 64;

long long option_price(Db& db, long long menuidx, std::string const& name)
{
    return db.query_int("SELECT i.addprice FROM option_items i JOIN option_groups g ON g.groupidx=i.groupidx"
                        " WHERE g.menuidx=? AND i.iname=? LIMIT 1",
        { menuidx, name });
}

} // namespace

bool lines_from_json(Json const& items, std::vector<NewOrderLine>& out, std::string& why)
{
    if (!items.is_array()) {
        why = "주문 메뉴 목록이 없습니다";
        return false;
    }
    if (items.size() > k_max_order_lines) {
        why = "한 주문에 메뉴는 64줄까지입니다";
        return false;
    }
    for (auto const& item : items) {
        if (!item.is_object()) {
            why = "주문 메뉴 형식이 올바르지 않습니다";
            return false;
        }
        NewOrderLine line;
        auto number = [&](char const* key, long long fallback) -> long long {
            if (!item.contains(key))
                return fallback;
            auto const& v = item[key];
            if (v.is_number_integer())
                return v.get<long long>();
            if (v.is_string()) {
                try {
                    return std::stoll(v.get<std::string>());
                } catch (...) {
                }
            }
            return fallback;
        };
        line.menuidx = number("menuidx", 0);
        line.qty = number("qty", number("count", 1));
        line.price = number("price", -1);
        for (char const* key : { "mname", "name", "menuname" })
            if (item.contains(key) && item[key].is_string()) {
                line.mname = item[key];
                break;
            }
        if (item.contains("comment") && item["comment"].is_string())
            line.comment = item["comment"];
        if (item.contains("options") && item["options"].is_array()) {
            for (auto const& opt : item["options"]) {
                if (opt.is_string())
                    line.options.push_back({ { "optionname", opt }, { "optionprice", -1 } });
                else if (opt.is_object()) {
                    std::string name = opt.value("optionname", opt.value("iname", opt.value("name", "")));
                    long long price = -1;
                    for (char const* key : { "optionprice", "addprice", "price" })
                        if (opt.contains(key) && opt[key].is_number_integer())
                            price = opt[key];
                    if (!name.empty())
                        line.options.push_back({ { "optionname", name }, { "optionprice", price } });
                }
            }
        }
        if (line.qty < 1 || line.qty > 999 || (line.mname.empty() && line.menuidx <= 0)) {
            why = "주문 메뉴의 이름이나 수량이 올바르지 않습니다";
            return false;
        }
        out.push_back(std::move(line));
    }
    return true;
}

long long create_order(Db& db, NewOrder order)
{
    long long now = now_seconds();
    long long total = 0;
    for (auto& line : order.lines) {
        Json menu;
        if (line.menuidx > 0)
            menu = db.query_one("SELECT menuidx, mname, price FROM menus WHERE menuidx=? AND storeidx=?", { line.menuidx, order.storeidx });
        if (menu.is_null() && !line.mname.empty())
            menu = db.query_one("SELECT menuidx, mname, price FROM menus WHERE mname=? AND storeidx=? AND deleted=0", { line.mname, order.storeidx });
        if (!menu.is_null()) {
            line.menuidx = menu["menuidx"];
            if (line.mname.empty())
                line.mname = menu["mname"];
            if (line.price < 0)
                line.price = menu["price"];
        }
        if (line.price < 0)
            line.price = 0;
        long long unit = line.price;
        for (auto& opt : line.options) {
            if (opt["optionprice"].get<long long>() < 0)
                opt["optionprice"] = option_price(db, line.menuidx, opt["optionname"]);
            unit += opt["optionprice"].get<long long>();
        }
        line.price = unit;
        total += unit * line.qty;
    }
    db.exec("UPDATE stores SET ordercounter=ordercounter+1 WHERE storeidx=?", { order.storeidx });
    long long ordernum = db.query_int("SELECT ordercounter FROM stores WHERE storeidx=?", { order.storeidx }, 1);
    Json reqkey = order.reqkey ? Json(*order.reqkey) : Json();
    db.exec("INSERT INTO orders (storeidx, ordernum, tablenum, status, paystatus, prepay, ordersrc, pickup, pickuptime, totalamount,"
            " payamount, paymethod, paydate, requestmemo, idate, reqkey, reqjson) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
        { order.storeidx, std::to_string(ordernum), order.tablenum, order.status, order.paystatus, order.prepay, order.ordersrc,
            order.pickup, order.pickuptime, total, order.paystatus == 1 ? total : 0, order.paymethod,
            order.paystatus == 1 ? now : 0, order.memo, now, reqkey, order.reqjson });
    long long orderidx = db.last_id();
    for (auto const& line : order.lines)
        db.exec("INSERT INTO order_menus (orderidx, menuidx, mname, qty, price, comment, options) VALUES (?,?,?,?,?,?,?)",
            { orderidx, line.menuidx, line.mname, line.qty, line.price, line.comment, line.options.dump() });
    return orderidx;
}

std::string settle_payment(Db& db, long long orderidx, bool paid, std::string& why, long long& storeidx)
{
    auto order = db.query_one("SELECT * FROM orders WHERE orderidx=?", { orderidx });
    if (order.is_null()) {
        why = "no such order";
        return {};
    }
    storeidx = order["storeidx"];
    if (order["status"] == 4 || order["mergedinto"] != 0) {
        why = "order is cancelled or merged";
        return {};
    }
    if (order["paystatus"] == 1) {
        why = "order is already paid";
        return {};
    }
    long long now = now_seconds();
    if (!paid) {
        db.exec("UPDATE orders SET paystatus=2 WHERE orderidx=?", { orderidx });
        return "PAYFAIL";
    }
    // A QR group is paid at once: its orders are merged into the first one.
    std::string group = order["paygroup"];
    if (!group.empty()) {
        auto members = db.query("SELECT orderidx, totalamount FROM orders WHERE paygroup=? AND orderidx<>? AND mergedinto=0 AND status<>4",
            { group, orderidx });
        for (auto const& m : members) {
            db.exec("UPDATE order_menus SET orderidx=? WHERE orderidx=?", { orderidx, m["orderidx"] });
            db.exec("UPDATE orders SET mergedinto=?, udate=? WHERE orderidx=?", { orderidx, now, m["orderidx"] });
        }
        db.exec("UPDATE orders SET totalamount=(SELECT COALESCE(SUM(qty*price),0) FROM order_menus WHERE orderidx=?) WHERE orderidx=?",
            { orderidx, orderidx });
    }
    long long total = db.query_int("SELECT totalamount FROM orders WHERE orderidx=?", { orderidx });
    Json cards = Json::array();
    cards.push_back({ { "issueCardName", "KB국민카드" }, { "cardNoEnc", "9410-61**-****-5521" }, { "installment", "일시불" },
        { "applNo", std::to_string(40000000 + orderidx) }, { "amount", total }, { "cancelYN", "N" }, { "cancelAmount", 0 },
        { "cancelRefNo", "" }, { "tranDate", local_time_text(now, "%Y%m%d") }, { "tranTime", local_time_text(now, "%H%M%S") },
        { "cancelDate", "" }, { "cancelTime", "" } });
    db.exec("UPDATE orders SET paystatus=1, status=CASE WHEN status=0 THEN 1 ELSE status END, payamount=?, paydate=?, paymethod='CARD',"
            " paytoken='', payexpire=0, qrwait=0, cards=? WHERE orderidx=?",
        { total, now, cards.dump(), orderidx });
    return "PAYING";
}

Json order_list_entry(Db& db, Json const& order)
{
    long long orderidx = order["orderidx"];
    auto lines = db.query("SELECT mname, qty, comment FROM order_menus WHERE orderidx=? ORDER BY ordermenuidx", { orderidx });
    Json items = Json::array();
    for (auto& l : lines)
        items.push_back(std::move(l));
    return order_list_entry(order, std::move(items));
}

Json order_list_entry(Json const& order, Json items)
{
    long long now = now_seconds();
    long long menucount = static_cast<long long>(items.size());
    return {
        { "orderidx", order["orderidx"] },
        { "ordernum", order["ordernum"] },
        { "tablenum", order["tablenum"] },
        { "status", order["status"] },
        { "paystatus", order["paystatus"] },
        { "prepay", order["prepay"] },
        { "ordersrc", order["ordersrc"] },
        { "menucount", menucount },
        { "items", std::move(items) },
        { "pickup", order["pickup"] },
        { "pickuptime", order["pickuptime"] },
        { "pickupready", order["pickupready"] },
        { "waitmin", (now - order["idate"].get<long long>()) / 60 },
        { "totalamount", order["totalamount"] },
        { "payamount", order["payamount"] },
        { "paymethod", order["paymethod"] },
        { "requestmemo", order["requestmemo"] },
        { "idate", local_time_text(order["idate"]) },
        { "cooktime", order["cooktime"] },
    };
}

Json history_entry(Db& db, Json const& order)
{
    auto lines = db.query("SELECT mname, qty FROM order_menus WHERE orderidx=? ORDER BY ordermenuidx", { order["orderidx"] });
    std::string menus;
    for (size_t i = 0; i < lines.size() && i < 2; ++i) {
        if (i)
            menus += ", ";
        menus += lines[i]["mname"].get<std::string>() + " " + std::to_string(lines[i]["qty"].get<long long>());
    }
    if (lines.size() > 2)
        menus += " 외 " + std::to_string(lines.size() - 2);
    return {
        { "orderidx", order["orderidx"] },
        { "ordernum", order["ordernum"] },
        { "tablenum", order["tablenum"] },
        { "status", order["status"] },
        { "paystatus", order["paystatus"] },
        { "ordersrc", order["ordersrc"] },
        { "totalamount", order["totalamount"] },
        { "payamount", order["payamount"] },
        { "paymethod", order["paymethod"] },
        { "idate", local_time_text(order["idate"]) },
        { "menus", menus },
    };
}

Json order_detail(Db& db, Json const& order)
{
    Json j = order_list_entry(db, order);
    j.erase("items");
    auto lines = db.query("SELECT ordermenuidx, menuidx, mname, qty, price, comment, options FROM order_menus WHERE orderidx=? ORDER BY ordermenuidx",
        { order["orderidx"] });
    Json menus = Json::array();
    for (auto& l : lines) {
        l["options"] = Json::parse(l["options"].get<std::string>(), nullptr, false);
        if (!l["options"].is_array())
            l["options"] = Json::array();
        l["amount"] = l["qty"].get<long long>() * l["price"].get<long long>();
        menus.push_back(l);
    }
    j["menus"] = menus;
    j["tel"] = order["tel"];
    j["paytoken"] = order["paytoken"];
    return j;
}

long long day_from_text(std::string const& text, bool end_of_day)
{
    std::string digits;
    for (char c : text)
        if (c >= '0' && c <= '9')
            digits += c;
    if (digits.size() != 8)
        return -1;
    std::tm tm {};
    tm.tm_year = std::stoi(digits.substr(0, 4)) - 1900;
    tm.tm_mon = std::stoi(digits.substr(4, 2)) - 1;
    tm.tm_mday = std::stoi(digits.substr(6, 2));
    tm.tm_isdst = -1;
    long long start = static_cast<long long>(std::mktime(&tm));
    return end_of_day ? start + 86400 : start;
}

} // namespace tillbay::platform

// The owner's back office: shop details, menus and options, products,
// reviews, messages, promotions, the online mall, staff and sales figures.
// Most are small reads and single-field updates, so they are described by
// tables rather than written out one by one.

#include "tools/platform/commands.h"
#include "tools/platform/pcrypto.h"

#include <ctime>

namespace tillbay::platform {

namespace {

constexpr char k_not_found[] = "대상을 찾지 못했습니다";

Json rows(Call& call, std::string const& sql, std::vector<Json> const& params)
{
    Json list = Json::array();
    for (auto& r : call.db().query(sql, params))
        list.push_back(r);
    return list;
}

// The rows with their "idate" seconds written as local time for the pages.
Json dated(Json list, char const* format = "%Y-%m-%d %H:%M")
{
    for (auto& r : list)
        if (r.contains("idate") && r["idate"].is_number_integer())
            r["idate"] = local_time_text(r["idate"].get<long long>(), format);
    return list;
}

std::string setting(Call& call, std::string const& name)
{
    auto row = call.db().query_one("SELECT value FROM settings WHERE storeidx=? AND name=?", { call.storeidx, name });
    return row.is_null() ? "" : row["value"].get<std::string>();
}

void put_setting(Call& call, std::string const& name, std::string const& value)
{
    call.db().exec("INSERT INTO settings (storeidx, name, value) VALUES (?,?,?) ON CONFLICT(storeidx, name) DO UPDATE SET value=excluded.value",
        { call.storeidx, name, value });
}

Json settings_object(Call& call, std::vector<std::string> const& names)
{
    Json j = Json::object();
    for (auto const& n : names)
        j[n] = setting(call, n);
    return j;
}

bool is_number(std::string const& s, size_t max_digits = 12)
{
    if (s.empty() || s.size() > max_digits)
        return false;
    size_t start = s[0] == '-' ? 1 : 0;
    if (start == s.size())
        return false;
    for (size_t i = start; i < s.size(); ++i)
        if (s[i] < '0' || s[i] > '9')
            return false;
    return true;
}

// One column of one row of this store, named by a parameter; value checked as
// a number when `numeric`.
Handler field_update(std::string table, std::string key, std::string key_param, std::string column, std::string value_param,
    bool numeric, std::string store_scope = "storeidx=?")
{
    return [=](Call& call) {
        std::string value = call.str(value_param);
        if (numeric && !is_number(value))
            return Reply::refuse("입력값이 올바르지 않습니다");
        long long changed = call.db().exec("UPDATE " + table + " SET " + column + "=? WHERE " + key + "=? AND " + store_scope,
            { numeric ? Json(std::stoll(value)) : Json(value), call.num(key_param), call.storeidx });
        if (changed == 0)
            return Reply::refuse(k_not_found);
        return Reply::ok({ { "ok", true }, { key, call.num(key_param) }, { column, value } });
    };
}

// The `msg` member of a change's answer is the text the POS shows for it.
Handler store_column(std::string column, std::string param, std::string done)
{
    return [=](Call& call) {
        std::string value = call.str(param);
        if (value.empty())
            return Reply::refuse("값이 비어 있습니다");
        call.db().exec("UPDATE stores SET " + column + "=? WHERE storeidx=?", { value, call.storeidx });
        return Reply::ok({ { "ok", true }, { column, value }, { "msg", done } });
    };
}

Handler settings_update(std::vector<std::pair<std::string, std::string>> names, std::string done = "저장했습니다")
{
    return [=](Call& call) {
        Json j = { { "ok", true }, { "msg", done } };
        for (auto const& [name, param] : names) {
            put_setting(call, name, call.str(param));
            j[name] = call.str(param);
        }
        return Reply::ok(j);
    };
}

// Menus and options belong to the store through their menu.
constexpr char k_menu_scope[] = "menuidx IN (SELECT menuidx FROM menus WHERE storeidx=?)";
constexpr char k_group_scope[] = "groupidx IN (SELECT g.groupidx FROM option_groups g JOIN menus m ON m.menuidx=g.menuidx WHERE m.storeidx=?)";
constexpr char k_item_scope[] = "itemidx IN (SELECT i.itemidx FROM option_items i JOIN option_groups g ON g.groupidx=i.groupidx"
                                " JOIN menus m ON m.menuidx=g.menuidx WHERE m.storeidx=?)";
constexpr char k_product_scope[] = "productidx IN (SELECT productidx FROM products WHERE storeidx=?)";

Reply menu_detail(Call& call)
{
    auto menu = call.db().query_one("SELECT * FROM menus WHERE menuidx=? AND storeidx=? AND deleted=0", { call.num("menuidx"), call.storeidx });
    if (menu.is_null())
        return Reply::refuse(k_not_found);
    menu["groups"] = rows(call, "SELECT groupidx AS idx, gname, requiredyn, multiselectyn, useyn FROM option_groups WHERE menuidx=?", { menu["menuidx"] });
    return Reply::ok(menu);
}

Reply add_menu(Call& call)
{
    if (call.str("mname").empty() || !is_number(call.str("price")))
        return Reply::refuse("메뉴 이름과 가격을 확인해 주세요");
    if (call.db().query_int("SELECT COUNT(*) FROM categories WHERE categoryidx=? AND storeidx=?", { call.num("categoryidx"), call.storeidx }) == 0)
        return Reply::refuse("없는 분류입니다");
    call.db().exec("INSERT INTO menus (storeidx, categoryidx, mname, price, comment, photopath, ordernum) VALUES (?,?,?,?,?,?,"
                   "(SELECT COALESCE(MAX(ordernum),0)+1 FROM menus WHERE storeidx=?))",
        { call.storeidx, call.num("categoryidx"), call.str("mname"), call.num("price"), call.str("comment"), call.str("photopath"), call.storeidx });
    return Reply::ok({ { "ok", true }, { "menuidx", call.db().last_id() } });
}

Reply add_category(Call& call)
{
    if (call.str("ctname").empty())
        return Reply::refuse("분류 이름을 넣어 주세요");
    call.db().exec("INSERT INTO categories (storeidx, ctname, ordernum) VALUES (?,?,(SELECT COALESCE(MAX(ordernum),0)+1 FROM categories WHERE storeidx=?))",
        { call.storeidx, call.str("ctname"), call.storeidx });
    return Reply::ok({ { "ok", true }, { "categoryidx", call.db().last_id() } });
}

Reply delete_category(Call& call)
{
    long long id = call.num("categoryidx");
    if (call.db().query_int("SELECT COUNT(*) FROM menus WHERE categoryidx=? AND deleted=0", { id }) > 0)
        return Reply::refuse("메뉴가 있는 분류는 지울 수 없습니다");
    if (call.db().exec("DELETE FROM categories WHERE categoryidx=? AND storeidx=?", { id, call.storeidx }) == 0)
        return Reply::refuse(k_not_found);
    return Reply::ok({ { "ok", true } });
}

Reply order_categories(Call& call)
{
    std::string list = call.str("orderlist");
    long long position = 0;
    size_t start = 0;
    while (start < list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos)
            end = list.size();
        std::string id = list.substr(start, end - start);
        if (!is_number(id))
            return Reply::refuse("순서 목록이 올바르지 않습니다");
        call.db().exec("UPDATE categories SET ordernum=? WHERE categoryidx=? AND storeidx=?", { ++position, std::stoll(id), call.storeidx });
        start = end + 1;
    }
    return Reply::ok({ { "ok", true }, { "count", position } });
}

Reply add_group(Call& call)
{
    if (call.db().query_int("SELECT COUNT(*) FROM menus WHERE menuidx=? AND storeidx=?", { call.num("menuidx"), call.storeidx }) == 0)
        return Reply::refuse(k_not_found);
    if (call.str("gname").empty())
        return Reply::refuse("옵션그룹 이름을 넣어 주세요");
    call.db().exec("INSERT INTO option_groups (menuidx, gname, requiredyn, multiselectyn) VALUES (?,?,?,?)",
        { call.num("menuidx"), call.str("gname"), call.str("requiredyn", "N"), call.str("multiselectyn", "N") });
    return Reply::ok({ { "ok", true }, { "groupidx", call.db().last_id() } });
}

Reply add_item(Call& call)
{
    long long group = call.num("optiongroupidx");
    if (call.db().query_int(std::string("SELECT COUNT(*) FROM option_groups WHERE groupidx=? AND ") + k_group_scope, { group, call.storeidx }) == 0)
        return Reply::refuse(k_not_found);
    if (call.str("iname").empty() || !is_number(call.str("addprice", "0")))
        return Reply::refuse("옵션 이름과 가격을 확인해 주세요");
    call.db().exec("INSERT INTO option_items (groupidx, iname, addprice) VALUES (?,?,?)", { group, call.str("iname"), call.num("addprice") });
    return Reply::ok({ { "ok", true }, { "itemidx", call.db().last_id() } });
}

Reply edit_group(Call& call)
{
    long long changed = call.db().exec(std::string("UPDATE option_groups SET gname=?, requiredyn=?, multiselectyn=?, useyn=? WHERE groupidx=? AND ") + k_group_scope,
        { call.str("gname"), call.str("requiredyn", "N"), call.str("multiselectyn", "N"), call.str("useyn", "Y"), call.num("groupidx"), call.storeidx });
    return changed ? Reply::ok({ { "ok", true } }) : Reply::refuse(k_not_found);
}

Reply edit_item(Call& call)
{
    if (!is_number(call.str("addprice", "0")))
        return Reply::refuse("가격이 올바르지 않습니다");
    long long changed = call.db().exec(std::string("UPDATE option_items SET iname=?, addprice=?, soldout=?, useyn=? WHERE itemidx=? AND ") + k_item_scope,
        { call.str("iname"), call.num("addprice"), call.num("soldout"), call.str("useyn", "Y"), call.num("itemidx"), call.storeidx });
    return changed ? Reply::ok({ { "ok", true } }) : Reply::refuse(k_not_found);
}

Reply product_list(Call& call)
{
    long long limit = call.num("limit", 50);
    if (limit < 1 || limit > 500)
        limit = 50;
    Json j = { { "products", rows(call, std::string("SELECT productidx, pname, price, saleprice, stock, photopath, useyn, soldout, mallyn, shopcat FROM products"
                                                    " WHERE storeidx=? AND deleted=0 ORDER BY ")
                                                  + (call.str("order") == "new" ? "idate DESC" : "productidx") + " LIMIT ? OFFSET ?",
                                  { call.storeidx, limit, call.num("offset", 0) }) },
        { "total", call.db().query_int("SELECT COUNT(*) FROM products WHERE storeidx=? AND deleted=0", { call.storeidx }) } };
    if (call.str("withcat") == "1")
        j["categories"] = rows(call, "SELECT DISTINCT shopcat FROM products WHERE storeidx=? AND shopcat<>''", { call.storeidx });
    return Reply::ok(j);
}

Reply product_detail(Call& call)
{
    auto p = call.db().query_one("SELECT * FROM products WHERE productidx=? AND storeidx=? AND deleted=0", { call.num("productidx"), call.storeidx });
    if (p.is_null())
        return Reply::refuse(k_not_found);
    p["variants"] = rows(call, "SELECT * FROM variants WHERE productidx=?", { p["productidx"] });
    p["photos"] = rows(call, "SELECT photoidx, url FROM product_photos WHERE productidx=?", { p["productidx"] });
    return Reply::ok(p);
}

Reply add_product(Call& call)
{
    // An empty sale price or stock is none: 0.
    auto zero_or_number = [&](char const* name) { return call.str(name).empty() || is_number(call.str(name)); };
    if (call.str("pname").empty() || !is_number(call.str("price")) || !zero_or_number("saleprice") || !zero_or_number("stock"))
        return Reply::refuse("입력값이 올바르지 않습니다");
    call.db().exec("INSERT INTO products (storeidx, pname, price, saleprice, stock, comment, photopath, idate) VALUES (?,?,?,?,?,?,?,?)",
        { call.storeidx, call.str("pname"), call.num("price"), call.num("saleprice"), call.num("stock"), call.str("comment"),
            call.str("photopath"), now_seconds() });
    return Reply::ok({ { "ok", true }, { "productidx", call.db().last_id() }, { "idx", call.db().last_id() } });
}

Reply add_variant(Call& call)
{
    if (call.db().query_int("SELECT COUNT(*) FROM products WHERE productidx=? AND storeidx=?", { call.num("productidx"), call.storeidx }) == 0)
        return Reply::refuse(k_not_found);
    if (call.str("vname").empty() || !is_number(call.str("addprice", "0")) || !is_number(call.str("stock", "0")))
        return Reply::refuse("입력값이 올바르지 않습니다");
    call.db().exec("INSERT INTO variants (productidx, gname, vname, addprice, stock) VALUES (?,?,?,?,?)",
        { call.num("productidx"), call.str("gname"), call.str("vname"), call.num("addprice"), call.num("stock") });
    return Reply::ok({ { "ok", true }, { "variantidx", call.db().last_id() } });
}

Reply shop_category(Call& call)
{
    long long matched = 0, changed = 0;
    if (call.str("act") == "set") {
        std::string idxs = call.str("idxs");
        size_t start = 0;
        while (start < idxs.size()) {
            size_t end = idxs.find(',', start);
            if (end == std::string::npos)
                end = idxs.size();
            std::string id = idxs.substr(start, end - start);
            if (is_number(id)) {
                auto p = call.db().query_one("SELECT shopcat FROM products WHERE productidx=? AND storeidx=?", { std::stoll(id), call.storeidx });
                if (!p.is_null()) {
                    ++matched;
                    if (p["shopcat"] != call.str("shopcat")) {
                        call.db().exec("UPDATE products SET shopcat=? WHERE productidx=?", { call.str("shopcat"), std::stoll(id) });
                        ++changed;
                    }
                }
            }
            start = end + 1;
        }
    } else if (call.str("act") == "rename") {
        matched = call.db().query_int("SELECT COUNT(*) FROM products WHERE storeidx=? AND shopcat=?", { call.storeidx, call.str("from") });
        changed = call.db().exec("UPDATE products SET shopcat=? WHERE storeidx=? AND shopcat=?", { call.str("to"), call.storeidx, call.str("from") });
    } else {
        return Reply::refuse("지원하지 않는 요청입니다");
    }
    return Reply::ok_text(std::to_string(matched) + "<#>" + std::to_string(changed));
}

// "HH:MM" from 00:00 to 23:59; `optional` lets it be empty.
bool clock_text(std::string const& s, bool optional)
{
    if (s.empty())
        return optional;
    if (s.size() != 5 || s[2] != ':' || !is_number(s.substr(0, 2)) || !is_number(s.substr(3, 2)))
        return false;
    return std::stoi(s.substr(0, 2)) < 24 && std::stoi(s.substr(3, 2)) < 60;
}

Reply biz_setting(Call& call)
{
    Json j = settings_object(call, { "opentime", "closetime", "breakstart", "breakend", "holidays" });
    auto store = call.db().query_one("SELECT openstatus, tablecount FROM stores WHERE storeidx=?", { call.storeidx });
    j["openstatus"] = store["openstatus"];
    j["tablecount"] = store["tablecount"];
    j["staff"] = rows(call, "SELECT useridx AS staffidx, name, loginid, useyn, CASE WHEN useridx IN (SELECT useridx FROM tokens"
                            " WHERE expires>?) THEN 1 ELSE 0 END AS online FROM accounts WHERE storeidx=? AND role='staff' ORDER BY useridx",
        { now_seconds(), call.storeidx });
    return Reply::ok(j);
}

Reply save_biz_hours(Call& call)
{
    if (!clock_text(call.str("opentime"), false) || !clock_text(call.str("closetime"), false))
        return Reply::refuse("여는 시각과 닫는 시각은 00:00 모양으로 넣어 주세요");
    if (!clock_text(call.str("breakstart"), true) || !clock_text(call.str("breakend"), true)
        || call.str("breakstart").empty() != call.str("breakend").empty())
        return Reply::refuse("쉬는 시간은 시작과 끝을 00:00 모양으로 함께 넣어 주세요");
    if (call.str("holidays").size() > 60)
        return Reply::refuse("휴무일이 너무 깁니다");
    for (char const* name : { "opentime", "closetime", "breakstart", "breakend", "holidays" })
        put_setting(call, name, call.str(name));
    return Reply::ok({ { "ok", true }, { "msg", "영업시간을 저장했습니다" } });
}

Reply add_staff(Call& call)
{
    if (call.str("name").empty() || call.str("loginid").size() < 4 || call.str("passwd").size() < 4)
        return Reply::refuse("이름, 아이디(4자 이상), 비밀번호(4자 이상)를 확인해 주세요");
    if (call.db().query_int("SELECT COUNT(*) FROM accounts WHERE loginid=?", { call.str("loginid") }) > 0)
        return Reply::refuse("이미 쓰는 아이디입니다");
    // Staff added here sign in at the counter like the demo staff account.
    std::string salt = random_hex(8);
    call.db().exec("INSERT INTO accounts (storeidx, role, loginid, salt, pwhash, name) VALUES (?,?,?,?,?,?)",
        { call.storeidx, "staff", call.str("loginid"), salt, sha256_hex(salt + ":" + call.str("passwd")), call.str("name") });
    return Reply::ok({ { "ok", true }, { "staffidx", call.db().last_id() }, { "msg", "직원을 추가했습니다" } });
}

Reply update_staff(Call& call)
{
    std::string mode = call.str("mode");
    long long id = call.num("staffidx");
    long long changed = 0;
    if (mode == "name")
        changed = call.db().exec("UPDATE accounts SET name=? WHERE useridx=? AND storeidx=? AND role='staff'", { call.str("value"), id, call.storeidx });
    else if (mode == "useyn") {
        changed = call.db().exec("UPDATE accounts SET useyn=? WHERE useridx=? AND storeidx=? AND role='staff'", { call.str("value") == "N" ? "N" : "Y", id, call.storeidx });
        if (call.str("value") == "N")
            call.db().exec("DELETE FROM tokens WHERE useridx=?", { id });
    } else if (mode == "passwd") {
        std::string pw = call.str("value");
        if (pw.size() < 4 || pw.size() > 20)
            return Reply::refuse("비밀번호는 4~20자입니다");
        std::string salt = random_hex(8);
        changed = call.db().exec("UPDATE accounts SET salt=?, pwhash=? WHERE useridx=? AND storeidx=? AND role='staff'",
            { salt, sha256_hex(salt + ":" + pw), id, call.storeidx });
        call.db().exec("DELETE FROM tokens WHERE useridx=?", { id });
    } else
        return Reply::refuse("지원하지 않는 항목입니다");
    return changed ? Reply::ok({ { "ok", true }, { "msg", "직원 정보를 바꿨습니다" } }) : Reply::refuse(k_not_found);
}

} // namespace

void register_store_commands(CommandTables& t)
{
    auto& o = t.owner;
    // Shop details.
    o[2] = store_column("shopname", "shopname", "상호를 바꿨습니다");
    o[3] = store_column("tel", "tel", "전화번호를 바꿨습니다");
    o[4] = store_column("bizname", "name", "대표자 이름을 바꿨습니다");
    o[5] = settings_update({ { "bankname", "bankname" }, { "bankuser", "bankuser" }, { "banknumber", "banknumber" } }, "정산 계좌를 바꿨습니다");
    o[6] = [](Call& call) { put_setting(call, "photo_mode" + std::to_string(call.num("mode")), call.str("photopath")); return Reply::ok({ { "ok", true } }); };
    o[8] = [](Call& call) {
        if (call.str("type") == "get") {
            Json modes = Json::object();
            for (auto const& r : call.db().query("SELECT name, value FROM settings WHERE storeidx=? AND substr(name,1,8)='biz_mode'", { call.storeidx }))
                modes[r["name"].get<std::string>().substr(8)] = r["value"];
            return Reply::ok({ { "modes", modes }, { "benefit", setting(call, "benefit") }, { "deliveryfee", setting(call, "deliveryfee") },
                { "deliveryfree", setting(call, "deliveryfree") } });
        }
        if (call.str("type") != "set" && call.str("type") != "setbenefit")
            return Reply::refuse("지원하지 않는 요청입니다");
        long long mode = call.num("mode", -1);
        if (mode < 1 || mode > 9)
            return Reply::refuse("설정 번호가 올바르지 않습니다");
        if (call.str("value").size() > 300)
            return Reply::refuse("값이 너무 깁니다");
        std::string name = call.str("type") == "setbenefit" ? "benefit" : "biz_mode" + std::to_string(mode);
        put_setting(call, name, call.str("value"));
        return Reply::ok({ { "ok", true }, { "mode", mode }, { "value", call.str("value") } });
    };
    o[44] = [](Call& call) {
        std::string value = call.str("value");
        if (!is_number(value, 3) || std::stoi(value) < 0 || std::stoi(value) > 200)
            return Reply::refuse("테이블 수는 0~200 사이 숫자로 넣어 주세요");
        call.db().exec("UPDATE stores SET tablecount=? WHERE storeidx=?", { std::stoi(value), call.storeidx });
        return Reply::ok({ { "ok", true }, { "tablecount", std::stoi(value) }, { "msg", "테이블 수를 저장했습니다" } });
    };
    t.store[50] = o[50] = settings_update({ { "address", "address" }, { "lat", "lat" }, { "lng", "lng" } });
    o[51] = settings_update({ { "smscomment", "value" } }, "안내 문자를 바꿨습니다");
    o[52] = [](Call& call) {
        if (!is_number(call.str("value"), 7))
            return Reply::refuse("배달비는 숫자로 넣어 주세요");
        put_setting(call, "deliveryfee", call.str("value"));
        return Reply::ok({ { "ok", true }, { "deliveryfee", call.str("value") }, { "msg", "배달비를 바꿨습니다" } });
    };
    o[53] = [](Call& call) {
        if (!is_number(call.str("value"), 8))
            return Reply::refuse("무료 배달 금액은 숫자로 넣어 주세요");
        put_setting(call, "deliveryfree", call.str("value"));
        return Reply::ok({ { "ok", true }, { "deliveryfree", call.str("value") }, { "msg", "무료 배달 금액을 바꿨습니다" } });
    };
    o[70] = [](Call& call) { return Reply::ok({ { "value", setting(call, "aisetting") } }); };
    o[71] = settings_update({ { "aisetting", "value" } });
    o[73] = [](Call& call) {
        long long st = call.num("openstatus", -1);
        if (st < 0 || st > 2)
            return Reply::refuse("영업상태 값이 올바르지 않습니다");
        call.db().exec("UPDATE stores SET openstatus=? WHERE storeidx=?", { st, call.storeidx });
        return Reply::ok({ { "ok", true }, { "openstatus", st } });
    };
    o[76] = biz_setting;
    o[77] = save_biz_hours;
    o[78] = add_staff;
    o[79] = update_staff;
    o[86] = [](Call& call) { return Reply::ok(settings_object(call, { "ceoname", "bizno", "mailorderno", "sellerphone", "returnaddr", "deliverydays", "returnfeeinfo" })); };
    o[87] = settings_update({ { "ceoname", "ceoname" }, { "bizno", "bizno" }, { "mailorderno", "mailorderno" }, { "sellerphone", "sellerphone" },
        { "returnaddr", "returnaddr" }, { "deliverydays", "deliverydays" }, { "returnfeeinfo", "returnfeeinfo" } });

    // Menus, categories and options.
    o[11] = menu_detail;
    o[12] = field_update("menus", "menuidx", "menuidx", "mname", "value", false);
    o[13] = field_update("menus", "menuidx", "menuidx", "price", "value", true);
    o[14] = field_update("menus", "menuidx", "menuidx", "comment", "value", false);
    o[15] = field_update("menus", "menuidx", "menuidx", "useyn", "value", false);
    o[16] = field_update("menus", "menuidx", "menuidx", "soldout", "value", true);
    o[17] = field_update("menus", "menuidx", "menuidx", "photopath", "value", false);
    o[43] = field_update("menus", "menuidx", "menuidx", "dcrate", "value", true);
    o[18] = add_menu;
    o[102] = [](Call& call) {
        long long n = call.db().exec("UPDATE menus SET deleted=1 WHERE menuidx=? AND storeidx=? AND deleted=0", { call.num("menuidx"), call.storeidx });
        return n ? Reply::ok({ { "ok", true } }) : Reply::refuse(k_not_found);
    };
    o[34] = add_category;
    o[35] = field_update("categories", "categoryidx", "categoryidx", "ctname", "ctname", false);
    o[36] = delete_category;
    o[37] = order_categories;
    o[92] = [](Call& call) { return Reply::ok({ { "groups", rows(call, std::string("SELECT groupidx AS idx, gname, requiredyn, multiselectyn, useyn FROM option_groups WHERE menuidx=? AND ") + k_menu_scope, { call.num("menuidx"), call.storeidx }) } }); };
    o[93] = add_group;
    o[94] = edit_group;
    o[95] = [](Call& call) {
        long long n = call.db().exec(std::string("DELETE FROM option_groups WHERE groupidx=? AND ") + k_group_scope, { call.num("groupidx"), call.storeidx });
        call.db().exec("DELETE FROM option_items WHERE groupidx=?", { call.num("groupidx") });
        return n ? Reply::ok({ { "ok", true } }) : Reply::refuse(k_not_found);
    };
    o[96] = [](Call& call) { return Reply::ok({ { "items", rows(call, std::string("SELECT itemidx AS idx, iname, addprice, soldout, useyn FROM option_items WHERE groupidx=? AND ") + k_group_scope, { call.num("optiongroupidx"), call.storeidx }) } }); };
    o[97] = add_item;
    o[98] = edit_item;
    o[99] = [](Call& call) {
        long long n = call.db().exec(std::string("DELETE FROM option_items WHERE itemidx=? AND ") + k_item_scope, { call.num("itemidx"), call.storeidx });
        return n ? Reply::ok({ { "ok", true } }) : Reply::refuse(k_not_found);
    };
    o[101] = field_update("option_items", "itemidx", "itemidx", "soldout", "soldout", true, k_item_scope);

    // Products.
    o[19] = add_product;
    o[21] = product_list;
    o[22] = product_detail;
    char const* product_fields[] = { "pname", "price", "saleprice", "stock", "comment", "useyn", "soldout", "deliveryyn", "pickupyn" };
    for (int i = 0; i < 9; ++i)
        o[23 + i] = field_update("products", "productidx", "productidx", product_fields[i], "value", i >= 1 && i <= 3);
    o[32] = field_update("products", "productidx", "productidx", "photopath", "value", false);
    o[38] = [](Call&) { return Reply::ok({ { "categories", Json::array({ "반찬", "장류", "간편식", "음료", "선물세트" }) } }); };
    o[39] = [](Call& call) {
        long long n = call.db().exec("UPDATE products SET mallyn=?, mallcategory=? WHERE productidx=? AND storeidx=?",
            { call.str("mallyn") == "Y" ? "Y" : "N", call.str("mallcategory"), call.num("productidx"), call.storeidx });
        return n ? Reply::ok({ { "ok", true } }) : Reply::refuse(k_not_found);
    };
    o[45] = [](Call&) { return Reply::ok({ { "products", Json::array({ { { "name", "영수증 용지 80mm (20롤)" }, { "price", 24000 } }, { { "name", "테이블 QR 스티커 (12장)" }, { "price", 9900 } } }) } }); };
    o[48] = shop_category;
    o[67] = [](Call& call) { return Reply::ok({ { "variants", rows(call, std::string("SELECT * FROM variants WHERE productidx=? AND ") + k_product_scope, { call.num("productidx"), call.storeidx }) } }); };
    o[68] = add_variant;
    o[69] = [](Call& call) {
        long long n = call.db().exec(std::string("DELETE FROM variants WHERE variantidx=? AND productidx=? AND ") + k_product_scope, { call.num("variantidx"), call.num("productidx"), call.storeidx });
        return n ? Reply::ok({ { "ok", true } }) : Reply::refuse(k_not_found);
    };
    o[80] = [](Call& call) { return Reply::ok({ { "photos", rows(call, std::string("SELECT photoidx, url FROM product_photos WHERE productidx=? AND ") + k_product_scope, { call.num("productidx"), call.storeidx }) } }); };
    o[81] = [](Call& call) {
        if (call.db().query_int("SELECT COUNT(*) FROM products WHERE productidx=? AND storeidx=?", { call.num("productidx"), call.storeidx }) == 0)
            return Reply::refuse(k_not_found);
        call.db().exec("INSERT INTO product_photos (productidx, url) VALUES (?,?)", { call.num("productidx"), call.str("photourl") });
        return Reply::ok({ { "ok", true }, { "photoidx", call.db().last_id() } });
    };
    o[82] = [](Call& call) {
        long long n = call.db().exec(std::string("DELETE FROM product_photos WHERE photoidx=? AND productidx=? AND ") + k_product_scope, { call.num("photoidx"), call.num("productidx"), call.storeidx });
        return n ? Reply::ok({ { "ok", true } }) : Reply::refuse(k_not_found);
    };
    o[83] = [](Call& call) {
        long long n = call.db().exec("UPDATE products SET deleted=1 WHERE productidx=? AND storeidx=? AND deleted=0", { call.num("productidx"), call.storeidx });
        return n ? Reply::ok({ { "ok", true } }) : Reply::refuse(k_not_found);
    };

    // Reviews, messages, promotions, questions.
    o[74] = [](Call& call) {
        Json list = rows(call, "SELECT r.*, COALESCE(p.pname,'') AS pname FROM reviews r LEFT JOIN products p ON p.productidx=r.productidx"
                               " WHERE r.storeidx=? AND r.type=? ORDER BY r.idate DESC", { call.storeidx, call.str("type", "store") });
        for (auto& r : list)
            r["idate"] = local_time_text(r["idate"].get<long long>(), "%Y-%m-%d");
        return Reply::ok({ { "reviews", list } });
    };
    o[75] = field_update("reviews", "reviewidx", "reviewidx", "reply", "reply", false);
    // Notices from the platform, newest first, 20 to a page; "more" says
    // whether an older page follows.
    auto notices = [](Call& call, long long before) {
        Json list = rows(call, "SELECT msgidx, title, idate, readyn FROM messages WHERE msgidx<? ORDER BY msgidx DESC LIMIT 21", { before });
        bool more = list.size() > 20;
        if (more)
            list.erase(list.size() - 1);
        for (auto& m : list)
            m["idate"] = local_time_text(m["idate"].get<long long>(), "%Y-%m-%d");
        return Reply::ok({ { "messages", list }, { "more", more } });
    };
    o[56] = [notices](Call& call) { return notices(call, 1LL << 62); };
    o[57] = [notices](Call& call) { return notices(call, call.num("lastidx")); };
    o[58] = [](Call& call) {
        auto m = call.db().query_one("SELECT * FROM messages WHERE msgidx=?", { call.num("msgidx") });
        if (m.is_null())
            return Reply::refuse(k_not_found);
        call.db().exec("UPDATE messages SET readyn='Y' WHERE msgidx=?", { call.num("msgidx") });
        m["idate"] = local_time_text(m["idate"].get<long long>(), "%Y-%m-%d %H:%M");
        return Reply::ok(m);
    };
    o[40] = [](Call& call) { return Reply::ok({ { "promotions", rows(call, "SELECT * FROM promotions WHERE storeidx=?", { call.storeidx }) } }); };
    o[41] = [](Call& call) {
        if (call.str("title").empty() || !is_number(call.str("dcrate"), 3))
            return Reply::refuse("입력값이 올바르지 않습니다");
        std::vector<Json> p { call.str("title"), call.num("dcrate"), call.str("startdate"), call.str("enddate"), call.str("isactive", "Y") };
        if (call.num("promoidx") > 0) {
            p.push_back(call.num("promoidx"));
            p.push_back(call.storeidx);
            if (!call.db().exec("UPDATE promotions SET title=?, dcrate=?, startdate=?, enddate=?, isactive=? WHERE promoidx=? AND storeidx=?", p))
                return Reply::refuse(k_not_found);
        } else {
            p.insert(p.begin(), call.storeidx);
            call.db().exec("INSERT INTO promotions (storeidx, title, dcrate, startdate, enddate, isactive) VALUES (?,?,?,?,?,?)", p);
        }
        return Reply::ok({ { "ok", true } });
    };
    o[42] = [](Call& call) {
        long long n = call.db().exec("DELETE FROM promotions WHERE promoidx=? AND storeidx=?", { call.num("promoidx"), call.storeidx });
        return n ? Reply::ok({ { "ok", true } }) : Reply::refuse(k_not_found);
    };
    o[88] = [](Call& call) {
        return Reply::ok({ { "qna", dated(rows(call, std::string("SELECT q.*, COALESCE(p.pname,'') AS pname FROM qna q LEFT JOIN products p ON p.productidx=q.productidx WHERE q.storeidx=?")
                                                   + (call.str("unanswered") == "1" ? " AND q.answer=''" : "") + " ORDER BY q.idate DESC",
                                             { call.storeidx })) } });
    };
    o[89] = field_update("qna", "qnaidx", "qnaidx", "answer", "answer", false);

    // The online mall.
    o[60] = [](Call& call) {
        // The newest 100 of a status (0: every status), which keeps the answer small.
        Json list = rows(call, "SELECT * FROM mall_orders WHERE storeidx=? AND (?=0 OR status=?) ORDER BY buyidx DESC LIMIT 100",
            { call.storeidx, call.num("status"), call.num("status") });
        for (auto& r : list)
            r["idate"] = local_time_text(r["idate"].get<long long>(), "%Y-%m-%d %H:%M");
        return Reply::ok({ { "list", list } });
    };
    o[61] = [](Call& call) {
        long long status = call.num("status", -1);
        if (status < 1 || status > 3)
            return Reply::refuse("주문 상태 값이 올바르지 않습니다");
        long long n = call.db().exec("UPDATE mall_orders SET status=? WHERE buyidx=? AND storeidx=? AND status<>4", { status, call.num("buyidx"), call.storeidx });
        return n ? Reply::ok({ { "ok", true }, { "status", status }, { "msg", "주문 상태를 바꿨습니다" } }) : Reply::refuse(k_not_found);
    };
    o[62] = [](Call& call) {
        Json list = rows(call, "SELECT * FROM mall_orders WHERE storeidx=? AND status=4 ORDER BY buyidx DESC LIMIT 100", { call.storeidx });
        for (auto& r : list)
            r["idate"] = local_time_text(r["idate"].get<long long>(), "%Y-%m-%d %H:%M");
        return Reply::ok({ { "list", list } });
    };
    o[63] = [](Call& call) {
        long long n = call.db().exec("UPDATE mall_orders SET status=4 WHERE buyidx=? AND storeidx=? AND status IN (1,2)", { call.num("buyidx"), call.storeidx });
        return n ? Reply::ok({ { "ok", true } }) : Reply::refuse("취소할 수 없는 주문입니다");
    };
    o[65] = [](Call& call) {
        if (call.str("courier").empty() || call.str("invoiceno").empty())
            return Reply::refuse("택배사와 송장번호를 넣어 주세요");
        long long n = call.db().exec("UPDATE mall_orders SET courier=?, invoiceno=?, couriercode=?, memo=?, status=2 WHERE buyidx=? AND storeidx=? AND status IN (1,2)",
            { call.str("courier"), call.str("invoiceno"), call.str("couriercode"), call.str("memo"), call.num("buyidx"), call.storeidx });
        return n ? Reply::ok({ { "ok", true }, { "msg", "송장을 저장했습니다" } }) : Reply::refuse(k_not_found);
    };
    o[84] = [](Call& call) {
        return Reply::ok({ { "claims", dated(rows(call, "SELECT c.*, m.pname, m.buyer, m.qty, m.amount FROM claims c JOIN mall_orders m ON m.buyidx=c.buyidx WHERE c.storeidx=? ORDER BY claimidx DESC",
                                                { call.storeidx })) } });
    };
    o[85] = [](Call& call) {
        std::string action = call.str("action");
        if (action != "approve" && action != "reject")
            return Reply::refuse("처리 방법이 올바르지 않습니다");
        long long n = call.db().exec("UPDATE claims SET status=?, rejectreason=? WHERE claimidx=? AND storeidx=?",
            { action == "approve" ? "approved" : "rejected", call.str("rejectreason"), call.num("claimidx"), call.storeidx });
        return n ? Reply::ok({ { "ok", true } }) : Reply::refuse(k_not_found);
    };
}

} // namespace tillbay::platform

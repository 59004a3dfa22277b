// Sign-in, tokens, passwords, the dashboard and the cancellation policy.

#include "tools/platform/commands.h"
#include "tools/platform/pcrypto.h"

#include <ctime>

namespace tillbay::platform {

namespace {

// Tokens last a working day; a POS signs in again after that.
constexpr long long k_token_lifetime_s = 16 * 3600;

constexpr char k_wrong_login[] = "아이디 또는 비밀번호가 맞지 않습니다";

bool password_matches(Json const& account, std::string const& password)
{
    return sha256_hex(account["salt"].get<std::string>() + ":" + password) == account["pwhash"].get<std::string>();
}

void set_password(Db& db, long long useridx, std::string const& password)
{
    std::string salt = random_hex(8);
    db.exec("UPDATE accounts SET salt=?, pwhash=? WHERE useridx=?", { salt, sha256_hex(salt + ":" + password), useridx });
}

std::string issue_token(Db& db, long long useridx, long long storeidx, std::string const& role)
{
    std::string token = random_hex(20);
    db.exec("DELETE FROM tokens WHERE expires<?", { now_seconds() });
    db.exec("INSERT INTO tokens (token, useridx, storeidx, role, expires) VALUES (?,?,?,?,?)",
        { token, useridx, storeidx, role, now_seconds() + k_token_lifetime_s });
    return token;
}

Reply staff_sign_in(Call& call)
{
    auto account = call.db().query_one("SELECT * FROM accounts WHERE loginid=? AND role='staff' AND useyn='Y'", { call.str("id") });
    if (account.is_null() || !password_matches(account, call.str("pw")))
        return Reply::refuse(k_wrong_login);
    long long storeidx = account["storeidx"];
    auto store = call.db().query_one("SELECT shopname FROM stores WHERE storeidx=?", { storeidx });
    std::string token = issue_token(call.db(), account["useridx"], storeidx, "staff");
    return Reply::ok({ { "storeidx", storeidx }, { "useridx", account["useridx"] }, { "shopname", store["shopname"] },
        { "name", account["name"] }, { "token", token } });
}

Reply owner_token(Call& call)
{
    return Reply::ok({ { "token", issue_token(call.db(), call.caller, call.storeidx, "owner") } });
}

Reply store_info(Call& call)
{
    auto store = call.db().query_one("SELECT storeidx, shopname, tel, address, tablecount, storetype, openstatus FROM stores WHERE storeidx=?",
        { call.storeidx });
    if (store.is_null())
        return Reply::refuse("매장 정보를 찾지 못했습니다");
    return Reply::ok(store);
}

Reply dashboard(Call& call)
{
    auto& db = call.db();
    // Today's figures start at local midnight: the store's past orders
    // from yesterday evening are not today's.
    std::time_t t = static_cast<std::time_t>(now_seconds());
    std::tm tm {};
    localtime_r(&t, &tm);
    tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
    tm.tm_isdst = -1;
    long long day_start = static_cast<long long>(std::mktime(&tm));
    auto store = db.query_one("SELECT shopname, storetype, openstatus, tablecount, tel, address, bizname, biznumber FROM stores WHERE storeidx=?",
        { call.storeidx });
    Json j = store;
    // The shop's details for the store-manager page.
    for (char const* name : { "bankname", "bankuser", "banknumber", "smscomment", "deliveryfee", "deliveryfree" }) {
        auto row = db.query_one("SELECT value FROM settings WHERE storeidx=? AND name=?", { call.storeidx, name });
        j[name] = row.is_null() ? "" : row["value"].get<std::string>();
    }
    j["storeidx"] = call.storeidx;
    j["todaycount"] = db.query_int("SELECT COUNT(*) FROM orders WHERE storeidx=? AND idate>? AND status<>4 AND mergedinto=0", { call.storeidx, day_start });
    j["todayamount"] = db.query_int("SELECT COALESCE(SUM(payamount),0) FROM orders WHERE storeidx=? AND paydate>? AND status<>4", { call.storeidx, day_start });
    j["waiting"] = db.query_int("SELECT COUNT(*) FROM orders WHERE storeidx=? AND status IN (0,1) AND mergedinto=0", { call.storeidx });
    j["cooking"] = db.query_int("SELECT COUNT(*) FROM orders WHERE storeidx=? AND status=2 AND mergedinto=0", { call.storeidx });
    j["reviewcount"] = db.query_int("SELECT COUNT(*) FROM reviews WHERE storeidx=?", { call.storeidx });
    j["noreply"] = db.query_int("SELECT COUNT(*) FROM reviews WHERE storeidx=? AND reply=''", { call.storeidx });
    j["unreadmessages"] = db.query_int("SELECT COUNT(*) FROM messages WHERE readyn='N'");
    j["mallwaiting"] = db.query_int("SELECT COUNT(*) FROM mall_orders WHERE storeidx=? AND status=1", { call.storeidx });
    return Reply::ok(j);
}

bool valid_new_password(std::string const& pw, size_t min, size_t max)
{
    if (pw.size() < min || pw.size() > max)
        return false;
    for (unsigned char c : pw)
        if (c < 33 || c > 126 || std::string_view("&=<>%+\"'\\").find(static_cast<char>(c)) != std::string_view::npos)
            return false;
    return true;
}

Reply store_password_change(Call& call)
{
    auto owner = call.db().query_one("SELECT * FROM accounts WHERE useridx=?", { call.caller });
    if (!password_matches(owner, call.str("oldpassword")))
        return Reply::refuse("사장님 비밀번호가 맞지 않습니다", "9822");
    std::string pw = call.str("newpassword");
    if (!valid_new_password(pw, 4, 20))
        return Reply::refuse("새 비밀번호는 4~20자, 영문·숫자·기호만 쓸 수 있습니다");
    auto staff = call.db().query("SELECT useridx FROM accounts WHERE storeidx=? AND role='staff'", { call.storeidx });
    for (auto const& s : staff) {
        set_password(call.db(), s["useridx"], pw);
        call.db().exec("DELETE FROM tokens WHERE useridx=?", { s["useridx"] });
    }
    return Reply::ok({ { "ok", true } });
}

Reply cancel_policy(Call& call)
{
    auto store = call.db().query_one("SELECT cancelpolicy, cancelpin FROM stores WHERE storeidx=?", { call.storeidx });
    return Reply::ok({ { "policy", store["cancelpolicy"] }, { "haspin", store["cancelpin"].get<std::string>().empty() ? 0 : 1 } });
}

Reply set_cancel_policy(Call& call)
{
    if (call.role != "owner")
        return Reply::refuse("사장님(가맹점) 로그인 뒤에 바꿀 수 있습니다");
    long long policy = call.num("policy", -1);
    if (policy < 0 || policy > 3)
        return Reply::refuse("취소 정책 값이 올바르지 않습니다");
    std::string pin = call.str("pin");
    if (!pin.empty()) {
        bool digits = pin.size() >= 4 && pin.size() <= 6;
        for (char c : pin)
            digits = digits && c >= '0' && c <= '9';
        if (!digits)
            return Reply::refuse("PIN 은 4~6자리 숫자입니다");
        call.db().exec("UPDATE stores SET cancelpin=? WHERE storeidx=?", { pin, call.storeidx });
    }
    call.db().exec("UPDATE stores SET cancelpolicy=? WHERE storeidx=?", { policy, call.storeidx });
    return cancel_policy(call);
}

} // namespace

Reply owner_sign_in(Call& call)
{
    auto account = call.db().query_one("SELECT * FROM accounts WHERE loginid=? AND role='owner' AND useyn='Y'", { call.str("id") });
    if (account.is_null() || !password_matches(account, call.str("password")))
        return Reply::refuse(k_wrong_login);
    // Every owner sign-in gets a fresh device key; the previous one stops working.
    std::string devkey = random_hex(32);
    std::string deviv = random_hex(16);
    call.db().exec("UPDATE accounts SET devkey=?, deviv=? WHERE useridx=?", { devkey, deviv, account["useridx"] });
    return Reply::ok({ { "devkey", devkey }, { "deviv", deviv }, { "idx", std::to_string(account["useridx"].get<long long>()) },
        { "storeidx", std::to_string(account["storeidx"].get<long long>()) }, { "name", account["name"] },
        { "nickname", account["nickname"] } });
}

Reply owner_password_change(Call& call)
{
    auto owner = call.db().query_one("SELECT * FROM accounts WHERE useridx=?", { call.caller });
    if (owner.is_null() || !password_matches(owner, call.str("oldpw")))
        return Reply::refuse("지금 비밀번호가 맞지 않습니다", "9822");
    std::string pw = call.str("newpw");
    if (!valid_new_password(pw, 8, 30))
        return Reply::refuse("새 비밀번호는 8~30자, 영문·숫자·기호만 쓸 수 있습니다");
    if (pw == call.str("oldpw"))
        return Reply::refuse("지금 비밀번호와 같습니다");
    set_password(call.db(), call.caller, pw);
    return Reply::ok({ { "ok", true } });
}

void register_login_commands(CommandTables& t)
{
    t.store[100] = staff_sign_in;
    t.store[53] = store_info;
    t.store[136] = set_cancel_policy;
    t.store[137] = cancel_policy;
    t.owner[91] = owner_token;
    t.owner[55] = dashboard;
    t.owner[7] = store_password_change;
}

} // namespace tillbay::platform

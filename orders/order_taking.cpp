#include "orders/order_taking.h"

#include "base/ascii.h"
#include "foundation/json_text.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "orders/order_json.h"
#include "session/session.h"

namespace tillbay::orders {

namespace {

// The text with its one "%d" or "%ld" replaced by the number.
std::string with_number(std::string_view text, long long number)
{
    std::string out(text);
    for (std::string_view mark : { "%ld", "%d" }) {
        size_t at = out.find(mark);
        if (at != std::string::npos)
            return out.replace(at, mark.size(), std::to_string(number));
    }
    return out;
}

// A field of the server's answer as text, whether it came as a string or a
// number, at most size - 1 bytes.
std::string text_of(std::string_view data, std::string_view key, size_t size)
{
    std::string out;
    if (json::text_field(data, key, out, size))
        return out;
    int number = json::int_field(data, key, -1);
    return number >= 0 ? std::to_string(number) : std::string {};
}

// Decimal orderidx values separated by commas: digits and commas kept, at
// most the given length.
std::string digits_and_commas(std::string_view text, size_t limit)
{
    std::string out;
    for (char c : text) {
        if (out.size() >= limit)
            break;
        if ((c >= '0' && c <= '9') || c == ',')
            out += c;
    }
    return out;
}

// The positive numbers of a comma-separated list.
std::vector<int> order_list(std::string_view text)
{
    std::vector<int> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string_view::npos)
            end = text.size();
        int value = ascii::leading_int(text.substr(start, end - start));
        if (value > 0)
            out.push_back(value);
        start = end + 1;
    }
    return out;
}

std::string store_part() { return "&storeidx=" + std::to_string(session::storeidx()); }

} // namespace

TakingHooks TakingHooks::standard()
{
    TakingHooks hooks;
    hooks.store_call = [](std::string_view command) { return api::store_call(command); };
    hooks.journal = [](int storeidx) { return OrderJournal(paths::user_dir(), settings::server().host, storeidx); };
    hooks.server_host = [] { return settings::server().host; };
    hooks.merge_orders = [call = hooks.store_call](int target, std::string_view others) {
        return merge_orders_request(call, target, others);
    };
    return hooks;
}

Result<MergeOutcome> merge_orders_request(
    std::function<Result<api::StoreResult>(std::string_view)> const& store_call, int target, std::string_view others)
{
    auto answer = store_call("cmd=138" + store_part() + "&target=" + std::to_string(target) + "&sources=" + std::string(others));
    if (!answer.ok())
        return Error::with_message(answer.error().message.empty() ? taking_text::merge_unreachable : answer.error().message);
    if (!answer.value().accepted())
        return Error::with_message(answer.value().refusal(taking_text::merge_refused));
    MergeOutcome outcome;
    outcome.orderidx = target;
    outcome.mixed = json::int_field(answer.value().resultData, "mixed", 0);
    return outcome;
}

OrderTakingFamily::OrderTakingFamily(TakingHooks hooks)
    : m_hooks(std::move(hooks))
{
}

bridge::Runs OrderTakingFamily::runs(std::string_view name) const
{
    for (std::string_view mine : { "menucats", "menulist", "placeorder", "orderrequestforget", "payqrmake", "payqrfor",
             "payqrall", "qrextend", "qrwait" })
        if (name == mine)
            return bridge::Runs::OnLane;
    return bridge::Runs::OnUiThread;
}

bridge::Handled OrderTakingFamily::handle(bridge::Command const& command, bridge::Page& page)
{
    std::string_view name = command.name();
    if (name == "menucats")
        menu_categories(page);
    else if (name == "menulist")
        menu_list(command.arg(1), page);
    else if (name == "placeorder")
        place_order(command, page);
    else if (name == "orderrequestforget")
        forget_request(command.arg(1), page);
    else if (name == "payqrmake")
        pay_qr_make(command, page);
    else if (name == "payqrfor") {
        if (command.arg_count() == 0) {
            page.callback("setPayQr", pay_qr_failure);
            return bridge::Handled::Yes;
        }
        pay_qr_for(ascii::leading_int(command.arg(1)), command.arg(2) == "1",
            digits_and_commas(command.arg(3), max_other_orders), command.arg(4) == "1", page);
    } else if (name == "payqrall")
        pay_qr_all(command.arg(1), page);
    else if (name == "qrextend")
        qr_extend(ascii::leading_int(command.arg(1)), page);
    else if (name == "qrwait")
        qr_wait(ascii::leading_int(command.arg(1)), command.arg(2), page);
    else
        return bridge::Handled::No;
    return bridge::Handled::Yes;
}

void OrderTakingFamily::refresh(bridge::Page& page)
{
    if (m_hooks.refresh_orders)
        m_hooks.refresh_orders(page);
}

void OrderTakingFamily::menu_categories(bridge::Page& page)
{
    if (!session::staff_signed_in())
        return;
    auto answer = m_hooks.store_call("cmd=1" + store_part());
    if (!answer.ok() || !answer.value().accepted()) {
        page.status(answer.ok() ? answer.value().refusal(taking_text::menu_cats_failed) : taking_text::menu_cats_failed);
        page.callback("setMenuCats", json::quote(""));
        return;
    }
    page.callback("setMenuCats", json::quote(answer.value().resultData));
}

void OrderTakingFamily::menu_list(std::string_view category, bridge::Page& page)
{
    if (!session::staff_signed_in())
        return;
    int categoryidx = ascii::leading_int(category);
    if (categoryidx < 0)
        categoryidx = 0;
    std::string part = store_part() + "&categoryidx=" + std::to_string(categoryidx);
    std::string menus;
    std::string options;
    auto answer = m_hooks.store_call("cmd=2" + part);
    if (answer.ok() && answer.value().accepted()) {
        menus = answer.value().resultData;
        auto extra = m_hooks.store_call("cmd=3" + part);
        if (extra.ok() && extra.value().accepted())
            options = extra.value().resultData;
        else
            page.status(extra.ok() ? extra.value().refusal(taking_text::options_failed) : taking_text::options_failed);
    } else {
        page.status(answer.ok() ? answer.value().refusal(taking_text::menus_failed) : taking_text::menus_failed);
    }
    page.callback("setMenuList", std::to_string(categoryidx) + "," + json::quote(menus) + "," + json::quote(options));
}

void OrderTakingFamily::place_order(bridge::Command const& command, bridge::Page& page)
{
    std::string_view order = command.arg(1);
    std::string_view key = command.arg(2);
    std::string_view context = command.arg(3);
    auto answer = [&](int orderidx, std::string_view message) {
        page.callback("orderRequestResult", json::quote(key) + "," + std::to_string(orderidx) + "," + json::quote(message));
    };
    auto snapshot = session::snapshot();
    // The order is bound to the signed-in store before anything is kept or
    // sent; text that is not one JSON object comes from an outdated page.
    std::optional<std::string> prepared;
    if (valid_request_key(key) && !order.empty() && !context.empty())
        prepared = prepare_order_json(order, snapshot.storeidx);
    if (!prepared) {
        page.status(taking_text::page_outdated_toast);
        answer(0, taking_text::page_outdated);
        return;
    }
    if (!snapshot.staff_signed_in) {
        answer(0, taking_text::sign_in_again);
        return;
    }
    if (!m_hooks.journal(snapshot.storeidx).begin(key, order, context)) {
        answer(0, taking_text::journal_refused);
        return;
    }
    auto result = m_hooks.store_call("cmd=10&reqkey=" + std::string(key) + "&orderjson=" + *prepared);
    if (!result.ok()) {
        // The journal stays pending: the page may send the same key and
        // JSON again, and no other order goes until this one is settled.
        answer(0, taking_text::no_answer);
        return;
    }
    int orderidx = json::int_field(result.value().resultData, "orderidx", 0);
    if (!result.value().accepted() || orderidx < 1) {
        log::bridge("ORDER", "주문 결과가 올바르지 않다: " + result.value().resultCode + " " + result.value().message);
        answer(0, taking_text::unknown_result);
        return;
    }
    answer(orderidx, "");
    refresh(page);
}

void OrderTakingFamily::forget_request(std::string_view key, bridge::Page& page)
{
    bool forgotten = false;
    auto snapshot = session::snapshot();
    if (snapshot.staff_signed_in && (key.empty() || valid_request_key(key)))
        forgotten = m_hooks.journal(snapshot.storeidx).forget(key);
    page.callback("orderRequestForgot", json::quote(key) + "," + (forgotten ? "true" : "false"));
}

void OrderTakingFamily::send_request_context(bridge::Page& page)
{
    auto snapshot = session::snapshot();
    if (!snapshot.staff_signed_in)
        return;
    JournalEntry entry = m_hooks.journal(snapshot.storeidx).read();
    std::string host = m_hooks.server_host ? m_hooks.server_host() : std::string {};
    page.callback("setOrderRequestContext", json::quote(host) + "," + std::to_string(snapshot.storeidx) + ","
            + json::quote(entry.context) + "," + (entry.state == JournalState::Unreadable ? "true" : "false") + ",2,"
            + json::quote(entry.key));
}

void OrderTakingFamily::pay_qr_make(bridge::Command const& command, bridge::Page& page)
{
    if (command.arg_count() < 2) {
        page.callback("setPayQr", pay_qr_failure);
        return;
    }
    // A retry after a lost answer must reuse a key the server recognises,
    // so only a whole, valid key is taken.
    std::string_view key = command.arg(2);
    auto snapshot = session::snapshot();
    std::optional<std::string> prepared;
    if (valid_request_key(key))
        prepared = prepare_order_json(command.arg(1), snapshot.storeidx);
    if (!prepared || !snapshot.staff_signed_in) {
        page.status(prepared ? taking_text::sign_in_again : taking_text::page_outdated_toast);
        page.callback("setPayQr", pay_qr_failure);
        return;
    }
    auto placed = m_hooks.store_call("cmd=10&reqkey=" + std::string(key) + "&prepay=1&orderjson=" + *prepared);
    if (!placed.ok() || !placed.value().accepted()) {
        page.status(taking_text::qr_order_failed);
        page.callback("setPayQr", pay_qr_failure);
        return;
    }
    int orderidx = json::int_field(placed.value().resultData, "orderidx", 0);
    if (orderidx < 1) {
        page.status(taking_text::qr_no_orderidx);
        page.callback("setPayQr", pay_qr_failure);
        return;
    }
    auto token = m_hooks.store_call("cmd=131" + store_part() + "&orderidx=" + std::to_string(orderidx));
    std::string paytoken;
    if (token.ok() && token.value().accepted())
        paytoken = text_of(token.value().resultData, "paytoken", 64);
    if (paytoken.empty()) {
        page.callback("setPayQr",
            "{\"ok\":1,\"orderidx\":" + std::to_string(orderidx)
                + ",\"ordernum\":\"\",\"tablenum\":0,\"amount\":0,\"token\":\"\",\"fallback\":1}");
    } else {
        std::string const& data = token.value().resultData;
        page.callback("setPayQr",
            "{\"ok\":1,\"orderidx\":" + std::to_string(orderidx) + ",\"ordernum\":" + json::quote(text_of(data, "ordernum", 64))
                + ",\"tablenum\":" + std::to_string(json::int_field(data, "tablenum", 0))
                + ",\"amount\":" + std::to_string(json::int_field(data, "totalamount", 0)) + ",\"token\":" + json::quote(paytoken)
                + ",\"fallback\":0,\"expire\":" + json::quote(text_of(data, "expire", 40)) + "}");
    }
    refresh(page);
}

void OrderTakingFamily::pay_qr_for(int orderidx, bool mixed, std::string others, bool extend, bridge::Page& page)
{
    if (orderidx < 1 || !session::staff_signed_in()) {
        page.callback("setPayQr", pay_qr_failure);
        return;
    }
    std::string command = "cmd=131" + store_part() + "&orderidx=" + std::to_string(orderidx);
    if (extend)
        command += "&extend=1";
    bool grouped = !order_list(others).empty();
    if (grouped)
        command += "&orders=" + others;
    auto answer = m_hooks.store_call(command);
    if (!answer.ok() || !answer.value().accepted()) {
        page.status(answer.ok() ? answer.value().refusal(taking_text::qr_failed)
                                : (answer.error().message.empty() ? std::string(taking_text::qr_failed) : answer.error().message));
        page.callback("setPayQr", pay_qr_failure);
        return;
    }
    std::string const& data = answer.value().resultData;
    int groupcount = json::int_field(data, "groupcount", 0);
    if (grouped && groupcount == 0) {
        // A server without QR groups: the orders become one, which gets the QR.
        auto merged = m_hooks.merge_orders(orderidx, others);
        if (!merged.ok()) {
            page.status(merged.error().message);
            page.callback("setPayQr", pay_qr_failure);
            return;
        }
        page.status(with_number(taking_text::merged_old_server, 1 + static_cast<long long>(order_list(others).size())));
        refresh(page);
        pay_qr_for(merged.value().orderidx, merged.value().mixed != 0, {}, false, page);
        return;
    }
    std::string token = text_of(data, "paytoken", 64);
    if (token.empty()) {
        page.status(taking_text::qr_failed);
        page.callback("setPayQr", pay_qr_failure);
        return;
    }
    if (groupcount > 1)
        page.status(with_number(taking_text::grouped, groupcount));
    refresh(page);
    page.callback("setPayQr",
        "{\"ok\":1,\"orderidx\":" + std::to_string(orderidx) + ",\"ordernum\":" + json::quote(text_of(data, "ordernum", 64))
            + ",\"tablenum\":" + std::to_string(json::int_field(data, "tablenum", 0))
            + ",\"amount\":" + std::to_string(json::int_field(data, "totalamount", 0)) + ",\"token\":" + json::quote(token)
            + ",\"fallback\":0,\"kept\":1,\"mixed\":" + (mixed ? "1" : "0") + ",\"groupcount\":" + std::to_string(groupcount)
            + ",\"expire\":" + json::quote(text_of(data, "expire", 40)) + "}");
}

void OrderTakingFamily::pay_qr_all(std::string_view list, bridge::Page& page)
{
    std::vector<int> orders = order_list(list);
    if (orders.size() > max_order_list)
        orders.resize(max_order_list);
    if (orders.empty()) {
        page.callback("setPayQr", pay_qr_failure);
        return;
    }
    std::string others;
    for (size_t i = 1; i < orders.size(); ++i) {
        if (!others.empty())
            others += ',';
        others += std::to_string(orders[i]);
    }
    pay_qr_for(orders[0], false, digits_and_commas(others, max_other_orders), false, page);
}

void OrderTakingFamily::qr_extend(int orderidx, bridge::Page& page)
{
    bool ok = false;
    std::string expire;
    if (orderidx > 0 && session::staff_signed_in()) {
        auto answer = m_hooks.store_call("cmd=131" + store_part() + "&orderidx=" + std::to_string(orderidx) + "&extend=1");
        ok = answer.ok() && answer.value().accepted();
        if (ok)
            expire = text_of(answer.value().resultData, "expire", 40);
        else
            page.status(answer.ok() ? answer.value().refusal(taking_text::qr_failed) : taking_text::qr_failed);
    }
    page.callback("setQrExtend", std::string("{'ok':") + (ok ? "1" : "0") + ",'orderidx':" + std::to_string(orderidx)
            + ",'expire':" + json::quote(expire) + "}");
}

void OrderTakingFamily::qr_wait(int orderidx, std::string_view state, bridge::Page& page)
{
    bool on = state == "on";
    bool ok = false;
    int expire = 0;
    if (orderidx > 0 && session::staff_signed_in()) {
        auto answer = m_hooks.store_call("cmd=139" + store_part() + "&orderidx=" + std::to_string(orderidx) + "&act="
            + (on ? "on" : "off") + "&ttl=60");
        ok = answer.ok() && answer.value().accepted();
        if (ok)
            expire = json::int_field(answer.value().resultData, "expire", 0);
    }
    page.callback("setQrWait", std::string("{'ok':") + (ok ? "1" : "0") + ",'orderidx':" + std::to_string(orderidx)
            + ",'on':" + (on ? "1" : "0") + ",'expire':" + std::to_string(expire) + "}");
}

} // namespace tillbay::orders

#include "orders/order_board.h"

#include "door/door_state.h"
#include "foundation/json_text.h"
#include "orders/kitchen_filter.h"
#include "session/session.h"

#include <chrono>

namespace tillbay::orders {

BoardHooks BoardHooks::standard()
{
    BoardHooks hooks;
    hooks.store_call = [](std::string_view command) { return api::store_call(command); };
    hooks.now_ms = [] {
        return static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
    };
    return hooks;
}

OrderBoard::OrderBoard(BoardHooks hooks)
    : m_hooks(std::move(hooks))
{
}

bool OrderBoard::refresh(bridge::Page& page)
{
    auto signin = session::snapshot();
    if (!signin.staff_signed_in)
        return false;
    auto answer = m_hooks.store_call("cmd=110&storeidx=" + std::to_string(signin.storeidx));
    if (!answer.ok() || !answer.value().accepted() || session::epoch() != signin.epoch)
        return false;
    api::StoreResult const& result = answer.value();

    page.callback("setOrderList", json::quote(result.resultData));
    door::set_kitchen_list(kitchen_filter(result.resultData));
    if (m_hooks.kitchen_printing)
        m_hooks.kitchen_printing(signin.storeidx, result.resultData, page);
    today_summary(result.resultData, page);
    return true;
}

void OrderBoard::today_summary(std::string const& list_text, bridge::Page& page)
{
    uint64_t now = m_hooks.now_ms();
    bool changed = !m_summary_asked || list_text != m_summary_list;
    if (!changed && now - m_summary_at <= summary_interval_ms)
        return;
    // Stamped before the request, whatever comes of it, so that a failing
    // summary is tried at most once a minute while the list stays the same.
    m_summary_list = list_text;
    m_summary_at = now;
    m_summary_asked = true;
    if (!session::staff_signed_in())
        return;
    auto answer = m_hooks.store_call("cmd=133&storeidx=" + std::to_string(session::storeidx()));
    if (!answer.ok() || !answer.value().accepted())
        return;
    api::StoreResult const& result = answer.value();
    int count = json::int_field(result.resultData, "count", -1);
    int amount = json::int_field(result.resultData, "amount", -1);
    if (count < 0 || amount < 0)
        return;
    page.callback("setTodaySummary", std::to_string(count) + "," + std::to_string(amount));
}

void OrderBoard::detail(int orderidx, bridge::Page& page)
{
    if (!session::staff_signed_in())
        return;
    std::string command = "cmd=111&storeidx=" + std::to_string(session::storeidx()) + "&orderidx=" + std::to_string(orderidx);
    std::string error_head = "{\"error\":1,\"orderidx\":" + std::to_string(orderidx) + ",\"msg\":";
    auto answer = m_hooks.store_call(command);
    if (!answer.ok()) {
        page.status(text_detail_failed);
        page.callback("setOrderDetail", error_head + json::quote(text_detail_unreachable) + "}");
        return;
    }
    api::StoreResult const& result = answer.value();
    if (!result.accepted()) {
        std::string text = result.refusal(text_detail_failed);
        page.status(text);
        page.callback("setOrderDetail", error_head + json::quote(text) + "}");
        return;
    }
    page.callback("setOrderDetail", json::quote(result.resultData));
}

void OrderBoard::table_count(bridge::Page& page)
{
    if (!session::staff_signed_in())
        return;
    auto answer = m_hooks.store_call("cmd=112&storeidx=" + std::to_string(session::storeidx()));
    if (!answer.ok())
        return;
    api::StoreResult const& result = answer.value();
    // The result code is not looked at: a refusal has neither field and shows no tables.
    int tables = json::int_field(result.resultData, "tablenum", -1);
    if (tables < 0)
        tables = json::int_field(result.resultData, "tablecount", 0);
    if (tables < 0)
        tables = 0;
    page.callback("setTableCount", std::to_string(tables));
}

void OrderBoard::run_action(std::string_view request, std::optional<std::string_view> success_message, bridge::Page& page)
{
    auto answer = m_hooks.store_call(request);
    if (!answer.ok())
        page.status(answer.error().message.empty() ? std::string(text_list_failed) : answer.error().message);
    else if (!answer.value().accepted())
        page.status(answer.value().refusal(text_list_failed));
    else if (success_message)
        page.status(*success_message);
    refresh(page);
}

} // namespace tillbay::orders

#include "orders/order_board.h"

#include "door/door_state.h"
#include "foundation/json_text.h"
#include "foundation/log.h"
#include "orders/kept_board.h"
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
    hooks.wall_ms = [] {
        return static_cast<int64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count());
    };
    hooks.keep = keep_board;
    hooks.read_kept = read_kept_board;
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
    if (session::epoch() != signin.epoch)
        return false;
    // No answer at all is an outage; a refusal is the server's word and
    // changes nothing.
    if (!answer.ok()) {
        enter_outage(signin.storeidx, page);
        return false;
    }
    if (!answer.value().accepted())
        return false;
    api::StoreResult const& result = answer.value();

    if (m_offline.exchange(false)) {
        log::bridge("ORDER", "플랫폼 연결이 돌아와 주문 목록을 다시 받았다");
        page.callback("setBoardOnline", "");
    }
    page.callback("setOrderList", json::quote(result.resultData));
    if (m_hooks.keep && m_hooks.wall_ms) {
        if (auto kept = m_hooks.keep(signin.storeidx, result.resultData, m_hooks.wall_ms()); !kept)
            log::bridge("ORDER", "주문 목록을 보관하지 못했다 — " + kept.error().detail);
    }
    door::set_kitchen_list(kitchen_filter(result.resultData));
    if (m_hooks.kitchen_printing)
        m_hooks.kitchen_printing(signin.storeidx, result.resultData, page);
    today_summary(result.resultData, page);
    return true;
}

void OrderBoard::enter_outage(int storeidx, bridge::Page& page)
{
    if (!m_offline.exchange(true))
        log::bridge("ORDER", "플랫폼에 닿지 못해 보관한 주문 목록을 읽기 전용으로 보인다");
    if (!show_kept(storeidx, page))
        page.callback("setBoardOffline", "0");
}

bool OrderBoard::show_kept(int storeidx, bridge::Page& page)
{
    auto kept = this->kept(storeidx);
    if (!kept)
        return false;
    page.callback("setOrderList", json::quote(kept->list_text));
    page.callback("setBoardOffline", std::to_string(kept->fetched_at_ms));
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

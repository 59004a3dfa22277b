#pragma once

// The order board: the store's current orders as the platform server has
// them. The native side keeps no model of its own; it passes the server's
// JSON to the page unchanged and reads only what the kitchen needs. Every
// list it fetches also feeds the kitchen list cache (served to the kitchen
// display by the tablet door) and automatic kitchen-ticket printing.
//
// Its requests block for as long as the server takes, so everything here
// runs on the command lane, one request at a time; the page answers travel
// back to the UI thread through the Page.

#include "bridge/family.h"
#include "server/api.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::orders {

// The day's summary is asked for again at most this often while the list stays the same.
inline constexpr uint64_t summary_interval_ms = 60'000;

inline constexpr char const* text_detail_failed = "주문 상세를 받지 못했습니다";
inline constexpr char const* text_detail_unreachable = "내역을 받지 못했습니다 — 서버에 닿지 못했습니다";
inline constexpr char const* text_list_failed = "주문 목록을 받지 못했습니다";

struct BoardHooks {
    // Sends a store command; fails with the user's text when no answer came.
    std::function<Result<api::StoreResult>(std::string_view command)> store_call;
    // Milliseconds of a monotonic clock, for the summary throttle.
    std::function<uint64_t()> now_ms;
    // Gets every fetched list with its store (automatic kitchen-ticket
    // printing decides by itself whether it holds anything to print); may be
    // empty.
    std::function<void(int storeidx, std::string_view list_text, bridge::Page& page)> kitchen_printing;

    // The real API call and the monotonic clock.
    static BoardHooks standard();
};

class OrderBoard {
public:
    explicit OrderBoard(BoardHooks hooks = BoardHooks::standard());

    // Reloads the board: setOrderList, the kitchen list cache, kitchen
    // printing and, throttled, setTodaySummary. True when the list was
    // fetched and accepted. A failure changes nothing and shows nothing, and
    // so does a list that arrives after the sign-in it was asked for ended.
    bool refresh(bridge::Page& page);

    // setOrderDetail with the detail, or with an error object the page can
    // leave its loading state on.
    void detail(int orderidx, bridge::Page& page);

    // setTableCount.
    void table_count(bridge::Page& page);

    // Sends one order request, reports its outcome in the status message
    // (success_message only when the server accepted it) and reloads the
    // board whatever happened, so the page shows the server's state.
    void run_action(std::string_view request, std::optional<std::string_view> success_message, bridge::Page& page);

    // Set once at start-up, before the first list.
    void set_kitchen_printing(decltype(BoardHooks::kitchen_printing) hook) { m_hooks.kitchen_printing = std::move(hook); }

private:
    void today_summary(std::string const& list_text, bridge::Page& page);

    BoardHooks m_hooks;
    // The list that last led to a summary request, and when it was made.
    std::string m_summary_list;
    uint64_t m_summary_at = 0;
    bool m_summary_asked = false;
};

} // namespace tillbay::orders

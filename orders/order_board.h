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
//
// When the platform cannot be reached, the board keeps showing the last list
// it had (kept per store in the per-user folder, so a restart during the
// outage still has it) under the banner "연결 끊김 — HH:MM 기준"; the page
// disables its actions meanwhile. The first list fetched again removes the
// banner.

#include "bridge/family.h"
#include "orders/kept_board.h"
#include "server/api.h"

#include <atomic>
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
    // Milliseconds since the epoch, for the time a kept list was fetched.
    std::function<int64_t()> wall_ms;
    // Keeps a fetched list and reads it back (the per-user file); either may
    // be empty, and nothing is kept.
    std::function<Status(int storeidx, std::string_view list_text, int64_t fetched_at_ms)> keep;
    std::function<std::optional<KeptBoard>(int storeidx)> read_kept;

    // The real API call, the clocks and the per-user file.
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

    // True while the platform cannot be reached: the page shows the kept
    // list read-only with the outage banner, and the program keeps trying.
    bool offline() const { return m_offline.load(); }

    // The kept list of a store with the outage banner, for a page opened
    // while the platform cannot be reached (after a restart, before any
    // sign-in). False when nothing is kept for the store.
    bool show_kept(int storeidx, bridge::Page& page);
    // The list kept for a store, if any.
    std::optional<KeptBoard> kept(int storeidx) const
    {
        return m_hooks.read_kept ? m_hooks.read_kept(storeidx) : std::nullopt;
    }

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
    void enter_outage(int storeidx, bridge::Page& page);

    BoardHooks m_hooks;
    // The list that last led to a summary request, and when it was made.
    std::string m_summary_list;
    uint64_t m_summary_at = 0;
    bool m_summary_asked = false;
    std::atomic<bool> m_offline { false };
};

} // namespace tillbay::orders

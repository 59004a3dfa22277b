#pragma once

// Kitchen tickets as the counter runs them: automatically for each new order
// (or each newly paid one, by the style's `when`), once per order, with at
// most three attempts when the printer fails; by hand from the order screen
// ("(재출력)" when printed before); as cancel and modified tickets for the
// order actions; and as the kitchen printer's test sample.
//
// Which order got which ticket is kept in the print journal of the store,
// marked owed before a ticket goes to the print queue and printed the moment
// the printer has its last byte (on the print worker, one small append), so
// a restart neither loses nor repeats a ticket. A store without
// a journal (first start, a new PC) takes the orders of its first list as
// already handled.
//
// Lists and manual prints arrive on the command lane, print results on the
// UI thread; the bookkeeping sits behind one lock that is never held across
// a server call.

#include "base/result.h"
#include "bridge/family.h"
#include "printing/kitchen_journal.h"
#include "printing/kitchen_ticket.h"
#include "printing/printer_settings.h"
#include "server/api.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tillbay::printing {

inline constexpr int max_ticket_attempts = 3;
inline constexpr uint64_t menu_order_max_age_ms = 600'000;
inline constexpr size_t max_menu_categories = 200;
inline constexpr size_t max_menu_order_entries = 5000;

namespace kitchen_text {
inline constexpr char const* fetch_failed = "주문표 정보를 받지 못했습니다";
inline constexpr char const* no_lines = "조리할 메뉴가 없는 주문입니다 (간편결제)";
inline constexpr char const* printer_none = "주방 프린터가 없음으로 설정되어 있어 주문표를 인쇄하지 않았습니다";
inline constexpr char const* build_failed = "주문표 내용을 만들지 못했습니다";
} // namespace kitchen_text

struct KitchenHooks {
    std::function<Result<api::StoreResult>(std::string_view command)> store_call;
    std::function<Status(PrinterRecord const&, std::string_view bytes, long long tag)> print;
    std::function<KitchenRecord()> kitchen_record;
    std::function<KitchenStyle()> style;
    std::function<std::time_t()> now;
    std::function<uint64_t()> now_ms;
    // The journal file of a store on the configured server; empty keeps the
    // journal in memory only.
    std::function<std::string(int storeidx)> journal_path;
    // A line for the bridge log under the tag "KOT".
    std::function<void(std::string const&)> log;

    static KitchenHooks standard();
};

class KitchenPrinting {
public:
    explicit KitchenPrinting(KitchenHooks hooks = KitchenHooks::standard());

    // The order's ticket record (store command 111), or nothing.
    std::optional<TicketRecord> fetch(int orderidx);

    // Prints a fetched record. explicit_request: the staff asked for it (not
    // tracked, not retried, told when the kitchen printer is "none").
    bool print_record(TicketRecord record, TicketKind kind, std::time_t pickup, bool explicit_request, bridge::Page& page);

    // Automatic printing for a freshly fetched order list of the store.
    void on_list(int storeidx, std::string_view list_text, bridge::Page& page);

    // The printer has taken an automatic ticket's last byte (tag = orderidx);
    // on the print worker, before the outcome.
    void accepted(int orderidx);
    // The print queue's outcome of an automatic ticket (tag = orderidx).
    void confirmed(int orderidx);
    // The toast to show when the third attempt has failed.
    std::optional<std::string> failed(int orderidx);

    // `printticket`: kind 2 for an order printed before, else 0.
    void printticket(int orderidx, std::time_t pickup, bridge::Page& page);
    // `printkitchentest`.
    void printkitchentest(bridge::Page& page);
    // The reprint log line of an order ("" when never printed).
    std::string print_log(int orderidx);

private:
    struct Retry {
        TicketKind kind = TicketKind::Order;
        std::time_t pickup = 0;
        int failures = 0;
        bool retry = false;
    };
    struct ListEntry {
        int orderidx = 0;
        int tablenum = 0;
        std::time_t pickup = 0;
        int paystatus = 1;
    };

    bool print_order(int orderidx, TicketKind kind, std::time_t pickup, bool explicit_request, bridge::Page& page);
    void sort_lines(TicketRecord& record);
    void refresh_menu_order(int storeidx);
    // Locked: the journal of the store, loaded when the store changed.
    void use_store(int storeidx);
    void save();
    // Locked part of a failure; the toast when the attempts are used up.
    std::optional<std::string> failed_locked(int orderidx);

    KitchenHooks m_hooks;
    std::mutex m_lock;
    int m_store = 0;           // the store the state belongs to; 0 before the first list
    bool m_fresh = false;      // the store had no journal: its first list counts as handled
    std::string m_path;
    Journal m_journal;
    std::map<int, Retry> m_retries;
    bool m_last_failed = false; // guarded by the lane: only on_list and the prints set it

    // The marks beside the journal. Taken after m_lock when both are held;
    // the printed mark takes only this one, so it never waits for a journal
    // replacement.
    std::mutex m_marks_lock;
    std::string m_marks_path;
    // Automatic tickets handed to the queue with no outcome yet: whether the
    // printed mark was written. The marks file goes only while this is empty.
    std::map<int, bool> m_handed;

    // Menu name → sort position, with the store and time of its building.
    std::unordered_map<std::string, long long> m_menu_order;
    int m_menu_store = 0;
    uint64_t m_menu_built = 0;
};

// `printticket` in the `order` slot and `printkitchentest` in the `pc` slot;
// both on the command lane.
class KitchenFamily final : public bridge::Family {
public:
    explicit KitchenFamily(KitchenPrinting& kitchen)
        : m_kitchen(kitchen)
    {
    }
    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override;
    bridge::Runs runs(std::string_view name) const override;

private:
    KitchenPrinting& m_kitchen;
};

} // namespace tillbay::printing

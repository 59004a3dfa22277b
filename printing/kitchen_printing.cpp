#include "printing/kitchen_printing.h"

#include "base/ascii.h"
#include "foundation/json_text.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "os/fs.h"
#include "printing/connection_address.h"
#include "printing/json_reader.h"
#include "printing/print_queue.h"
#include "session/session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace tillbay::printing {

namespace {

namespace jr = json_reader;

bool is_printed(JournalEntry const& entry) { return entry.state != TicketState::Seen; }

bool tracked(TicketKind kind, bool explicit_request)
{
    return !explicit_request && (kind == TicketKind::Order || kind == TicketKind::Additional);
}

std::string format(char const* pattern, auto... values)
{
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, pattern, values...);
    return buffer;
}

} // namespace

KitchenHooks KitchenHooks::standard()
{
    KitchenHooks hooks;
    hooks.store_call = [](std::string_view command) { return api::store_call(command); };
    hooks.print = [](PrinterRecord const& record, std::string_view bytes, long long tag) {
        return printing::print(record, bytes, tag);
    };
    hooks.kitchen_record = [] { return read_kitchen_record(); };
    hooks.style = [] { return read_kitchen_style(); };
    hooks.now = [] { return std::time(nullptr); };
    hooks.now_ms = [] {
        return static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
    };
    hooks.journal_path = [](int storeidx) {
        auto const& server = settings::server();
        return printing::journal_path(server.host, server.port, storeidx);
    };
    hooks.log = [](std::string const& text) { log::bridge("KOT", text); };
    return hooks;
}

KitchenPrinting::KitchenPrinting(KitchenHooks hooks)
    : m_hooks(std::move(hooks))
{
}

std::optional<TicketRecord> KitchenPrinting::fetch(int orderidx)
{
    if (!session::staff_signed_in())
        return std::nullopt;
    auto answer = m_hooks.store_call(
        "cmd=111&storeidx=" + std::to_string(session::storeidx()) + "&orderidx=" + std::to_string(orderidx));
    if (!answer.ok() || !answer.value().accepted())
        return std::nullopt;
    return ticket_from_json(answer.value().resultData, orderidx);
}

void KitchenPrinting::save()
{
    if (m_path.empty())
        return;
    if (auto saved = save_journal(m_path, m_journal); !saved.ok()) {
        m_hooks.log("주문표 기록을 저장하지 못했습니다: " + saved.error().detail);
        return;
    }
    // The journal now holds every mark unless a ticket is still out (its
    // printed mark may come at any moment and is not in it yet).
    std::lock_guard marks(m_marks_lock);
    if (m_handed.empty())
        (void)remove_marks(m_path);
}

void KitchenPrinting::use_store(int storeidx)
{
    if (storeidx == m_store)
        return;
    m_store = storeidx;
    m_path = m_hooks.journal_path ? m_hooks.journal_path(storeidx) : std::string {};
    auto loaded = load_journal(m_path);
    m_fresh = !loaded;
    m_journal = loaded ? std::move(*loaded) : Journal {};
    {
        std::lock_guard marks(m_marks_lock);
        m_marks_path = m_path;
        m_handed.clear();
    }
    // The marks of the last run go into the journal itself.
    if (loaded && !m_path.empty() && os::file_exists(marks_path(m_path)))
        save();
    // Tickets handed to the printer and never confirmed were lost with the
    // queue of the program that handed them over: they are owed still.
    for (auto const& [orderidx, entry] : m_journal.orders) {
        if (entry.state == TicketState::Owed) {
            Retry& retry = m_retries[orderidx];
            retry.kind = entry.kind == 1 ? TicketKind::Additional : TicketKind::Order;
            retry.pickup = static_cast<std::time_t>(entry.pickup);
            retry.retry = true;
        }
    }
}

void KitchenPrinting::refresh_menu_order(int storeidx)
{
    uint64_t now = m_hooks.now_ms();
    if (storeidx == m_menu_store && !m_menu_order.empty() && now - m_menu_built < menu_order_max_age_ms)
        return;
    m_menu_store = storeidx;
    m_menu_built = now;
    auto answer = m_hooks.store_call("cmd=1&storeidx=" + std::to_string(storeidx));
    if (!answer.ok() || !answer.value().accepted())
        return;
    struct Category {
        long long idx;
        long long order;
    };
    std::vector<Category> categories;
    auto list = jr::elements(jr::member(answer.value().resultData, "categories").value_or(""));
    for (size_t i = 0; i < list.size() && i < max_menu_categories; ++i) {
        long long idx = jr::integer(jr::member(list[i], "idx"), 0);
        if (idx > 0)
            categories.push_back({ idx, jr::integer(jr::member(list[i], "ordernum"), static_cast<long long>(i)) });
    }
    std::stable_sort(categories.begin(), categories.end(), [](auto const& a, auto const& b) { return a.order < b.order; });
    std::unordered_map<std::string, long long> built;
    for (size_t p = 0; p < categories.size() && built.size() < max_menu_order_entries; ++p) {
        auto menus = m_hooks.store_call("cmd=2&storeidx=" + std::to_string(storeidx) + "&categoryidx="
            + std::to_string(categories[p].idx));
        if (!menus.ok() || !menus.value().accepted())
            continue;
        auto entries = jr::elements(jr::member(menus.value().resultData, "menus").value_or(""));
        for (size_t m = 0; m < entries.size() && built.size() < max_menu_order_entries; ++m) {
            std::string name = jr::text(jr::member(entries[m], "mname"), 127);
            if (!name.empty())
                built.emplace(std::move(name), static_cast<long long>(p) * 1000 + static_cast<long long>(m));
        }
    }
    if (!built.empty())
        m_menu_order = std::move(built);
}

void KitchenPrinting::sort_lines(TicketRecord& record)
{
    refresh_menu_order(session::storeidx());
    for (auto& line : record.lines) {
        if (auto it = m_menu_order.find(line.name); it != m_menu_order.end())
            line.sort_key = it->second;
    }
    std::stable_sort(record.lines.begin(), record.lines.end(),
        [](TicketLine const& a, TicketLine const& b) { return a.sort_key < b.sort_key; });
}

bool KitchenPrinting::print_record(TicketRecord record, TicketKind kind, std::time_t pickup, bool explicit_request,
    bridge::Page& page)
{
    if (record.lines.empty()) {
        if (kind != TicketKind::Cancel && kind != TicketKind::Modified)
            page.status(kitchen_text::no_lines);
        return false;
    }
    record.kind = kind;
    record.pickup = pickup;
    KitchenRecord kitchen = m_hooks.kitchen_record();
    if (printer_is_none(kitchen.record)) {
        if (explicit_request)
            page.status(kitchen_text::printer_none);
        return false;
    }
    KitchenStyle style = m_hooks.style();
    if (style.order == 1)
        sort_lines(record);
    auto document = build_ticket(kitchen.record, style, record, m_hooks.now());
    if (!document.ok() || document.value().bytes.empty()) {
        page.status(kitchen_text::build_failed);
        m_last_failed = true;
        return false;
    }
    bool track = tracked(kind, explicit_request) && record.orderidx > 0;
    if (track) {
        // Written before the hand-over: a crash from here on leaves the
        // ticket owed, and the next start prints it.
        std::lock_guard guard(m_lock);
        JournalEntry& entry = m_journal.orders[record.orderidx];
        entry.state = TicketState::Owed;
        entry.kind = kind == TicketKind::Additional ? 1 : 0;
        entry.pickup = pickup;
        std::lock_guard marks(m_marks_lock);
        m_handed[record.orderidx] = false;
        if (!m_marks_path.empty()) {
            if (auto marked = append_mark(m_marks_path, owed_mark(record.orderidx, entry.kind, pickup)); !marked.ok())
                m_hooks.log("주문표 기록을 저장하지 못했습니다: " + marked.error().detail);
        }
    }
    auto printed = m_hooks.print(kitchen.record, document.value().bytes, track ? record.orderidx : 0);
    if (!printed.ok() && track) {
        // It never reached the queue: owed still, with no outcome to come.
        std::lock_guard guard(m_lock);
        std::lock_guard marks(m_marks_lock);
        m_handed.erase(record.orderidx);
    }
    if (!printed.ok()) {
        page.status("주문표 인쇄 실패 — " + printed.error().message);
        m_last_failed = true;
        return false;
    }
    if (!track && record.orderidx > 0 && (kind == TicketKind::Order || kind == TicketKind::Reprint)) {
        std::lock_guard guard(m_lock);
        if (auto it = m_journal.orders.find(record.orderidx); it != m_journal.orders.end()) {
            ++it->second.prints;
            it->second.last_print = m_hooks.now();
            save();
        }
    }
    std::string name(ticket_name(kind));
    if (record.tablenum > 0)
        page.status(format("테이블 %d %s를 보냈습니다", record.tablenum, name.c_str()));
    else
        page.status("포장 " + name + "를 보냈습니다");
    return true;
}

bool KitchenPrinting::print_order(int orderidx, TicketKind kind, std::time_t pickup, bool explicit_request,
    bridge::Page& page)
{
    auto record = fetch(orderidx);
    if (!record) {
        page.status(kitchen_text::fetch_failed);
        m_last_failed = true;
        return false;
    }
    return print_record(std::move(*record), kind, pickup, explicit_request, page);
}

void KitchenPrinting::on_list(int storeidx, std::string_view list_text, bridge::Page& page)
{
    std::vector<ListEntry> listed;
    std::map<int, int> paystatus;
    for (auto order : jr::elements(jr::member(list_text, "orders").value_or(""))) {
        if (listed.size() >= max_journal_orders)
            break;
        ListEntry entry;
        long long idx = jr::integer(jr::member(order, "orderidx"), 0);
        if (idx < 1 || idx > INT32_MAX)
            continue;
        entry.orderidx = static_cast<int>(idx);
        entry.tablenum = static_cast<int>(jr::integer(jr::member(order, "tablenum"), 0));
        entry.pickup = static_cast<std::time_t>(jr::integer(jr::member(order, "pickuptime"), 0));
        entry.paystatus = static_cast<int>(jr::integer(jr::member(order, "paystatus"), 1));
        if (paystatus.emplace(entry.orderidx, entry.paystatus).second)
            listed.push_back(entry);
    }

    auto replace_known = [&] {
        std::map<int, JournalEntry> next;
        for (auto const& [orderidx, pay] : paystatus) {
            JournalEntry entry;
            if (auto it = m_journal.orders.find(orderidx); it != m_journal.orders.end())
                entry = it->second;
            entry.paystatus = pay;
            next.emplace(orderidx, entry);
        }
        // A busy day's lists mostly repeat the last one: the file is only
        // replaced when something changed.
        if (next == m_journal.orders && !m_path.empty() && os::file_exists(m_path))
            return;
        m_journal.orders = std::move(next);
        save();
    };

    std::vector<std::pair<int, Retry>> due;
    {
        std::lock_guard guard(m_lock);
        use_store(storeidx);
        if (m_fresh) {
            // A store without a journal: what is on its first list was
            // handled before this PC kept one.
            m_fresh = false;
            replace_known();
            return;
        }
        for (auto it = m_retries.begin(); it != m_retries.end();) {
            if (!paystatus.contains(it->first))
                it = m_retries.erase(it);
            else
                ++it;
        }
    }

    std::optional<KitchenRecord> kitchen;
    std::optional<KitchenStyle> style;
    auto read_settings = [&] {
        if (!kitchen) {
            kitchen = m_hooks.kitchen_record();
            style = m_hooks.style();
        }
    };
    auto attempt = [&](int orderidx, TicketKind kind, std::time_t pickup) {
        m_last_failed = false;
        if (!print_order(orderidx, kind, pickup, false, page) && m_last_failed) {
            if (auto toast = failed(orderidx))
                page.status(*toast);
        }
    };

    {
        std::unique_lock guard(m_lock);
        if (!m_retries.empty()) {
            guard.unlock();
            read_settings();
            guard.lock();
            if (!kitchen->auto_print)
                m_retries.clear();
            for (auto& [orderidx, retry] : m_retries) {
                if (retry.retry) {
                    retry.retry = false;
                    due.emplace_back(orderidx, retry);
                }
            }
        }
    }
    for (auto const& [orderidx, retry] : due) {
        m_hooks.log(format("주문 #%d 주문표 다시 시도 %d회", orderidx, retry.failures + 1));
        attempt(orderidx, retry.kind, retry.pickup);
    }

    read_settings();
    if (kitchen->auto_print) {
        for (auto const& order : listed) {
            TicketKind kind = TicketKind::Order;
            {
                std::lock_guard guard(m_lock);
                auto known = m_journal.orders.find(order.orderidx);
                bool is_new = known == m_journal.orders.end();
                bool printed = !is_new && is_printed(known->second);
                if (style->when == 1) {
                    bool paid_before = !is_new && known->second.paystatus == 1;
                    if (order.paystatus != 1 || paid_before || printed)
                        continue;
                } else if (!is_new) {
                    continue;
                }
                if (order.tablenum >= 1) {
                    for (auto const& other : listed) {
                        if (other.orderidx == order.orderidx || other.tablenum != order.tablenum)
                            continue;
                        auto it = m_journal.orders.find(other.orderidx);
                        if (it != m_journal.orders.end() && (is_printed(it->second) || style->when == 0)) {
                            kind = TicketKind::Additional;
                            break;
                        }
                    }
                }
                Retry& retry = m_retries[order.orderidx];
                retry.kind = kind;
                retry.pickup = order.pickup;
                retry.retry = false;
            }
            attempt(order.orderidx, kind, order.pickup);
        }
    }

    std::lock_guard guard(m_lock);
    replace_known();
}

void KitchenPrinting::accepted(int orderidx)
{
    std::lock_guard marks(m_marks_lock);
    auto it = m_handed.find(orderidx);
    if (it == m_handed.end() || it->second)
        return;
    it->second = true;
    if (m_marks_path.empty())
        return;
    if (auto marked = append_mark(m_marks_path, printed_mark(orderidx, m_hooks.now())); !marked.ok())
        m_hooks.log("주문표 기록을 저장하지 못했습니다: " + marked.error().detail);
}

void KitchenPrinting::confirmed(int orderidx)
{
    // A route that gave no notice of the last byte is marked now.
    accepted(orderidx);
    std::lock_guard guard(m_lock);
    m_retries.erase(orderidx);
    bool marked;
    {
        std::lock_guard marks(m_marks_lock);
        marked = m_handed.erase(orderidx) > 0 && !m_marks_path.empty();
    }
    if (auto it = m_journal.orders.find(orderidx); it != m_journal.orders.end()) {
        it->second.state = TicketState::Printed;
        ++it->second.prints;
        it->second.last_print = m_hooks.now();
        // The printed mark holds it until the next replacement.
        if (!marked)
            save();
    }
}

std::optional<std::string> KitchenPrinting::failed(int orderidx)
{
    std::lock_guard guard(m_lock);
    {
        std::lock_guard marks(m_marks_lock);
        auto it = m_handed.find(orderidx);
        if (it != m_handed.end()) {
            // The printer took the last byte and the delivery failed after
            // (the line dropped before the end): owed again.
            auto entry = m_journal.orders.find(orderidx);
            if (it->second && entry != m_journal.orders.end() && !m_marks_path.empty())
                (void)append_mark(m_marks_path, owed_mark(orderidx, entry->second.kind, entry->second.pickup));
            m_handed.erase(it);
        }
    }
    return failed_locked(orderidx);
}

std::optional<std::string> KitchenPrinting::failed_locked(int orderidx)
{
    auto it = m_retries.find(orderidx);
    if (it == m_retries.end())
        return std::nullopt;
    int count = ++it->second.failures;
    if (count < max_ticket_attempts) {
        it->second.retry = true;
        m_hooks.log(format("주문 #%d 주문표 인쇄 실패 %d회 — 다음 목록 때 다시", orderidx, count));
        return std::nullopt;
    }
    m_retries.erase(it);
    if (auto entry = m_journal.orders.find(orderidx); entry != m_journal.orders.end()) {
        entry->second.state = TicketState::GivenUp;
        save();
    }
    std::string toast = format(
        "주문 #%d 주방 주문표를 3번 뽑지 못했습니다 — 프린터를 확인하고 주문 상세의 「주문표」로 뽑아 주세요", orderidx);
    m_hooks.log(toast);
    return toast;
}

void KitchenPrinting::printticket(int orderidx, std::time_t pickup, bridge::Page& page)
{
    bool before = false;
    {
        std::lock_guard guard(m_lock);
        if (auto it = m_journal.orders.find(orderidx); it != m_journal.orders.end())
            before = is_printed(it->second) || it->second.prints > 0;
    }
    print_order(orderidx, before ? TicketKind::Reprint : TicketKind::Order, pickup, true, page);
}

void KitchenPrinting::printkitchentest(bridge::Page& page)
{
    KitchenRecord kitchen = m_hooks.kitchen_record();
    auto document = build_ticket(kitchen.record, m_hooks.style(), sample_ticket(), m_hooks.now());
    if (!document.ok()) {
        page.status("주문표 시험 인쇄 실패 — 주문표를 만들지 못했습니다");
        return;
    }
    auto printed = m_hooks.print(kitchen.record, document.value().bytes, 0);
    if (printed.ok())
        page.status("주문표 시험 인쇄를 보냈습니다");
    else
        page.status("주문표 시험 인쇄 실패 — " + printed.error().message);
}

std::string KitchenPrinting::print_log(int orderidx)
{
    std::lock_guard guard(m_lock);
    auto it = m_journal.orders.find(orderidx);
    return it == m_journal.orders.end() ? std::string {} : print_log_text(it->second);
}

bridge::Runs KitchenFamily::runs(std::string_view name) const
{
    return name == "printticket" || name == "printkitchentest" || name == "ticketlog" ? bridge::Runs::OnLane
                                                                                      : bridge::Runs::OnUiThread;
}

bridge::Handled KitchenFamily::handle(bridge::Command const& command, bridge::Page& page)
{
    std::string_view name = command.name();
    if (name == "printkitchentest") {
        m_kitchen.printkitchentest(page);
        return bridge::Handled::Yes;
    }
    if (name != "printticket" && name != "ticketlog")
        return bridge::Handled::No;
    if (!session::staff_signed_in())
        return bridge::Handled::Yes;
    int orderidx = ascii::leading_int(command.arg(1));
    if (name == "printticket")
        m_kitchen.printticket(orderidx, static_cast<std::time_t>(ascii::leading_int(command.arg(2))), page);
    page.callback("setTicketLog", std::to_string(orderidx) + "," + json::quote(m_kitchen.print_log(orderidx)));
    return bridge::Handled::Yes;
}

} // namespace tillbay::printing

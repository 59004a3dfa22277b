#include "orders/order_actions.h"

#include "base/ascii.h"
#include "foundation/json_text.h"
#include "session/session.h"

#include <charconv>
#include <cstdio>
#include <ctime>

namespace tillbay::orders {

namespace {

// The server's result code as a number; 1 when it is not one.
int refusal_code(std::string const& code)
{
    int value = 0;
    auto [end, ec] = std::from_chars(code.data(), code.data() + code.size(), value);
    if (ec != std::errc() || end != code.data() + code.size() || value == 0)
        return 1;
    return value;
}

long long leading_int64(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    long long value = 0;
    auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), value);
    (void)end;
    return ec == std::errc() ? value : 0;
}

std::string error_text(Error const& error, std::string_view fallback)
{
    return error.message.empty() ? std::string(fallback) : error.message;
}

std::string joined(std::vector<int> const& orders, size_t from = 0)
{
    std::string text;
    for (size_t i = from; i < orders.size(); ++i) {
        if (!text.empty())
            text += ',';
        text += std::to_string(orders[i]);
    }
    return text;
}

std::string format(char const* pattern, auto... values)
{
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, pattern, values...);
    return buffer;
}

// Whole won with a comma every three digits.
std::string won_text(long long amount)
{
    std::string digits = std::to_string(amount < 0 ? -amount : amount);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return amount < 0 ? "-" + out : out;
}

} // namespace

std::vector<int> order_list(std::string_view text, size_t limit)
{
    std::vector<int> out;
    size_t start = 0;
    while (start <= text.size() && out.size() < limit) {
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

std::string telephone_digits(std::string_view text)
{
    std::string digits;
    for (char c : text) {
        if (c >= '0' && c <= '9' && digits.size() < max_telephone_digits)
            digits += c;
    }
    return digits.empty() ? std::string(no_telephone) : digits;
}

std::string usable_pin(std::string_view text)
{
    if (text.empty() || text.size() > max_pin_length)
        return {};
    for (char c : text) {
        if (c < '0' || c > '9')
            return {};
    }
    return std::string(text);
}

OrderActions::OrderActions(OrderBoard& board, ActionHooks hooks)
    : m_board(board)
    , m_hooks(std::move(hooks))
{
}

std::string OrderActions::storeidx_part() const { return "&storeidx=" + std::to_string(session::storeidx()); }

void OrderActions::cookstart(int orderidx, int cooktime, bridge::Page& page)
{
    m_board.run_action("cmd=115" + storeidx_part() + "&orderidx=" + std::to_string(orderidx) + "&cooktime="
            + std::to_string(cooktime),
        "조리를 시작했습니다", page);
}

void OrderActions::servedone(int orderidx, bridge::Page& page)
{
    m_board.run_action("cmd=116" + storeidx_part() + "&orderidx=" + std::to_string(orderidx), "완료 처리했습니다", page);
}

void OrderActions::pickupready(int orderidx, bridge::Page& page)
{
    m_board.run_action("cmd=121" + storeidx_part() + "&orderidx=" + std::to_string(orderidx), "준비완료 처리했습니다", page);
}

void OrderActions::cookstartall(std::string_view list, bridge::Page& page)
{
    auto orders = order_list(list, max_listed_orders_bulk);
    int done = 0;
    int failed = 0;
    std::string first_refusal;
    for (size_t i = 0; i < orders.size(); ++i) {
        auto answer = m_hooks.store_call(
            "cmd=115" + storeidx_part() + "&orderidx=" + std::to_string(orders[i]) + "&cooktime=0");
        if (!answer.ok()) {
            // The server is out of reach for the rest as well.
            failed += static_cast<int>(orders.size() - i);
            if (first_refusal.empty())
                first_refusal = error_text(answer.error(), "서버에 닿지 못했습니다");
            break;
        }
        if (answer.value().accepted()) {
            ++done;
        } else {
            ++failed;
            if (first_refusal.empty())
                first_refusal = answer.value().refusal("조리 시작 거절");
        }
    }
    if (failed == 0)
        page.status(format("%d건 조리를 시작했습니다", done));
    else
        page.status(format("%d건 조리 시작 · %d건 실패 — %s", done, failed, first_refusal.c_str()));
    m_board.refresh(page);
}

void OrderActions::mergetables(int table, std::string_view list, bridge::Page& page)
{
    auto orders = order_list(list, max_listed_orders);
    if (table < 1 || orders.empty()) {
        page.status("옮길 주문이 없습니다");
        page.callback("mergeTablesDone", "0");
        return;
    }
    int moved = 0;
    int failed = 0;
    int first_moved = 0;
    for (int orderidx : orders) {
        auto answer = m_hooks.store_call("cmd=113" + storeidx_part() + "&orderidx=" + std::to_string(orderidx)
            + "&tablenum=" + std::to_string(table));
        if (answer.ok() && answer.value().accepted()) {
            ++moved;
            if (first_moved == 0)
                first_moved = orderidx;
        } else {
            ++failed;
        }
    }
    std::string text = format("주문 %d건을 %d번 자리로 옮겼습니다", moved, table);
    if (failed > 0)
        text += format(" (%d건은 못 옮김 — 취소·합쳐진 주문이거나 옛 서버)", failed);
    page.status(text);
    m_board.refresh(page);
    page.callback("mergeTablesDone", std::to_string(first_moved));
}

void OrderActions::cashpay(bridge::Command const& command, bridge::Page& page)
{
    if (command.arg_count() < 2) {
        page.callback("cashDone", "0");
        return;
    }
    int orderidx = ascii::leading_int(command.arg(1));
    auto answer = m_hooks.store_call(
        "cmd=124&orderidx=" + std::to_string(orderidx) + "&tel=" + telephone_digits(command.arg(2)));
    if (!answer.ok() || !answer.value().accepted()) {
        page.callback("cashDone", "0");
        page.status(answer.ok() ? answer.value().refusal("현금결제를 처리하지 못했습니다")
                                : error_text(answer.error(), "현금결제를 처리하지 못했습니다 — 서버에 닿지 못했습니다"));
        m_board.refresh(page);
        return;
    }

    DrawerResult drawer { DrawerOutcome::NoPrinter, {} };
    if (m_hooks.printer)
        drawer = m_hooks.printer->open_drawer();
    if (drawer.outcome == DrawerOutcome::Failed) {
        page.status("결제는 됐습니다. 현금서랍만 안 열렸습니다 — " + drawer.reason);
        page.callback("cashDone", "1");
        m_board.refresh(page);
        return;
    }
    bool printed = false;
    if (m_hooks.printer && drawer.outcome != DrawerOutcome::NoPrinter) {
        auto receipt = m_hooks.printer->receipt(ActionPrinter::ReceiptKind::Sale);
        auto paid = receipt->add(orderidx);
        if (paid && *paid > 0)
            printed = receipt->print(page);
    }
    page.callback("cashDone", "1");
    // The text says what happened at the counter, not what was hoped for.
    std::string text = "현금결제 완료";
    if (drawer.outcome == DrawerOutcome::NoPrinter)
        text += " — 프린터 없음 설정이라 서랍과 영수증은 없습니다";
    else if (drawer.outcome == DrawerOutcome::Opened)
        text += printed ? " — 서랍을 열고 영수증을 보냈습니다" : " — 서랍을 열었습니다 (영수증은 뽑지 못했습니다)";
    else
        text += printed ? " — 영수증을 보냈습니다 (현금서랍은 꺼져 있습니다)" : " — 영수증은 뽑지 못했습니다 (현금서랍은 꺼져 있습니다)";
    page.status(text);
    m_board.refresh(page);
    m_board.detail(orderidx, page);
}

void OrderActions::cashpayall(bridge::Command const& command, bridge::Page& page)
{
    auto orders = command.arg_count() < 1 ? std::vector<int> {} : order_list(command.arg(1), max_listed_orders);
    if (orders.empty()) {
        page.callback("cashAllDone", "0,0,0");
        return;
    }
    std::string tel = telephone_digits(command.arg(2));
    if (orders.size() >= 2) {
        auto answer = m_hooks.store_call("cmd=138" + storeidx_part() + "&target=" + std::to_string(orders[0])
            + "&sources=" + joined(orders, 1));
        if (answer.ok() && answer.value().accepted()) {
            page.status(format("주문 %d건을 하나로 합쳤습니다", static_cast<int>(orders.size())));
            orders.resize(1);
        } else {
            std::string reason = answer.ok() ? answer.value().refusal("주문을 합치지 못했습니다")
                                             : error_text(answer.error(), "서버에 닿지 못했습니다");
            page.status("합치지 못해 하나씩 받습니다 — " + reason);
        }
    }

    std::vector<int> paid;
    std::string failures;
    auto add_failure = [&](std::string const& text) {
        if (!failures.empty())
            failures += " · ";
        failures += text;
    };
    for (int orderidx : orders) {
        auto answer = m_hooks.store_call("cmd=124&orderidx=" + std::to_string(orderidx) + "&tel=" + tel);
        if (!answer.ok()) {
            add_failure("서버에 닿지 못했습니다");
            break;
        }
        if (answer.value().accepted())
            paid.push_back(orderidx);
        else
            add_failure(std::to_string(orderidx) + " " + answer.value().refusal("실패"));
    }
    if (paid.empty()) {
        page.callback("cashAllDone", "0,0,0");
        page.status(failures.empty() ? std::string("현금결제를 처리하지 못했습니다") : "현금결제 실패 — " + failures);
        m_board.refresh(page);
        return;
    }

    DrawerResult drawer { DrawerOutcome::NoPrinter, {} };
    if (m_hooks.printer)
        drawer = m_hooks.printer->open_drawer();
    std::string drawer_note;
    if (drawer.outcome == DrawerOutcome::Failed)
        drawer_note = " · 현금서랍만 안 열렸습니다 — " + drawer.reason;
    long long amount = 0;
    if (m_hooks.printer) {
        auto receipt = m_hooks.printer->receipt(ActionPrinter::ReceiptKind::Sale);
        bool any = false;
        for (int orderidx : paid) {
            if (auto value = receipt->add(orderidx)) {
                amount += *value;
                any = true;
            }
        }
        if (any && drawer.outcome != DrawerOutcome::NoPrinter)
            receipt->print(page);
    }
    std::string text = format("현금결제 완료 — %d건 %s원", static_cast<int>(paid.size()), won_text(amount).c_str());
    if (!failures.empty())
        text += " (안 된 주문: " + failures + ")";
    text += drawer_note;
    page.status(text);
    page.callback("cashAllDone", "1," + std::to_string(paid.size()) + "," + std::to_string(amount));
    m_board.refresh(page);
}

void OrderActions::extpay(bridge::Command const& command, bridge::Page& page)
{
    auto orders = command.arg_count() < 1 ? std::vector<int> {} : order_list(command.arg(1), max_listed_orders);
    if (orders.empty()) {
        page.callback("extPayDone", "0,'',0");
        return;
    }
    long long amount_arg = leading_int64(command.arg(2));
    bool with_receipt = command.arg(3) == "1";
    std::unique_ptr<ActionPrinter::Receipt> receipt;
    if (with_receipt && m_hooks.printer)
        receipt = m_hooks.printer->receipt(ActionPrinter::ReceiptKind::ExternalTerminal);

    int count = 0;
    long long total = 0;
    std::string closed;
    bool any_receipt = false;
    for (int orderidx : orders) {
        // The receipt is read before the closing: afterwards the order reads
        // as cancelled on the server.
        std::optional<long long> paid;
        if (receipt)
            paid = receipt->add(orderidx);
        // No PIN and no cancel ticket: the order was paid and cooked, only
        // its money went through a terminal the POS does not see.
        auto answer = m_hooks.store_call("cmd=117" + storeidx_part() + "&orderidx=" + std::to_string(orderidx));
        if (!answer.ok()) {
            page.status(error_text(answer.error(), "서버에 닿지 못했습니다 — 단말기 결제 마감을 못 했습니다"));
            break;
        }
        if (!answer.value().accepted()) {
            page.status(format("주문 %d 마감 실패 — %s", orderidx, answer.value().message.c_str()));
            continue;
        }
        ++count;
        if (paid) {
            total += *paid;
            any_receipt = true;
        }
        if (!closed.empty())
            closed += ',';
        closed += std::to_string(orderidx);
    }
    if (count > 0) {
        page.status(format("단말기 결제로 마감했습니다 — %d건 · %lld원 (POS 매출에는 안 잡힙니다)", count,
            amount_arg > 0 ? amount_arg : total));
        if (receipt && any_receipt)
            receipt->print(page);
    }
    page.callback("extPayDone", std::to_string(count) + "," + json::quote(closed) + "," + std::to_string(amount_arg));
    m_board.refresh(page);
}

int OrderActions::cancel_one(int orderidx, std::string_view pin, bool quiet, bool no_ticket, bridge::Page& page)
{
    std::string request = "cmd=117" + storeidx_part() + "&orderidx=" + std::to_string(orderidx);
    if (!pin.empty())
        request += "&pin=" + std::string(pin);
    std::unique_ptr<ActionPrinter::CancelPrints> prints;
    if (m_hooks.printer)
        prints = m_hooks.printer->prepare_cancel(orderidx, no_ticket);
    auto answer = m_hooks.store_call(request);
    if (!answer.ok()) {
        page.status(error_text(answer.error(), text_list_failed));
        return -1;
    }
    api::StoreResult const& result = answer.value();
    if (result.resultCode == "6202" && pin.empty())
        return cancel_needs_pin;
    if (!result.accepted()) {
        page.status(result.refusal("주문을 취소하지 못했습니다"));
        return refusal_code(result.resultCode);
    }
    if (!quiet)
        page.status("주문을 취소했습니다");
    if (prints)
        prints->print(page);
    return 0;
}

void OrderActions::cancelorder(bridge::Command const& command, bridge::Page& page)
{
    int orderidx = ascii::leading_int(command.arg(1));
    std::string pin = usable_pin(command.arg(2));
    bool no_ticket = command.arg(3) == "1";
    int result = cancel_one(orderidx, pin, false, no_ticket, page);
    if (result == cancel_needs_pin)
        page.callback("needLock", "'cancel',1," + json::quote(command.arg(1)));
    else
        page.callback("cancelDone", std::to_string(orderidx) + "," + std::to_string(result));
    m_board.refresh(page);
}

void OrderActions::cancelall(bridge::Command const& command, bridge::Page& page)
{
    auto orders = order_list(command.arg(1), max_listed_orders_bulk);
    std::string pin = usable_pin(command.arg(2));
    int cancelled = 0;
    for (size_t i = 0; i < orders.size(); ++i) {
        int result = cancel_one(orders[i], pin, true, false, page);
        if (result == 0) {
            ++cancelled;
            continue;
        }
        // Only the orders still open go back with the PIN request: the
        // repeated command must not try the cancelled ones again.
        if (result == cancel_needs_pin)
            page.callback("needLock", "'cancelall',1," + json::quote(joined(orders, i)));
        break;
    }
    if (cancelled > 0)
        page.status(format("주문 %d건을 취소했습니다", cancelled));
    m_board.refresh(page);
}

void OrderActions::editordermenu(bridge::Command const& command, bridge::Page& page)
{
    int orderidx = ascii::leading_int(command.arg(1));
    int ordermenuidx = ascii::leading_int(command.arg(2));
    int newqty = ascii::leading_int(command.arg(3));
    std::string context = std::string(command.arg(1)) + "," + std::string(command.arg(2)) + "," + std::string(command.arg(3));
    if (m_hooks.need_lock && !m_hooks.need_lock("editmenu", context, page))
        return;
    if (orderidx <= 0 || ordermenuidx <= 0 || newqty < 0 || command.arg(3).empty()) {
        page.status("주문을 고치지 못했습니다");
        return;
    }
    std::unique_ptr<ActionPrinter::EditPrint> print;
    if (m_hooks.printer)
        print = m_hooks.printer->prepare_edit(orderidx);
    auto answer = m_hooks.store_call("cmd=141&orderidx=" + std::to_string(orderidx) + "&ordermenuidx="
        + std::to_string(ordermenuidx) + "&newqty=" + std::to_string(newqty));
    if (!answer.ok() || !answer.value().accepted()) {
        page.status(answer.ok() ? answer.value().refusal("주문을 고치지 못했습니다")
                                : error_text(answer.error(), "주문을 고치지 못했습니다"));
        m_board.refresh(page);
        m_board.detail(orderidx, page);
        return;
    }
    std::string const& data = answer.value().resultData;
    std::string name;
    json::text_field(data, "mname", name, 256);
    std::string cancelled_flag;
    json::text_field(data, "ordercancelled", cancelled_flag, 4);
    bool order_cancelled = cancelled_flag == "Y" || cancelled_flag == "y";
    int oldqty = json::int_field(data, "oldqty", 0);
    int reported_new = json::int_field(data, "newqty", newqty);
    int removed = oldqty - reported_new > 0 ? oldqty - reported_new : 0;
    if (print && removed > 0)
        print->print(ordermenuidx, name, removed, page);

    std::string shown = name.empty() ? std::string("메뉴") : name;
    if (order_cancelled)
        page.status("메뉴를 모두 빼 주문이 취소됐습니다");
    else if (reported_new == 0)
        page.status(shown + " 을(를) 뺐습니다");
    else
        page.status(format("%s %d개 → %d개로 고쳤습니다", shown.c_str(), oldqty, reported_new));
    m_board.refresh(page);
    if (!order_cancelled)
        m_board.detail(orderidx, page);
}

void OrderActions::opendrawer(bridge::Page& page)
{
    if (m_hooks.need_lock && !m_hooks.need_lock("drawer", "", page))
        return;
    DrawerResult drawer { DrawerOutcome::NoPrinter, {} };
    if (m_hooks.printer)
        drawer = m_hooks.printer->open_drawer();
    switch (drawer.outcome) {
    case DrawerOutcome::Opened:
        page.status("현금서랍을 열었습니다");
        break;
    case DrawerOutcome::NoPrinter:
        page.status("프린터 없음으로 설정되어 있습니다 — 현금서랍은 프린터로 열립니다");
        break;
    case DrawerOutcome::Off:
        page.status("현금서랍 실패 — 현금서랍이 꺼져 있습니다");
        break;
    case DrawerOutcome::Failed:
        page.status("현금서랍 실패 — " + drawer.reason);
        break;
    }
}

bridge::Runs OrderActionFamily::runs(std::string_view name) const
{
    static constexpr std::string_view names[] = { "cookstart", "servedone", "pickupready", "cookstartall", "mergetables",
        "cashpay", "cashpayall", "extpay", "cancelorder", "cancelall", "editordermenu", "opendrawer" };
    for (auto known : names) {
        if (name == known)
            return bridge::Runs::OnLane;
    }
    return bridge::Runs::OnUiThread;
}

bridge::Handled OrderActionFamily::handle(bridge::Command const& command, bridge::Page& page)
{
    std::string_view name = command.name();
    if (runs(name) != bridge::Runs::OnLane)
        return bridge::Handled::No;
    if (!session::staff_signed_in()) {
        // The commands a page waits on are answered even now.
        if (name == "cashpay")
            page.callback("cashDone", "0");
        else if (name == "cashpayall")
            page.callback("cashAllDone", "0,0,0");
        else if (name == "extpay")
            page.callback("extPayDone", "0,'',0");
        else if (name == "mergetables")
            page.callback("mergeTablesDone", "0");
        return bridge::Handled::Yes;
    }
    if (name == "cookstart")
        m_actions.cookstart(ascii::leading_int(command.arg(1)), ascii::leading_int(command.arg(2)), page);
    else if (name == "servedone")
        m_actions.servedone(ascii::leading_int(command.arg(1)), page);
    else if (name == "pickupready")
        m_actions.pickupready(ascii::leading_int(command.arg(1)), page);
    else if (name == "cookstartall")
        m_actions.cookstartall(command.arg(1), page);
    else if (name == "mergetables")
        m_actions.mergetables(ascii::leading_int(command.arg(1)), command.arg(2), page);
    else if (name == "cashpay")
        m_actions.cashpay(command, page);
    else if (name == "cashpayall")
        m_actions.cashpayall(command, page);
    else if (name == "extpay")
        m_actions.extpay(command, page);
    else if (name == "cancelorder")
        m_actions.cancelorder(command, page);
    else if (name == "cancelall")
        m_actions.cancelall(command, page);
    else if (name == "editordermenu")
        m_actions.editordermenu(command, page);
    else
        m_actions.opendrawer(page);
    return bridge::Handled::Yes;
}

} // namespace tillbay::orders

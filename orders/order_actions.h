#pragma once

// The staff's operations on existing orders: cooking started, served, ready
// for pickup, several started at once, moved to another table, cash payment
// (one order or several), closing orders paid on a card terminal outside
// the POS, cancelling (with the staff PIN when the server asks for it),
// changing one line's quantity, and opening the cash drawer. Each is a
// command of the `order` family on the command lane; each ends with a
// reload of the board so the page shows the server's state, and every
// command a page waits on is answered in failure as well as in success.

#include "bridge/family.h"
#include "orders/action_printer.h"
#include "orders/order_board.h"
#include "server/api.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tillbay::orders {

inline constexpr size_t max_listed_orders = 20;
inline constexpr size_t max_listed_orders_bulk = 30; // cancelall, cookstartall
inline constexpr size_t max_telephone_digits = 20;
inline constexpr size_t max_pin_length = 12;
inline constexpr char const* no_telephone = "01000000000";

// The positive order numbers of a comma-separated list, at most limit of them.
std::vector<int> order_list(std::string_view text, size_t limit);
// The digits of a telephone argument (at most 20), or "01000000000".
std::string telephone_digits(std::string_view text);
// The PIN argument when it is all digits and at most 12 long, else empty.
std::string usable_pin(std::string_view text);

struct ActionHooks {
    // Sends a store command; fails with the user's text when no answer came.
    std::function<Result<api::StoreResult>(std::string_view command)> store_call;
    // The staff lock: true when the action may go ahead; otherwise it has
    // asked the page for the PIN itself.
    std::function<bool(std::string_view action, std::string_view detail, bridge::Page& page)> need_lock;
    // Receipts, tickets and the drawer; may be null (nothing is printed).
    ActionPrinter* printer = nullptr;
};

// The cancel of one order: 0 done, 6202 the server wants a PIN and none was
// sent, -1 no answer, else the server's refusal code (1 when not a number).
inline constexpr int cancel_needs_pin = 6202;

class OrderActions {
public:
    OrderActions(OrderBoard& board, ActionHooks hooks);

    void cookstart(int orderidx, int cooktime, bridge::Page& page);
    void servedone(int orderidx, bridge::Page& page);
    void pickupready(int orderidx, bridge::Page& page);
    void cookstartall(std::string_view list, bridge::Page& page);
    void mergetables(int table, std::string_view list, bridge::Page& page);
    void cashpay(bridge::Command const& command, bridge::Page& page);
    void cashpayall(bridge::Command const& command, bridge::Page& page);
    void extpay(bridge::Command const& command, bridge::Page& page);
    void cancelorder(bridge::Command const& command, bridge::Page& page);
    void cancelall(bridge::Command const& command, bridge::Page& page);
    void editordermenu(bridge::Command const& command, bridge::Page& page);
    void opendrawer(bridge::Page& page);

    // Set once at start-up, before the first command.
    void set_printer(ActionPrinter* printer) { m_hooks.printer = printer; }

private:
    int cancel_one(int orderidx, std::string_view pin, bool quiet, bool no_ticket, bridge::Page& page);
    std::string storeidx_part() const;

    OrderBoard& m_board;
    ActionHooks m_hooks;
};

class OrderActionFamily final : public bridge::Family {
public:
    explicit OrderActionFamily(OrderActions& actions)
        : m_actions(actions)
    {
    }
    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override;
    bridge::Runs runs(std::string_view name) const override;

private:
    OrderActions& m_actions;
};

} // namespace tillbay::orders

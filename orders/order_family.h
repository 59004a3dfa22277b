#pragma once

// The `order` command family: the order board's commands `refreshorders`,
// `orderdetail` and `tablecount`. The order actions join it later. Each
// command does nothing while nobody is signed in, but is still recognised.

#include "host/family.h"
#include "orders/order_board.h"

#include <string_view>

namespace tillbay::orders {

// A decimal argument as the order commands read it: optional blanks and
// sign, then digits up to the first other byte; empty or unreadable is 0,
// and a value beyond the 32-bit range is clamped.
int int_argument(std::string_view text);

class OrderFamily final : public bridge::Family {
public:
    explicit OrderFamily(OrderBoard& board)
        : m_board(board)
    {
    }
    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override;

private:
    OrderBoard& m_board;
};

} // namespace tillbay::orders

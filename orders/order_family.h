#pragma once

// The `order` command family: the order board's commands `refreshorders`,
// `orderdetail` and `tablecount`. Each command does nothing while nobody is
// signed in, but is still recognised. They all ask the server, so they run on
// the command lane.

#include "bridge/family.h"
#include "orders/order_board.h"

namespace tillbay::orders {

class OrderFamily final : public bridge::Family {
public:
    explicit OrderFamily(OrderBoard& board)
        : m_board(board)
    {
    }
    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override;
    bridge::Runs runs(std::string_view name) const override;

private:
    OrderBoard& m_board;
};

} // namespace tillbay::orders

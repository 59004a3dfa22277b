#include "orders/order_family.h"

#include "base/ascii.h"

namespace tillbay::orders {

bridge::Handled OrderFamily::handle(bridge::Command const& command, bridge::Page& page)
{
    std::string_view name = command.name();
    if (name == "refreshorders")
        m_board.refresh(page);
    else if (name == "orderdetail")
        m_board.detail(ascii::leading_int(command.arg(1)), page);
    else if (name == "tablecount")
        m_board.table_count(page);
    else
        return bridge::Handled::No;
    return bridge::Handled::Yes;
}

bridge::Runs OrderFamily::runs(std::string_view name) const
{
    bool board = name == "refreshorders" || name == "orderdetail" || name == "tablecount";
    return board ? bridge::Runs::OnLane : bridge::Runs::OnUiThread;
}

} // namespace tillbay::orders

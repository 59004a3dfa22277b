#include "orders/order_family.h"

#include <climits>

namespace tillbay::orders {

int int_argument(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        value = INT_MAX;
    return static_cast<int>(value);
}

bridge::Handled OrderFamily::handle(bridge::Command const& command, bridge::Page& page)
{
    std::string_view name = command.name();
    if (name == "refreshorders")
        m_board.refresh(page);
    else if (name == "orderdetail")
        m_board.detail(int_argument(command.arg(1)), page);
    else if (name == "tablecount")
        m_board.table_count(page);
    else
        return bridge::Handled::No;
    return bridge::Handled::Yes;
}

} // namespace tillbay::orders

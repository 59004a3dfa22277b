#pragma once

// The kitchen's view of an order list. The kitchen display and the waiting
// counts show only orders the kitchen should cook: not bare payments, not
// empty orders, and not prepaid orders whose payment has not come in yet.
// The filter walks the list text once without building a document tree and
// copies every kept order object byte for byte.

#include <string>
#include <string_view>

namespace tillbay::orders {

// Longest `ordersrc` the kitchen rule reads.
inline constexpr size_t max_ordersrc = 23;

// Whether one order object (its text, braces included) belongs in the
// kitchen: not a bare payment, not an order without lines, not cancelled,
// and paid or paid on leaving.
bool kitchen_keeps(std::string_view order_object);

// The kitchen text of an order list: the list unchanged when nothing was
// dropped (or when it has no "orders" array), else {"orders":[kept,...]}.
std::string kitchen_filter(std::string_view list_text);

} // namespace tillbay::orders

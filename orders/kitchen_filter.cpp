#include "orders/kitchen_filter.h"

#include "foundation/json_text.h"

namespace tillbay::orders {

bool kitchen_keeps(std::string_view order_object)
{
    std::string source;
    (void)json::text_field(order_object, "ordersrc", source, max_ordersrc + 1);
    if (source == "plainpay")
        return false;
    // A zero line count alone is not enough: some servers send 0 for orders
    // whose lines arrive in "items", so an empty array must say it too.
    if (json::int_field(order_object, "menucount", 1) == 0 && order_object.find("\"items\":[]") != std::string_view::npos)
        return false;
    // Cancelled orders stay on the counter's board for a while, but the
    // kitchen must not cook them.
    if (json::int_field(order_object, "status", 1) == 4)
        return false;
    int paystatus = json::int_field(order_object, "paystatus", 1);
    int prepay = json::int_field(order_object, "prepay", 0);
    return paystatus == 1 || prepay == 0;
}

std::string kitchen_filter(std::string_view list_text)
{
    size_t key = list_text.find("\"orders\"");
    if (key == std::string_view::npos)
        return std::string(list_text);
    size_t open = list_text.find('[', key + 8);
    if (open == std::string_view::npos)
        return std::string(list_text);

    std::string kept;
    bool dropped = false;
    size_t at = open + 1;
    while (auto object = json::next_array_object(list_text, at)) {
        if (kitchen_keeps(*object)) {
            if (!kept.empty())
                kept += ',';
            kept.append(*object);
        } else {
            dropped = true;
        }
    }
    if (!dropped)
        return std::string(list_text);
    return "{\"orders\":[" + kept + "]}";
}

} // namespace tillbay::orders

#pragma once

// The command table of the owner's back office, kept by family in
// rows_*.cpp, and the functions of the rows that send more than one request.

#include "store/command_rows.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tillbay::store {

std::span<Row const> menu_rows();
std::span<Row const> store_rows();
std::span<Row const> product_rows(); // the `product` family and the product commands of `pc`
std::span<Row const> sales_rows();   // the `sales` and `history` families

// Every row, in family order.
std::vector<Row const*> const& command_table();
// The row of a command in a slot, or null.
Row const* find_row(Slot slot, std::string_view name);

// Rows that send several requests (menu_options.cpp, product_edits.cpp,
// page_preloads.cpp).
void run_menu_panel(RowRun& run);
void run_get_menu_options(RowRun& run);
void run_add_menu_options(RowRun& run);
void run_add_menu(RowRun& run);
void run_add_product(RowRun& run);
void run_add_product_fields(RowRun& run);
void fail_add_product_fields(RowRun& run, std::string_view message, bool net);
void run_set_product_field(RowRun& run);
void fail_set_product_field(RowRun& run, std::string_view message, bool net);
void run_shop_category(RowRun& run);
void fail_shop_category(RowRun& run, std::string_view message, bool net);
void run_page_preloads(RowRun& run);

// The options of one menu as the page function setMenuOptions takes them,
// or the failure text.
Result<std::string> menu_options_object(RowRun& run, std::string const& menuidx);

// Adds option groups with their items to a menu from the page's JSON text
// ([{"gname":..,"requiredyn":..,"items":[{"iname":..,"addprice":..}]}] or
// {"groups":[...]}). Counts the options saved and asked for; the first
// failure's text goes to first_failure.
struct OptionsAdded {
    int saved = 0;
    int asked = 0;
    std::string first_failure;
};
OptionsAdded add_menu_options(RowRun& run, std::string const& menuidx, std::string_view groups_text);

// name=value for a request: the value encoded, or the user's message.
Result<std::string> pair(std::string_view name, std::string_view value);

} // namespace tillbay::store

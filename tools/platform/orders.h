#pragma once

// Orders as the board, the kitchen and the receipts see them; shared by the
// order commands and the control interface (which plays the customer).

#include "tools/platform/db.h"

#include <optional>
#include <string>
#include <vector>

namespace tillbay::platform {

struct NewOrderLine {
    long long menuidx = 0;
    std::string mname;
    long long qty = 1;
    long long price = 0; // base price of one; options are added
    Json options = Json::array(); // [{optionname, optionprice}]
    std::string comment;
};

struct NewOrder {
    long long storeidx = 1;
    long long tablenum = 0;
    std::string ordersrc = "table";
    int pickup = 0;
    long long pickuptime = 0;
    int prepay = 0;
    int paystatus = 0;
    int status = 1;
    std::string paymethod;
    std::string memo;
    std::vector<NewOrderLine> lines;
    std::optional<std::string> reqkey;
    std::string reqjson;
};

// Fills missing menu numbers, prices and option prices from the menu and
// inserts the order; returns its orderidx.
long long create_order(Db& db, NewOrder order);
// Reads the lines of an order JSON as the pages write it; false with a reason when unusable.
bool lines_from_json(Json const& items, std::vector<NewOrderLine>& out, std::string& why);

// Settles a prepaid order (and its QR group). Returns the event name to raise
// ("PAYING" or "PAYFAIL"), or an empty text with a reason in `why`.
std::string settle_payment(Db& db, long long orderidx, bool paid, std::string& why, long long& storeidx);

// The start of the day written as eight digits (e.g. "2026-12-10"), in local
// time; with end_of_day the start of the next day. -1 when there are not eight digits.
long long day_from_text(std::string const& text, bool end_of_day);

Json order_list_entry(Db& db, Json const& order);
// The same with the order's lines (mname, qty, comment) already read.
Json order_list_entry(Json const& order, Json items);
// One order of a receipt history or a sales list: the fields such a list
// shows, with the menu lines as one short text ("김치찌개 2, 콜라 1 외 1"), so
// that a page of 200 stays well inside the answer a POS reads.
Json history_entry(Db& db, Json const& order);
Json order_detail(Db& db, Json const& order);

} // namespace tillbay::platform

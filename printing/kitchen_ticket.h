#pragma once

// The kitchen ticket: what to cook for one order, where it goes (table or
// takeout), its number, the menu lines with options and comments, the
// customer's request, and whether it is still unpaid. The record is filled
// from the order detail (store command 111); the layout follows the
// kitchen style of the settings.

#include "base/result.h"
#include "printing/document_writer.h"
#include "printing/printer_settings.h"

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace tillbay::printing {

inline constexpr size_t ticket_capacity = 32768;
inline constexpr size_t max_ticket_lines = 64;
inline constexpr size_t max_ticket_options = 8;
inline constexpr size_t options_looked_at = 16;

enum class TicketKind {
    Order = 0,
    Additional = 1,
    Reprint = 2,
    Cancel = 3,
    Modified = 4,
};

struct TicketLine {
    std::string name;                 // at most 127 bytes
    std::vector<std::string> options; // at most 8, 63 bytes each
    std::string comment;              // at most 127 bytes
    int qty = 0;
    long long sort_key = 0;
    int ordermenuidx = 0;
};

struct TicketRecord {
    TicketKind kind = TicketKind::Order;
    std::string ordernum;   // at most 31 bytes
    int orderidx = 0;
    std::string order_time; // at most 31 bytes
    int tablenum = 0;
    std::time_t pickup = 0; // 0: none
    bool unpaid = false;
    std::string request;    // at most 255 bytes
    std::vector<TicketLine> lines;
};

// Fills a record from the result data of store command 111.
TicketRecord ticket_from_json(std::string_view data, int orderidx);

// "[추가 주문표]" and so on, and the name used in the status messages.
std::string_view ticket_title(TicketKind kind);
std::string_view ticket_name(TicketKind kind);

// The ticket's ESC/POS bytes; now is the printing time of reprints and cancels.
Result<Document> build_ticket(PrinterRecord const& printer, KitchenStyle const& style, TicketRecord const& record,
    std::time_t now);

// The sample ticket of the kitchen printer test.
TicketRecord sample_ticket();

} // namespace tillbay::printing

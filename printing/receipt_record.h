#pragma once

// One order's receipt as the server sends it (store command 125), and what
// the counter does to it before printing: cancel mode, a card paid on a
// terminal outside the POS, a reissue, and merging the receipts of orders
// paid together. Texts are UTF-8, cut to the sizes below.

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace tillbay::printing {

inline constexpr size_t max_menu_lines = 64;
inline constexpr size_t max_cards = 4;
inline constexpr size_t max_options = 8;

struct MenuLine {
    std::string name; // the menu name and, in brackets, its options
    long long qty = 0;
    long long price = 0;
    long long amount = 0;
};

struct CardPayment {
    std::string issuer;
    std::string number; // masked, as the server sends it
    std::string installment;
    std::string approval;
    long long amount = 0;
    bool cancelled = false;
    long long cancel_amount = 0;
    std::string cancel_ref;
    std::string cancel_time;
    std::string sale_time;
};

struct ReceiptRecord {
    std::string shop_name;
    std::string address;
    std::string biznumber;
    std::string representative;
    std::string tel;
    std::string tid;
    int vat = 1;
    std::string ordernum;
    std::string order_time;
    int tablenum = 0;
    std::string paymethod;
    std::string request;
    long long total = 0;
    long long points = 0;
    long long mileage = 0;
    long long paid = 0;
    std::vector<MenuLine> menus;
    std::vector<CardPayment> cards;
    int status = 0;
    std::string cancel_time;

    bool cancel_mode = false;
    bool reissue = false;
    std::string reissue_time;
};

// Fills a record from the result data of store command 125.
ReceiptRecord receipt_from_json(std::string_view data);

// "%04d-%02d-%02d %02d:%02d" in local time.
std::string local_minute_text(std::time_t when);
// A card's date (YYYYMMDD) and time (HHMMSS) as "YYYY-MM-DD HH:MM"; empty
// for a date shorter than 8 characters.
std::string card_time_text(std::string_view date, std::string_view time);

struct Adjustment {
    bool cancel = false;            // the caller asks for a cancel receipt
    bool external_terminal = false; // the card was paid on a terminal outside the POS
    bool reissue = false;
    std::time_t now = 0;            // for the reissue time
};
void adjust(ReceiptRecord& record, Adjustment const& adjustment);

// Adds another order's receipt into a combined one.
void merge(ReceiptRecord& combined, ReceiptRecord const& other);

// Whether a pay method is cash.
bool is_cash(std::string_view paymethod);

} // namespace tillbay::printing

#include "printing/receipt_record.h"

#include "base/ascii.h"
#include "printing/json_reader.h"
#include "printing/utf8_text.h"

#include <cstdio>

namespace tillbay::printing {

namespace {

namespace jr = json_reader;

// A text field of the given buffer size (the text holds size - 1 bytes at
// most); line breaks and tabs become blanks so a memo stays one paragraph.
std::string field(std::string_view object, std::string_view key, size_t size)
{
    std::string text = jr::text(jr::member(object, key), size - 1);
    for (char& c : text) {
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    }
    return text;
}

long long number(std::string_view object, std::string_view key, long long default_value = 0)
{
    return jr::integer(jr::member(object, key), default_value);
}

int small_number(std::string_view object, std::string_view key, int default_value = 0)
{
    long long value = number(object, key, default_value);
    return value > INT32_MAX ? INT32_MAX : (value < INT32_MIN ? INT32_MIN : static_cast<int>(value));
}

// Appends within the limit, never splitting a character; false when the
// piece did not fit whole.
bool append_within(std::string& text, std::string_view piece, size_t max_bytes)
{
    if (text.size() + piece.size() > max_bytes) {
        text += cut_utf8(piece, max_bytes - text.size());
        return false;
    }
    text += piece;
    return true;
}

MenuLine menu_line(std::string_view object)
{
    MenuLine line;
    constexpr size_t max_name = 127;
    line.name = field(object, "mname", max_name + 1);
    auto options = jr::elements(jr::member(object, "options").value_or(std::string_view {}));
    std::string names;
    size_t used = 0;
    for (auto option : options) {
        if (used == max_options)
            break;
        std::string name = field(option, "optionname", max_name + 1);
        if (name.empty())
            continue;
        if (used++ > 0)
            names += ", ";
        names += name;
    }
    if (!names.empty() && !line.name.empty()) {
        if (append_within(line.name, " (", max_name) && append_within(line.name, names, max_name))
            append_within(line.name, ")", max_name);
    }
    line.qty = number(object, "qty");
    line.price = number(object, "price");
    line.amount = number(object, "amount");
    return line;
}

CardPayment card(std::string_view object)
{
    CardPayment card;
    card.issuer = field(object, "issueCardName", 64);
    card.number = field(object, "cardNoEnc", 64);
    card.installment = field(object, "installment", 32);
    card.approval = field(object, "applNo", 32);
    card.amount = number(object, "amount");
    std::string cancelled = field(object, "cancelYN", 8);
    card.cancelled = cancelled == "Y" || cancelled == "y";
    card.cancel_amount = number(object, "cancelAmount");
    card.cancel_ref = field(object, "cancelRefNo", 32);
    card.cancel_time = card_time_text(field(object, "cancelDate", 32), field(object, "cancelTime", 32));
    card.sale_time = card_time_text(field(object, "tranDate", 32), field(object, "tranTime", 32));
    return card;
}

} // namespace

std::string local_minute_text(std::time_t when)
{
    std::tm local {};
    localtime_r(&when, &local);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
        local.tm_hour, local.tm_min);
    return text;
}

std::string card_time_text(std::string_view date, std::string_view time)
{
    if (date.size() < 8)
        return {};
    std::string text;
    text.append(date.substr(0, 4)).append("-").append(date.substr(4, 2)).append("-").append(date.substr(6, 2));
    if (time.size() >= 4)
        text.append(" ").append(time.substr(0, 2)).append(":").append(time.substr(2, 2));
    return text;
}

ReceiptRecord receipt_from_json(std::string_view data)
{
    ReceiptRecord record;
    record.shop_name = field(data, "shopname", 128);
    record.address = field(data, "address", 256);
    record.biznumber = field(data, "biznumber", 64);
    for (char const* key : { "bizname", "ownername", "ceoname" }) {
        record.representative = field(data, key, 64);
        if (!record.representative.empty())
            break;
    }
    record.tel = field(data, "tel", 64);
    record.tid = field(data, "tid", 64);
    record.vat = small_number(data, "vat", 1);
    record.ordernum = field(data, "ordernum", 32);
    record.order_time = field(data, "idate", 32);
    record.tablenum = small_number(data, "tablenum");
    record.paymethod = field(data, "paymethod", 32);
    record.request = field(data, "requestmemo", 256);
    record.total = number(data, "totalamount");
    record.points = number(data, "usekjeon");
    record.mileage = number(data, "usemilege");
    record.paid = number(data, "payamount");
    for (auto menu : jr::elements(jr::member(data, "menus").value_or(std::string_view {}))) {
        if (record.menus.size() == max_menu_lines)
            break;
        MenuLine line = menu_line(menu);
        if (!line.name.empty())
            record.menus.push_back(std::move(line));
    }
    for (auto object : jr::elements(jr::member(data, "cards").value_or(std::string_view {}))) {
        if (record.cards.size() == max_cards)
            break;
        record.cards.push_back(card(object));
    }
    record.status = small_number(data, "status");
    long long udate = number(data, "udate");
    if (udate > 0)
        record.cancel_time = local_minute_text(static_cast<std::time_t>(udate));
    return record;
}

bool is_cash(std::string_view paymethod)
{
    return paymethod == "CASH" || paymethod.find("현금") != std::string_view::npos;
}

void adjust(ReceiptRecord& record, Adjustment const& adjustment)
{
    record.cancel_mode = adjustment.cancel || record.status == 4;
    if (record.cancel_mode) {
        if (!record.cards.empty() && !record.cards.front().cancel_time.empty())
            record.cancel_time = record.cards.front().cancel_time;
    } else {
        std::erase_if(record.cards, [](CardPayment const& card) { return card.cancelled; });
        record.cancel_time.clear();
    }
    if (adjustment.external_terminal) {
        record.paymethod = "카드 단말기(POS 밖)";
        record.status = 0;
        record.cancel_mode = false;
        record.cancel_time.clear();
    }
    if (adjustment.reissue) {
        record.reissue = true;
        record.reissue_time = local_minute_text(adjustment.now);
    }
}

void merge(ReceiptRecord& combined, ReceiptRecord const& other)
{
    for (auto const& line : other.menus) {
        bool added = false;
        for (auto& mine : combined.menus) {
            if (mine.name == line.name && mine.price == line.price) {
                mine.qty += line.qty;
                mine.amount += line.amount;
                added = true;
                break;
            }
        }
        if (!added && combined.menus.size() < max_menu_lines)
            combined.menus.push_back(line);
    }
    combined.total += other.total;
    combined.paid += other.paid;
    combined.points += other.points;
    combined.mileage += other.mileage;
    if (!other.ordernum.empty()) {
        combined.ordernum = cut_utf8(combined.ordernum + "+" + other.ordernum, 31);
    }
    if (!other.request.empty() && combined.request.find(other.request) == std::string::npos) {
        std::string joined = combined.request.empty() ? other.request : combined.request + " / " + other.request;
        combined.request = cut_utf8(joined, 255);
    }
    for (auto const& card : other.cards) {
        if (combined.cards.size() < max_cards)
            combined.cards.push_back(card);
    }
}

} // namespace tillbay::printing

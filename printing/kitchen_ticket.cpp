#include "printing/kitchen_ticket.h"

#include "printing/json_reader.h"
#include "printing/utf8_text.h"

#include <algorithm>
#include <cstdio>

namespace tillbay::printing {

namespace {

namespace jr = json_reader;

constexpr long long position_key_base = 1'000'000'000;

bool is_default_option(std::string_view name)
{
    return name == "기본" || name == "기본선택" || name == "없음" || name == "선택안함";
}

std::string local_text(std::time_t when, char const* format)
{
    std::tm tm {};
    localtime_r(&when, &tm);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, format, &tm);
    return buffer;
}

// Writes one text block's size and weight, and gives its usable width.
class TicketWriter {
public:
    TicketWriter(DocumentWriter& writer)
        : w(writer)
    {
    }

    int size(int size, bool bold)
    {
        size = std::clamp(size, 0, 3);
        unsigned char n = size == 1 ? 0x10 : size == 2 ? 0x30 : 0x00;
        if (bold)
            n |= 0x08;
        char bytes[6] = { 0x1b, '!', static_cast<char>(n), 0x1d, '!', static_cast<char>(size == 3 ? 0x22 : 0x00) };
        w.command(std::string_view(bytes, 6));
        int columns = w.columns();
        m_usable = size <= 1 ? columns : size == 2 ? columns / 2 : columns / 3;
        return m_usable;
    }

    void line(std::string_view text)
    {
        w.text(text);
        w.newline();
    }

    // text cut by display width into lines of width columns, each indented.
    void wrapped(std::string_view text, int columns, int indent)
    {
        std::string pad(static_cast<size_t>(indent), ' ');
        columns = std::max(columns, 1);
        while (!text.empty()) {
            size_t fit = fit_width(text, columns);
            if (fit == 0)
                fit = 1; // a character wider than the line still goes, alone
            line(pad + std::string(text.substr(0, fit)));
            text.remove_prefix(fit);
        }
    }

    // The name with the quantity at the right edge of the usable width.
    void name_line(std::string_view name, int qty)
    {
        std::string quantity = std::to_string(std::max(qty, 1));
        int qty_width = static_cast<int>(quantity.size());
        int usable = std::max(m_usable, qty_width + 2);
        std::string_view rest = name;
        while (display_width(rest) > usable) {
            size_t fit = fit_width(rest, usable);
            if (fit == 0)
                fit = 1;
            line(rest.substr(0, fit));
            rest.remove_prefix(fit);
        }
        int width = display_width(rest);
        if (width + 1 + qty_width <= usable) {
            line(std::string(rest) + std::string(static_cast<size_t>(usable - width - qty_width), ' ') + quantity);
        } else {
            line(rest);
            line(std::string(static_cast<size_t>(usable - qty_width), ' ') + quantity);
        }
    }

    int usable() const { return m_usable; }

    DocumentWriter& w;

private:
    int m_usable = 48;
};

} // namespace

TicketRecord ticket_from_json(std::string_view data, int orderidx)
{
    TicketRecord r;
    r.orderidx = orderidx;
    r.ordernum = jr::text(jr::member(data, "ordernum"), 31);
    r.order_time = jr::text(jr::member(data, "idate"), 31);
    r.tablenum = static_cast<int>(jr::integer(jr::member(data, "tablenum"), 0));
    long long paystatus = jr::integer(jr::member(data, "paystatus"), 1);
    r.unpaid = paystatus == 0 || paystatus == 2;
    r.request = jr::text(jr::member(data, "requestmemo"), 255);
    size_t position = 0;
    for (auto menu : jr::elements(jr::member(data, "menus").value_or(""))) {
        if (r.lines.size() >= max_ticket_lines)
            break;
        TicketLine line;
        line.name = jr::text(jr::member(menu, "mname"), 127);
        ++position;
        if (line.name.empty())
            continue;
        line.comment = jr::text(jr::member(menu, "comment"), 127);
        line.qty = static_cast<int>(std::clamp<long long>(jr::integer(jr::member(menu, "qty"), 0), -1'000'000, 1'000'000));
        line.ordermenuidx = static_cast<int>(jr::integer(jr::member(menu, "ordermenuidx"), 0));
        line.sort_key = position_key_base + static_cast<long long>(position);
        size_t looked = 0;
        for (auto option : jr::elements(jr::member(menu, "options").value_or(""))) {
            if (looked++ >= options_looked_at || line.options.size() >= max_ticket_options)
                break;
            std::string name = jr::text(jr::member(option, "optionname"), 63);
            long long price = jr::integer(jr::member(option, "optionprice"), 0);
            if (name.empty() || (price == 0 && is_default_option(name)))
                continue;
            line.options.push_back(std::move(name));
        }
        r.lines.push_back(std::move(line));
    }
    return r;
}

std::string_view ticket_title(TicketKind kind)
{
    switch (kind) {
    case TicketKind::Additional:
        return "[추가 주문표]";
    case TicketKind::Cancel:
        return "[취소 주문표]";
    case TicketKind::Modified:
        return "[수정 주문표]";
    default:
        return "[주문표]";
    }
}

std::string_view ticket_name(TicketKind kind)
{
    switch (kind) {
    case TicketKind::Additional:
        return "추가 주문표";
    case TicketKind::Cancel:
        return "취소 주문표";
    case TicketKind::Modified:
        return "수정 주문표";
    default:
        return "주문표";
    }
}

Result<Document> build_ticket(PrinterRecord const& printer, KitchenStyle const& style, TicketRecord const& record,
    std::time_t now)
{
    DocumentWriter writer(printer, ticket_capacity, WithView::No);
    TicketWriter t(writer);
    int const font = std::clamp(style.font, 0, 3);
    int const base = font >= 2 ? 1 : 0;

    writer.command(escpos::initialise);
    if (style.lsp > 0)
        writer.line_spacing((printer.linespacing == 0 ? 30 : printer.linespacing) + style.lsp * 8);
    else if (printer.linespacing > 0)
        writer.line_spacing(printer.linespacing);
    else
        writer.command(escpos::default_spacing);
    static constexpr int top_lines[] = { 0, 1, 3 };
    for (int i = 0; i < top_lines[std::clamp(style.top, 0, 2)]; ++i)
        writer.newline();

    writer.align_center(true);
    t.size(font + 1, true);
    t.line(ticket_title(record.kind));
    t.size(base, false);
    if (record.kind == TicketKind::Reprint)
        t.line("(재출력)");
    writer.align_center(false);
    writer.feed_dots(printer.biggap);
    writer.rule('-');

    t.size(style.szno + font, style.bno != 0);
    if (record.tablenum > 0)
        t.line("테이블 " + std::to_string(record.tablenum));
    else
        t.line(record.pickup != 0 ? "포장 예약" : "포장");
    if (record.pickup != 0)
        t.line("픽업 " + local_text(record.pickup, "%H:%M"));
    if (!record.ordernum.empty() && record.ordernum != "0")
        t.line("주문번호: " + record.ordernum);
    else if (record.orderidx > 0)
        t.line("접수 #" + std::to_string(record.orderidx));

    long long total = 0;
    for (size_t i = 0; i < record.lines.size() && i < max_ticket_lines; ++i)
        total += std::max(record.lines[i].qty, 1);
    t.size(style.sztotal + font, style.btotal != 0);
    t.line("총주문: " + std::to_string(total));

    if (record.unpaid) {
        t.size(base, true);
        t.line("※ 미결제 (아직 돈을 받지 않은 주문)");
        t.size(base, false);
        writer.feed_dots(printer.biggap);
    }

    t.size(base, false);
    writer.rule('-');
    writer.left_right("메뉴명", "수량");
    for (size_t i = 0; i < record.lines.size() && i < max_ticket_lines; ++i) {
        TicketLine const& line = record.lines[i];
        t.size(style.szname + font, style.bname != 0);
        t.name_line(line.name, line.qty);
        int option_width = std::max(t.size(style.szopt + font, style.bopt != 0) - 2, 4);
        for (auto const& option : line.options)
            t.wrapped(option, option_width, 2);
        if (!line.comment.empty())
            t.wrapped("\"" + line.comment + "\"", option_width, 2);
        if (printer.biggap / 2 >= 1)
            writer.feed_dots(printer.biggap / 2);
    }
    t.size(base, false);
    writer.rule('-');

    if (!record.request.empty()) {
        int width = t.size(style.szmemo + font, style.bmemo != 0);
        t.wrapped("요청: " + record.request, width, 0);
        t.size(base, false);
        writer.rule('-');
    }
    writer.left_right(record.order_time, "TILLA POS");
    if (record.kind == TicketKind::Reprint || record.kind == TicketKind::Cancel) {
        std::string what = record.kind == TicketKind::Reprint ? "재출력" : "취소";
        t.line(what + " " + local_text(now, "%m-%d %H:%M"));
    }
    static constexpr int bottom_lines[] = { 2, 4, 6 };
    for (int i = 0; i < bottom_lines[std::clamp(style.bottom, 0, 2)]; ++i)
        writer.newline();
    if (printer.cut)
        writer.cut();
    return writer.finish("주문표");
}

TicketRecord sample_ticket()
{
    TicketRecord r;
    r.kind = TicketKind::Order;
    r.ordernum = "0367";
    r.order_time = "2026-09-07 14:32:05";
    r.request = "덜 맵게, 단무지 많이";
    r.tablenum = 4;
    r.lines.push_back({ "자장면", { "곱빼기" }, "", 2, position_key_base + 1, 0 });
    r.lines.push_back({ "탕수육 소", {}, "소스 따로", 1, position_key_base + 2, 0 });
    r.lines.push_back({ "삼선짬뽕 매운맛 세트", { "매운맛", "곱빼기" }, "", 1, position_key_base + 3, 0 });
    return r;
}

} // namespace tillbay::printing

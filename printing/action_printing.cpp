#include "printing/action_printing.h"

#include "printing/connection_address.h"
#include "printing/print_queue.h"

namespace tillbay::printing {

namespace {

// Quiet fetches report nothing.
class SilentPage final : public bridge::Page {
public:
    void callback(std::string_view, std::string_view) override { }
    void status(std::string_view) override { }
};

// The kitchen has seen an order when tickets print on arrival, or once it is paid.
bool kitchen_has_seen(KitchenStyle const& style, TicketRecord const& record)
{
    return style.when == 0 || !record.unpaid;
}

class CombinedReceipt final : public orders::ActionPrinter::Receipt {
public:
    CombinedReceipt(Receipts& receipts, orders::ActionPrinter::ReceiptKind kind, std::time_t now)
        : m_receipts(receipts)
        , m_kind(kind)
        , m_now(now)
    {
    }

    std::optional<long long> add(int orderidx) override
    {
        SilentPage silent;
        auto receipt = m_receipts.fetch(orderidx, Quiet::Yes, silent);
        if (!receipt)
            return std::nullopt;
        long long paid = receipt->paid;
        if (!m_combined)
            m_combined = std::move(*receipt);
        else
            merge(*m_combined, *receipt);
        ++m_count;
        return paid;
    }

    bool print(bridge::Page& page) override
    {
        if (!m_combined)
            return false;
        if (m_kind == orders::ActionPrinter::ReceiptKind::ExternalTerminal) {
            m_combined->paymethod = "카드 단말기(POS 밖)";
            Adjustment adjustment;
            adjustment.external_terminal = true;
            adjustment.now = m_now;
            adjust(*m_combined, adjustment);
            m_combined->reissue = false;
        } else if (m_count > 1) {
            m_combined->order_time = local_minute_text(m_now);
        }
        PrinterRecord printer = read_receipt_record();
        if (printer_is_none(printer))
            return false;
        m_receipts.print(*m_combined, false, page);
        return true;
    }

private:
    Receipts& m_receipts;
    orders::ActionPrinter::ReceiptKind m_kind;
    std::time_t m_now;
    std::optional<ReceiptRecord> m_combined;
    int m_count = 0;
};

class CancelPrinting final : public orders::ActionPrinter::CancelPrints {
public:
    std::optional<TicketRecord> ticket;
    std::optional<ReceiptRecord> receipt;
    KitchenPrinting* kitchen = nullptr;
    Receipts* receipts = nullptr;
    std::time_t now = 0;

    void print(bridge::Page& page) override
    {
        if (ticket)
            kitchen->print_record(*ticket, TicketKind::Cancel, 0, false, page);
        if (receipt) {
            Adjustment adjustment;
            adjustment.cancel = true;
            adjustment.now = now;
            adjust(*receipt, adjustment);
            receipts->print(*receipt, false, page);
        }
    }
};

class EditPrinting final : public orders::ActionPrinter::EditPrint {
public:
    std::optional<TicketRecord> ticket;
    KitchenPrinting* kitchen = nullptr;

    void print(int ordermenuidx, std::string_view menu_name, int removed, bridge::Page& page) override
    {
        if (!ticket)
            return;
        TicketRecord record = *ticket;
        TicketLine line;
        auto by_index = std::find_if(record.lines.begin(), record.lines.end(),
            [&](TicketLine const& l) { return l.ordermenuidx == ordermenuidx; });
        auto by_name = std::find_if(record.lines.begin(), record.lines.end(),
            [&](TicketLine const& l) { return !menu_name.empty() && l.name == menu_name; });
        if (by_index != record.lines.end())
            line = *by_index;
        else if (by_name != record.lines.end())
            line = *by_name;
        else
            line.name = menu_name.empty() ? std::string("메뉴") : std::string(menu_name);
        line.qty = removed;
        record.lines.assign(1, line);
        kitchen->print_record(std::move(record), TicketKind::Modified, 0, false, page);
    }
};

} // namespace

ActionPrinting::ActionPrinting(Receipts& receipts, KitchenPrinting& kitchen, std::function<PrinterRecord()> receipt_record,
    std::function<Status(PrinterRecord const&)> drawer, std::function<std::time_t()> now)
    : m_receipts(receipts)
    , m_kitchen(kitchen)
    , m_receipt_record(std::move(receipt_record))
    , m_drawer(std::move(drawer))
    , m_now(std::move(now))
{
}

std::unique_ptr<orders::ActionPrinter::Receipt> ActionPrinting::receipt(ReceiptKind kind)
{
    return std::make_unique<CombinedReceipt>(m_receipts, kind, m_now());
}

std::unique_ptr<orders::ActionPrinter::CancelPrints> ActionPrinting::prepare_cancel(int orderidx, bool no_ticket)
{
    auto prints = std::make_unique<CancelPrinting>();
    prints->kitchen = &m_kitchen;
    prints->receipts = &m_receipts;
    prints->now = m_now();
    auto ticket = m_kitchen.fetch(orderidx);
    KitchenRecord kitchen = read_kitchen_record();
    KitchenStyle style = read_kitchen_style();
    if (ticket && !no_ticket && kitchen.auto_print && !ticket->lines.empty() && kitchen_has_seen(style, *ticket))
        prints->ticket = *ticket;
    if (ticket && !ticket->unpaid && m_receipt_record().cancel_receipt) {
        SilentPage silent;
        auto receipt = m_receipts.fetch(orderidx, Quiet::Yes, silent);
        if (receipt && receipt->paid > 0)
            prints->receipt = std::move(*receipt);
    }
    return prints;
}

std::unique_ptr<orders::ActionPrinter::EditPrint> ActionPrinting::prepare_edit(int orderidx)
{
    auto print = std::make_unique<EditPrinting>();
    print->kitchen = &m_kitchen;
    auto ticket = m_kitchen.fetch(orderidx);
    KitchenRecord kitchen = read_kitchen_record();
    if (ticket && kitchen.auto_print && !ticket->lines.empty() && kitchen_has_seen(read_kitchen_style(), *ticket))
        print->ticket = std::move(*ticket);
    return print;
}

orders::DrawerResult ActionPrinting::open_drawer()
{
    PrinterRecord printer = m_receipt_record();
    if (printer_is_none(printer))
        return { orders::DrawerOutcome::NoPrinter, {} };
    if (!printer.drawer_enable)
        return { orders::DrawerOutcome::Off, {} };
    auto opened = m_drawer(printer);
    if (opened.ok())
        return { orders::DrawerOutcome::Opened, {} };
    return { orders::DrawerOutcome::Failed, opened.error().message };
}

} // namespace tillbay::printing

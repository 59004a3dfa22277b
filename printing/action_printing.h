#pragma once

// What the order actions print, made real: receipts through the receipt
// printer, cancel and modified tickets through the kitchen printer, the
// cancel receipt, and the drawer pulse.

#include "orders/action_printer.h"
#include "printing/kitchen_printing.h"
#include "printing/print_queue.h"
#include "printing/receipt_family.h"

#include <functional>

namespace tillbay::printing {

class ActionPrinting final : public orders::ActionPrinter {
public:
    ActionPrinting(Receipts& receipts, KitchenPrinting& kitchen,
        std::function<PrinterRecord()> receipt_record = [] { return read_receipt_record(); },
        std::function<Status(PrinterRecord const&)> drawer = [](PrinterRecord const& r) { return printing::open_drawer(r); },
        std::function<std::time_t()> now = [] { return std::time(nullptr); });

    std::unique_ptr<Receipt> receipt(ReceiptKind kind) override;
    std::unique_ptr<CancelPrints> prepare_cancel(int orderidx, bool no_ticket) override;
    std::unique_ptr<EditPrint> prepare_edit(int orderidx) override;
    orders::DrawerResult open_drawer() override;

private:
    Receipts& m_receipts;
    KitchenPrinting& m_kitchen;
    std::function<PrinterRecord()> m_receipt_record;
    std::function<Status(PrinterRecord const&)> m_drawer;
    std::function<std::time_t()> m_now;
};

} // namespace tillbay::printing

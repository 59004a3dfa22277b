#pragma once

// Printing as the program runs it: the printer and receipt commands in the
// `pc` and `order` slots of the bridge, and the print queue's results
// handed to the UI thread as the internal command "\x01printresult".

#include "bridge/bridge.h"
#include "orders/order_wiring.h"
#include "printing/action_printing.h"
#include "printing/kitchen_printing.h"
#include "printing/printer_setup_family.h"
#include "printing/receipt_family.h"

namespace tillbay::app {

class PrintingWiring {
public:
    explicit PrintingWiring(bridge::Bridge& bridge);
    ~PrintingWiring();

    PrintingWiring(PrintingWiring const&) = delete;
    PrintingWiring& operator=(PrintingWiring const&) = delete;

    // Registers the families and the print queue's result listener.
    void attach();
    // Kitchen tickets for the board's lists, and the prints of the order actions.
    void connect(orders::OrderWiring& orders);
    // The print result of an automatic kitchen ticket (print worker thread).
    void kitchen_result(bool ok, long long orderidx);
    // Jobs still waiting or being sent, for the close question.
    unsigned pending_jobs() const;
    // The end of the program: waiting jobs go, the job being sent gets a
    // moment to finish.
    void shut_down();

    printing::Receipts& receipts() { return m_receipts; }

private:
    bridge::Bridge& m_bridge;
    printing::PrinterSetupFamily m_setup_family;
    printing::Receipts m_receipts;
    printing::ReceiptFamily m_receipt_family;
    printing::KitchenPrinting m_kitchen;
    printing::KitchenFamily m_kitchen_family;
    printing::ActionPrinting m_action_printing;
};

} // namespace tillbay::app

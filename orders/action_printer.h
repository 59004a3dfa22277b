#pragma once

// What the order actions print: receipts after a payment or a terminal
// closing, the cancel ticket and cancel receipt of a cancelled order, the
// modified ticket of an edited line, and the drawer pulse. The printing
// subsystem implements it; the actions only say when, so they run in tests
// with a recording stand-in.

#include "base/result.h"
#include "bridge/family.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::orders {

enum class DrawerOutcome {
    Opened,
    NoPrinter, // the receipt printer is set to "none": nothing was sent
    Off,       // the drawer is switched off in the settings: nothing was sent
    Failed,
};

struct DrawerResult {
    DrawerOutcome outcome = DrawerOutcome::Failed;
    std::string reason; // for Failed
};

class ActionPrinter {
public:
    virtual ~ActionPrinter() = default;

    enum class ReceiptKind {
        Sale,             // a cash payment at the counter
        ExternalTerminal, // closed after a card payment on a terminal outside the POS
    };

    // One receipt for one or several orders, built up order by order.
    class Receipt {
    public:
        virtual ~Receipt() = default;
        // Fetches the order's receipt quietly and adds it: its amount paid,
        // or nothing when it could not be fetched.
        virtual std::optional<long long> add(int orderidx) = 0;
        // Prints what was added, once, reporting in the status message.
        // True when a job was handed to the printer.
        virtual bool print(bridge::Page& page) = 0;
    };
    virtual std::unique_ptr<Receipt> receipt(ReceiptKind kind) = 0;

    // What a cancel prints once the server has cancelled the order. Prepared
    // before the cancel is sent: afterwards the order reads as cancelled.
    class CancelPrints {
    public:
        virtual ~CancelPrints() = default;
        virtual void print(bridge::Page& page) = 0;
    };
    virtual std::unique_ptr<CancelPrints> prepare_cancel(int orderidx, bool no_ticket) = 0;

    // The modified ticket of an edited line, prepared from the order as it
    // was before the change.
    class EditPrint {
    public:
        virtual ~EditPrint() = default;
        virtual void print(int ordermenuidx, std::string_view menu_name, int removed, bridge::Page& page) = 0;
    };
    virtual std::unique_ptr<EditPrint> prepare_edit(int orderidx) = 0;

    // The drawer pulse on the receipt printer.
    virtual DrawerResult open_drawer() = 0;
};

} // namespace tillbay::orders

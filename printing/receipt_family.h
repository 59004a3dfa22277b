#pragma once

// Receipts for the `order` family: printreceipt (fetch the order's receipt
// from the server, adjust it, build it and print it) and receiptview (the
// same receipt as the on-screen view, drawn by the page at the paper's
// width). The fetch, the printing and the merge are also offered to the
// order actions, which print after cash payments and terminal closings.

#include "base/result.h"
#include "bridge/family.h"
#include "printing/printer_settings.h"
#include "printing/receipt_record.h"
#include "server/api.h"

#include <ctime>
#include <functional>
#include <optional>
#include <string_view>

namespace tillbay::printing {

inline constexpr char const* text_receipt_fetch_failed = "영수증 정보를 받지 못했습니다";

struct ReceiptHooks {
    // Sends a store command; fails when no answer came.
    std::function<Result<api::StoreResult>(std::string_view command)> store_call;
    std::function<Status(PrinterRecord const&, std::string_view bytes, long long tag)> print;
    std::function<std::time_t()> now;

    // The real API call, the program's print queue and the clock.
    static ReceiptHooks standard();
};

enum class Quiet {
    No,
    Yes,
};

class Receipts {
public:
    explicit Receipts(ReceiptHooks hooks = ReceiptHooks::standard());

    // Store command 125 for the signed-in store; failures are shown unless quiet.
    std::optional<ReceiptRecord> fetch(int orderidx, Quiet quiet, bridge::Page& page);
    // Prints on the receipt printer and says so in the status message. A
    // printer set to "none" prints nothing, and says so only when the staff
    // asked for this receipt explicitly.
    void print(ReceiptRecord const& receipt, bool explicit_request, bridge::Page& page);

private:
    ReceiptHooks m_hooks;
};

class ReceiptFamily final : public bridge::Family {
public:
    explicit ReceiptFamily(Receipts& receipts, std::function<std::time_t()> now = [] { return std::time(nullptr); })
        : m_receipts(receipts)
        , m_now(std::move(now))
    {
    }

    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override;
    bridge::Runs runs(std::string_view name) const override;

private:
    Receipts& m_receipts;
    std::function<std::time_t()> m_now;
};

} // namespace tillbay::printing

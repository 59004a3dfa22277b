#include "printing/receipt_family.h"

#include "base/ascii.h"
#include "foundation/log.h"
#include "printing/connection_address.h"
#include "printing/print_queue.h"
#include "printing/receipt_layout.h"
#include "session/session.h"

namespace tillbay::printing {

ReceiptHooks ReceiptHooks::standard()
{
    ReceiptHooks hooks;
    hooks.store_call = [](std::string_view command) { return api::store_call(command); };
    hooks.print = [](PrinterRecord const& record, std::string_view bytes, long long tag) {
        return printing::print(record, bytes, tag);
    };
    hooks.now = [] { return std::time(nullptr); };
    return hooks;
}

Receipts::Receipts(ReceiptHooks hooks)
    : m_hooks(std::move(hooks))
{
}

std::optional<ReceiptRecord> Receipts::fetch(int orderidx, Quiet quiet, bridge::Page& page)
{
    if (!session::staff_signed_in()) {
        if (quiet == Quiet::No)
            page.status(text_receipt_fetch_failed);
        return std::nullopt;
    }
    std::string command
        = "cmd=125&storeidx=" + std::to_string(session::storeidx()) + "&orderidx=" + std::to_string(orderidx);
    auto answer = m_hooks.store_call(command);
    if (!answer.ok()) {
        if (quiet == Quiet::No)
            page.status(text_receipt_fetch_failed);
        return std::nullopt;
    }
    api::StoreResult const& result = answer.value();
    if (!result.accepted()) {
        if (quiet == Quiet::No)
            page.status(result.refusal(text_receipt_fetch_failed));
        return std::nullopt;
    }
    return receipt_from_json(result.resultData);
}

void Receipts::print(ReceiptRecord const& receipt, bool explicit_request, bridge::Page& page)
{
    PrinterRecord printer = read_receipt_record();
    if (printer_is_none(printer)) {
        if (explicit_request)
            page.status("프린터 없음으로 설정되어 있어 인쇄하지 않았습니다 (설정 → 프린터 연결)");
        return;
    }
    std::string name = receipt.cancel_mode ? "취소 영수증" : "영수증";
    auto document = build_receipt(receipt, printer, WithView::No);
    if (!document.ok()) {
        page.status(document.error().message.empty() ? name + " 내용을 만들지 못했습니다" : document.error().message);
        return;
    }
    auto printed = m_hooks.print(printer, document.value().bytes, 0);
    if (printed.ok())
        page.status(name + " 인쇄 요청을 보냈습니다");
    else
        page.status(name + " 인쇄 실패 — " + printed.error().message);
}

bridge::Runs ReceiptFamily::runs(std::string_view name) const
{
    return name == "printreceipt" || name == "receiptview" ? bridge::Runs::OnLane : bridge::Runs::OnUiThread;
}

bridge::Handled ReceiptFamily::handle(bridge::Command const& command, bridge::Page& page)
{
    std::string_view name = command.name();
    if (name != "printreceipt" && name != "receiptview")
        return bridge::Handled::No;
    int orderidx = ascii::leading_int(command.arg(1));
    bool view = name == "receiptview";
    Adjustment adjustment;
    adjustment.cancel = ascii::leading_int(command.arg(2)) > 0;
    adjustment.reissue = !view && ascii::leading_int(command.arg(3)) > 0;
    adjustment.external_terminal = ascii::leading_int(command.arg(view ? 3 : 4)) > 0;
    adjustment.now = m_now();

    auto receipt = m_receipts.fetch(orderidx, Quiet::No, page);
    if (!view) {
        if (!receipt)
            return bridge::Handled::Yes;
        adjust(*receipt, adjustment);
        m_receipts.print(*receipt, adjustment.reissue, page);
        return bridge::Handled::Yes;
    }
    std::string answer = "null";
    if (receipt) {
        adjust(*receipt, adjustment);
        auto document = build_receipt(*receipt, read_receipt_record(), WithView::Yes);
        if (document.ok())
            answer = std::move(document.value().view);
    }
    page.callback("setReceiptView", std::to_string(orderidx) + "," + answer);
    return bridge::Handled::Yes;
}

} // namespace tillbay::printing

#include "printing_wiring.h"

#include "printing/print_queue.h"

#include <cstdint>
#include <string>

namespace tillbay::app {

namespace {

// How long the end of the program waits for a job that is being sent.
constexpr int shutdown_wait_ms = 2000;

} // namespace

PrintingWiring::PrintingWiring(bridge::Bridge& bridge)
    : m_bridge(bridge)
    , m_receipt_family(m_receipts)
    , m_kitchen_family(m_kitchen)
    , m_action_printing(m_receipts, m_kitchen)
{
}

PrintingWiring::~PrintingWiring() { shut_down(); }

void PrintingWiring::attach()
{
    m_bridge.add_family(bridge::FamilySlot::Pc, &m_setup_family);
    m_bridge.add_family(bridge::FamilySlot::Order, &m_receipt_family);
    m_bridge.add_family(bridge::FamilySlot::Order, &m_kitchen_family);
    m_bridge.add_family(bridge::FamilySlot::Pc, &m_kitchen_family);
    // The printed mark, the moment the printer has the ticket's last byte.
    printing::print_queue().set_accepted_listener([this](long long tag) {
        if (tag > 0 && tag <= INT32_MAX)
            m_kitchen.accepted(static_cast<int>(tag));
    });
    printing::print_queue().set_listener([this](bool ok, std::string const& message, long long tag) {
        // A kitchen ticket's outcome goes into the print journal at once, on
        // the print worker.
        if (tag > 0)
            kitchen_result(ok, tag);
        std::string text = "\x01printresult</>";
        text += ok ? "1" : "0";
        // The tag stays off the command: the journal has the outcome already.
        text += "</>" + message;
        m_bridge.queue_internal(std::move(text));
    });
}

void PrintingWiring::connect(orders::OrderWiring& orders)
{
    orders.board().set_kitchen_printing(
        [this](int storeidx, std::string_view list, bridge::Page& page) { m_kitchen.on_list(storeidx, list, page); });
    orders.actions().set_printer(&m_action_printing);
}

// Runs on the print worker; the kitchen's bookkeeping has a lock of its own.
void PrintingWiring::kitchen_result(bool ok, long long orderidx)
{
    if (orderidx <= 0 || orderidx > INT32_MAX)
        return;
    if (ok) {
        m_kitchen.confirmed(static_cast<int>(orderidx));
        return;
    }
    if (auto toast = m_kitchen.failed(static_cast<int>(orderidx)))
        m_bridge.queue_internal("\x01toast</>" + *toast);
}

unsigned PrintingWiring::pending_jobs() const { return printing::pending_jobs(); }

void PrintingWiring::shut_down() { printing::print_queue().shut_down(shutdown_wait_ms); }

} // namespace tillbay::app

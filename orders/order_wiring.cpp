#include "orders/order_wiring.h"

namespace tillbay::orders {

OrderWiring::OrderWiring(bridge::Bridge& bridge, shell::AppQueue& app_queue)
    : m_bridge(bridge)
    , m_family(m_board)
    , m_push(m_board, app_queue)
{
}

void OrderWiring::attach() { m_bridge.set_family(bridge::FamilySlot::Order, &m_family); }

void OrderWiring::add_bridge_hooks(bridge::BridgeHooks& hooks)
{
    hooks.start_or_report_push_channel = [this](bridge::Page& page) { m_push.start_or_report(page); };
    hooks.refresh_order_board = [this](bridge::Page& page) {
        m_board.refresh(page);
        m_board.table_count(page);
    };
}

void OrderWiring::add_login_hooks(server::LoginHooks& hooks)
{
    hooks.push_store_changed = [this](int storeidx) { m_push.store_changed(storeidx); };
    hooks.push_stop = [this, before = std::move(hooks.push_stop)] {
        m_push.stop();
        if (before)
            before();
    };
}

bool OrderWiring::take_app_message(shell::AppMessage& message)
{
    if (message.id != shell::AppMessageId::OrderEvent)
        return false;
    auto* record = dynamic_cast<OrderEventMessage*>(message.payload.get());
    if (!record)
        return true;
    push::OrderEvent event = record->event;
    m_bridge.queue_push_event([this, event] {
        bridge::DocumentPage page = m_bridge.current_page();
        m_push.deliver(event, page);
    });
    return true;
}

void OrderWiring::shut_down() { m_push.stop(); }

} // namespace tillbay::orders

#include "orders/order_events.h"

#include "foundation/json_text.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "session/session.h"

namespace tillbay::orders {

std::string event_callback_name(std::string_view event)
{
    if (event == "NEWORDER")
        return "notifyNewOrder";
    if (event == "PAYING")
        return "notifyPaying";
    if (event == "PAYFAIL")
        return "notifyPayFail";
    return {};
}

PushSettings PushSettings::configured()
{
    auto const& server = settings::server();
    return PushSettings { server.host, server.relayport, settings::relay_header() };
}

PushLink::PushLink(OrderBoard& board, shell::AppQueue& app_queue, std::function<PushSettings()> settings)
    : m_board(board)
    , m_app_queue(app_queue)
    , m_settings(std::move(settings))
{
}

void PushLink::start_or_report(bridge::Page& page)
{
    if (m_channel.running()) {
        bool on = m_channel.state() == push::ChannelState::Receiving;
        page.callback("setRelayState",
            json::quote(on ? "on" : "off") + "," + json::quote(on ? push::text::receiving : push::text::waiting));
        return;
    }
    PushSettings settings = m_settings();
    if (settings.header.empty()) {
        page.status(push::text::header_missing);
        return;
    }
    m_channel.stop();
    push::ChannelConfig config;
    config.host = settings.host;
    config.port = settings.relayport;
    config.header = std::move(settings.header);
    config.storeidx = session::storeidx();
    config.devicetype = 1;
    shell::AppQueue* queue = &m_app_queue;
    config.callbacks.event = [queue](push::OrderEvent const& event) {
        log::bridge("RELAY", "수신 " + event.event + " #" + std::to_string(event.orderidx));
        queue->post_payload(shell::AppMessageId::OrderEvent, std::make_unique<OrderEventMessage>(event));
    };
    config.callbacks.connected = [queue] { queue->post(shell::AppMessageId::Resync); };
    config.callbacks.state = [this, queue](push::ChannelState state, std::string const& text) {
        if (state == push::ChannelState::Failed) {
            std::lock_guard lock(m_log_lock);
            if (text != m_last_failure) {
                m_last_failure = text;
                log::bridge("RELAY", "연결 실패 — " + text);
            }
        } else if (state == push::ChannelState::Receiving) {
            std::lock_guard lock(m_log_lock);
            m_last_failure.clear();
            log::bridge("RELAY", "연결됨");
        }
        queue->post_text(shell::AppMessageId::RelayState, static_cast<int64_t>(state), text);
    };
    if (!m_channel.start(std::move(config)))
        log::bridge("RELAY", "주문 알림 연결을 시작하지 못했습니다 (서버 주소 또는 포트 없음)");
}

void PushLink::store_changed(int storeidx) { m_channel.set_store(storeidx); }

void PushLink::stop() { m_channel.stop(); }

void PushLink::deliver(push::OrderEvent const& event, bridge::Page& page)
{
    m_board.refresh(page);
    std::string name = event_callback_name(event.event);
    if (!name.empty())
        page.callback(name, std::to_string(event.orderidx));
}

} // namespace tillbay::orders

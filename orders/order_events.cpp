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

PushLink::PushLink(OrderBoard& board, bridge::Bridge& bridge, std::function<PushSettings()> settings)
    : m_board(board)
    , m_bridge(bridge)
    , m_settings(std::move(settings))
    , m_reloads([&bridge](std::chrono::milliseconds delay,
                     std::function<void()> job) { bridge.run_on_lane_after(delay, std::move(job)); },
          [this](std::vector<bridge::OrderNotice> notices) { reload(std::move(notices)); })
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
    bridge::Bridge* bridge = &m_bridge;
    config.callbacks.event = [bridge](push::OrderEvent const& event) {
        log::bridge("RELAY", "수신 " + event.event + " #" + std::to_string(event.orderidx));
        bridge->queue_push_event(bridge::OrderNotice { event.storeidx, event.orderidx, event.event });
    };
    config.callbacks.connected = [bridge] { bridge->queue_push_event(bridge::OrderNotice {}); };
    config.callbacks.state = [this](push::ChannelState state, std::string const& text) { report_state(state, text); };
    if (!m_channel.start(std::move(config)))
        log::bridge("RELAY", "주문 알림 연결을 시작하지 못했습니다 (서버 주소 또는 포트 없음)");
}

void PushLink::report_state(push::ChannelState state, std::string const& text)
{
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
    bool on = state == push::ChannelState::Receiving;
    m_bridge.service_state().set_channel_state(on);
    m_bridge.post_ui([bridge = &m_bridge, on, text] {
        bridge->call("setRelayState", json::quote(on ? "on" : "off") + "," + json::quote(text));
    });
}

void PushLink::store_changed(int storeidx) { m_channel.set_store(storeidx); }

void PushLink::stop() { m_channel.stop(); }

void PushLink::deliver(std::vector<bridge::OrderNotice> notices) { m_reloads.request(std::move(notices)); }

void PushLink::reload(std::vector<bridge::OrderNotice> notices)
{
    auto page = bridge::DocumentPage::current_while_signed_in(m_bridge, session::epoch());
    answer(notices, page);
}

void PushLink::answer(std::vector<bridge::OrderNotice> const& notices, bridge::Page& page)
{
    m_board.refresh(page);
    for (auto const& notice : notices) {
        std::string name = event_callback_name(notice.event);
        if (!name.empty())
            page.callback(name, std::to_string(notice.orderidx));
    }
}

} // namespace tillbay::orders

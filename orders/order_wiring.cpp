#include "orders/order_wiring.h"

#include "foundation/settings.h"
#include "server/transport.h"
#include "session/session.h"

namespace tillbay::orders {

namespace {

// The outage watch's probe: a connection the API server accepts (and, with
// TLS, completes its handshake on) means signing in can work again.
constexpr int reachable_probe_ms = 3000;

bool platform_reachable()
{
    auto endpoint = api::configured_endpoint();
    if (endpoint.host.empty() || endpoint.port <= 0)
        return false;
    return transport::Connection::open(endpoint.host, endpoint.port, reachable_probe_ms).ok();
}

} // namespace

OrderWiring::OrderWiring(bridge::Bridge& bridge)
    : m_bridge(bridge)
    , m_family(m_board)
    , m_taking(TakingHooks::standard())
    , m_lock_family(m_lock)
    , m_actions(m_board,
          ActionHooks {
              .store_call = [](std::string_view command) { return api::store_call(command); },
              .need_lock = [this](std::string_view action, std::string_view detail,
                               bridge::Page& page) { return m_lock.need_lock(action, detail, page); },
              .printer = nullptr,
          })
    , m_action_family(m_actions)
    , m_push(m_board, bridge)
    , m_outage(m_board,
          OutageHooks {
              [this](std::string_view page) {
                  if (m_navigate)
                      m_navigate(page);
              },
              platform_reachable,
              [this] { m_push.reloads().request({}); },
              [] { return settings::server().storeidx; },
              [] { return session::staff_signed_in(); },
          })
{
}

void OrderWiring::attach()
{
    m_bridge.add_family(bridge::FamilySlot::Order, &m_family);
    m_taking.hooks().refresh_orders = [this](bridge::Page& page) { m_board.refresh(page); };
    m_bridge.add_family(bridge::FamilySlot::Order, &m_taking);
    m_bridge.add_family(bridge::FamilySlot::Order, &m_action_family);
    m_bridge.add_family(bridge::FamilySlot::Pc, &m_lock_family);
    m_bridge.add_family(bridge::FamilySlot::Order, &m_outage);
    m_bridge.set_push_handler([this](std::vector<bridge::OrderNotice> notices) { m_push.deliver(std::move(notices)); });
    m_outage.start();
}

void OrderWiring::add_bridge_hooks(bridge::BridgeHooks& hooks)
{
    // The journal may be held by another POS process for a moment, so it is
    // read on the lane.
    hooks.send_order_request_context = [this](bridge::DocumentPage const& page) {
        m_bridge.run_on_lane([this, answer = bridge::DocumentPage(page)]() mutable { m_taking.send_request_context(answer); });
    };
    hooks.start_or_report_push_channel = [this](bridge::Page& page) { m_push.start_or_report(page); };
    hooks.refresh_order_board = [this](bridge::DocumentPage const& page) {
        m_bridge.run_on_lane([this, answer = bridge::DocumentPage(page)]() mutable {
            m_board.refresh(answer);
            m_board.table_count(answer);
        });
    };
    hooks.show_kept_board = [this](bridge::DocumentPage const& page) {
        m_bridge.run_on_lane([this, answer = bridge::DocumentPage(page)]() mutable { m_outage.show(answer); });
    };
}

void OrderWiring::add_login_hooks(server::LoginHooks& hooks)
{
    m_navigate = hooks.navigate;
    hooks.push_store_changed = [this](int storeidx) { m_push.store_changed(storeidx); };
    hooks.push_stop = [this, before = std::move(hooks.push_stop)] {
        m_outage.leave_kept_view();
        m_push.stop();
        if (before)
            before();
    };
    hooks.offer_kept_board = [this](bridge::Page& page) { m_outage.offer(page); };
}

void OrderWiring::shut_down()
{
    m_outage.stop();
    m_push.stop();
}

} // namespace tillbay::orders

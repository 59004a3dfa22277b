#include "nav_wiring.h"

#include "foundation/log.h"
#include "foundation/settings.h"
#include "os/process.h"
#include "session/session.h"
#include "shell/web_host.h"
#include "update/bundle.h"
#include "update/self_update.h"

namespace tillbay::app {

namespace {

constexpr std::string_view address_page_entry = "old:setaddress.html";

} // namespace

NavWiring::NavWiring(bridge::PagePolicy const& policy, MainView& view, Context context)
    : m_policy(policy)
    , m_view(view)
    , m_bridge(view.bridge())
    , m_context(std::move(context))
    , m_autostart(os::desktop_autostart())
    , m_router(shell::RouterHooks {
          [this] { return m_bridge.service_state().block(); },
          [] { return session::staff_signed_in(); },
          [] { return session::owner_signed_in(); },
          [] { return settings::server().webhost; },
          [this](std::string_view path, bridge::Page& page) { return page_check(path, page); },
          [this](std::string_view address) { return m_policy.classify(address, bridge::ViewKind::Main) != bridge::PageClass::None; },
          [this](std::string const& address) { m_view.navigate(address); },
          [this](std::string_view name) { m_view.host().open_local_page(name); },
          bridge::ui_origin(),
      })
    , m_nav_family(m_router, [] { return session::staff_signed_in(); })
    , m_preferences(*m_autostart,
          shell::PreferenceHooks {
              [] { return os::process::own_executable(); },
              [this] { m_view.navigate(m_policy.address_page_address()); },
              [this] {
                  m_bridge.post_ui([this] {
                      m_router.history().remove_newest_if(address_page_entry);
                      auto page = m_bridge.current_page();
                      m_router.route("info.html", page);
                  });
              },
              {},
              [this] {
                  if (m_context.play_test_sound)
                      m_context.play_test_sound();
              },
          })
    , m_relay([](os::http::Request const& request) { return shell::web_host_request(settings::server().webhost, request); },
          bridge::ui_origin(), bridge::api_origin())
{
}

NavWiring::~NavWiring()
{
    shut_down();
    m_view.set_relay(nullptr);
    m_view.set_on_committed({});
}

void NavWiring::attach()
{
    m_bridge.add_family(bridge::FamilySlot::Pc, &m_preferences);
    m_bridge.add_family(bridge::FamilySlot::Nav, &m_nav_family);
    m_view.set_relay(&m_relay);
    m_view.set_on_committed([this](std::string const& address) { m_router.committed(address); });
}

void NavWiring::add_bridge_hooks(bridge::BridgeHooks& hooks)
{
    hooks.take_first_run_request = [this] { return m_router.take_first_run_request(); };
    hooks.route_page = [this](std::string_view name) {
        auto page = m_bridge.current_page();
        m_router.route(name, page);
    };
}

void NavWiring::open_page(std::string_view name)
{
    m_bridge.on_ui([this, name = std::string(name)] {
        if (name == "login.html" || name == "orders.html") {
            m_router.open_local(name);
            return;
        }
        // A page after a sign-in starts a new history.
        m_router.history().clear();
        auto page = m_bridge.current_page();
        m_router.route(name, page);
    });
}

void NavWiring::route_page(std::string_view name)
{
    m_bridge.on_ui([this, name = std::string(name)] {
        auto page = m_bridge.current_page();
        m_router.route(name, page);
    });
}

void NavWiring::record_page(std::string_view name, bool old)
{
    m_bridge.on_ui([this, name = std::string(name), old] { m_router.record(name, old); });
}

void NavWiring::start() { m_relay.start(); }

void NavWiring::shut_down() { m_relay.stop(); }

bool NavWiring::page_check(std::string_view relative_path, bridge::Page& page)
{
    server::UpdateState state = m_context.update_state ? m_context.update_state() : server::UpdateState {};
    auto check = bundle::check_merchant_page(relative_path, m_view.host().document().virtual_host_mapped, state.name);
    if (check.allow)
        return true;
    log::bridge("UI", check.log_text);
    page.status(check.status);
    if (check.start_update && m_context.start_update_thread) {
        if (m_context.set_update_state)
            m_context.set_update_state({ "ui-fetch", update::text::page_fetch_state });
        if (m_context.send_update_state)
            m_context.send_update_state(page);
        m_context.start_update_thread([this] { m_bridge.post_ui([this] { end_page_fetch(); }); });
    }
    return false;
}

// A fetch for a missing page that ended without a word of its own (the
// manifest could not be had, say) must not leave "ui-fetch" behind: the
// state holds back every sign-in until it changes.
void NavWiring::end_page_fetch()
{
    if (!m_context.update_state || !m_context.set_update_state)
        return;
    server::UpdateState state = m_context.update_state();
    if (state.name != "ui-fetch" || state.message != update::text::page_fetch_state)
        return;
    log::bridge("UPD", "화면 받기가 알림 없이 끝났다 — 상태를 비운다");
    m_context.set_update_state({});
    if (m_context.send_update_state) {
        auto page = m_bridge.current_page();
        m_context.send_update_state(page);
    }
}

} // namespace tillbay::app

#include "door/customer_display.h"

#include "door/door_state.h"
#include "door/json_value.h"
#include "foundation/json_text.h"
#include "foundation/log.h"
#include "foundation/settings.h"

namespace tillbay::door {

bool customer_on() { return settings::read_int("CUSTOMER", "on", 1) != 0; }

std::optional<Placement> choose_placement(std::vector<os::Monitor> const& monitors, bool test_mode)
{
    if (test_mode)
        return Placement { test_window_rect, os::WindowKind::Test, "시험 창 800×500" };
    bool any_primary = false;
    for (auto const& monitor : monitors)
        any_primary = any_primary || monitor.primary;
    for (size_t i = 0; i < monitors.size(); ++i) {
        auto const& m = monitors[i];
        bool primary = any_primary ? m.primary : i == 0;
        if (primary || m.width <= 0 || m.height <= 0)
            continue;
        std::string description = "모니터 " + std::to_string(i + 1) + " · " + std::to_string(m.width) + "×"
            + std::to_string(m.height);
        if (!m.name.empty())
            description += " (" + m.name + ")";
        return Placement { { m.x, m.y, m.width, m.height }, os::WindowKind::Monitor, description };
    }
    return std::nullopt;
}

CustomerDisplay::CustomerDisplay(os::CustomerScreen& screen, CustomerConfig config)
    : m_screen(screen)
    , m_config(std::move(config))
    , m_state(idle_customer_state)
{
}

std::optional<Placement> CustomerDisplay::placement() { return choose_placement(m_screen.monitors(), m_config.test_mode); }

void CustomerDisplay::apply()
{
    bool on = customer_on();
    auto monitors = m_screen.monitors();
    auto where = on ? choose_placement(monitors, m_config.test_mode) : std::nullopt;
    if (!where) {
        if (on)
            log::bridge("CUST", "손님 화면을 둘 둘째 모니터가 없다 (모니터 " + std::to_string(monitors.size()) + "개)");
        close();
        return;
    }
    auto const& r = where->rect;
    if (m_screen.is_open()) {
        m_screen.move(r);
        return;
    }
    auto address = m_config.page_address ? m_config.page_address() : std::nullopt;
    if (!address) {
        log::bridge("CUST", "customer.html 이 없다");
        return;
    }
    m_ready = false;
    if (!m_screen.open(r, where->kind, *address)) {
        log::bridge("CUST", "손님 창을 못 만들었다");
        return;
    }
    log::bridge("CUST", "손님 창 " + std::to_string(r.width) + "x" + std::to_string(r.height) + " @" + std::to_string(r.x) + ","
        + std::to_string(r.y));
}

void CustomerDisplay::close()
{
    if (!m_screen.is_open())
        return;
    m_ready = false;
    m_screen.close();
    log::bridge("CUST", "손님 창 닫음");
}

void CustomerDisplay::set_state(std::string state)
{
    m_state = std::move(state);
    set_customer_state(m_state);
    send_state();
}

void CustomerDisplay::reset_to_idle() { set_state(std::string(idle_customer_state)); }

void CustomerDisplay::send_state()
{
    if (!m_ready || !m_screen.is_open())
        return;
    std::string address = m_screen.current_address();
    if (!m_config.is_customer_page || !m_config.is_customer_page(address))
        return;
    std::string shop = m_config.shop_name ? m_config.shop_name() : std::string {};
    m_screen.execute_script("(function(){if(window!==window.top||location.href!==" + json::quote(address)
        + ")return;window.setShopName&&setShopName(" + json::quote(shop) + ");window.setCust&&setCust(" + m_state
        + ");})();");
}

void CustomerDisplay::monitors_changed() { apply(); }

void CustomerDisplay::page_loaded(std::string const& address, bool success)
{
    m_ready = success && m_config.is_customer_page && m_config.is_customer_page(address);
    send_state();
}

bridge::Handled CustomerFamily::handle(bridge::Command const& command, bridge::Page& page)
{
    std::string_view name = command.name();
    if (name == "custshow") {
        if (command.arg_count() == 0)
            return bridge::Handled::Yes;
        // The page's text never goes on as it came: one JSON value, written anew.
        auto state = canonical_json(command.args_text());
        if (!state) {
            log::bridge("CUST", "손님 화면 상태가 올바른 JSON 이 아니어서 버렸다");
            page.status("손님 화면에 보낼 내용이 올바르지 않습니다");
            return bridge::Handled::Yes;
        }
        m_display.set_state(std::move(*state));
    } else if (name == "getcust") {
        answer(page);
    } else if (name == "setcust") {
        (void)settings::write_profile("CUSTOMER", "on", command.arg(1) == "1" ? "1" : "0");
        m_display.apply();
        answer(page);
    } else {
        return bridge::Handled::No;
    }
    return bridge::Handled::Yes;
}

void CustomerFamily::answer(bridge::Page& page)
{
    auto where = m_display.placement();
    std::string args = std::string(customer_on() ? "1" : "0") + "," + (where ? "1" : "0") + ","
        + (m_display.is_open() ? "1" : "0") + "," + json::quote(where ? where->description : std::string {});
    page.callback("setCustCfg", args);
}

} // namespace tillbay::door

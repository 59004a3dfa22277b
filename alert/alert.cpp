#include "alert/alert.h"

#include "base/ascii.h"
#include "foundation/settings.h"

#include <cstdio>
#include <cstdlib>
#include <limits>

namespace tillbay::alert {

namespace {

constexpr int badge_width = 214;
constexpr int badge_height = 66;
constexpr int badge_margin = 12;
constexpr int badge_corner = 14;
// Colour names are short ASCII words; the settings reader keeps at most this
// many bytes of them.
constexpr size_t max_colour_name = 15;

int colour_index(std::string_view key, int fallback)
{
    std::string name = settings::read_text(section, key, max_colour_name + 1);
    return palette_index(name).value_or(fallback);
}

PaletteEntry const& entry(int index)
{
    if (index < 0 || index >= static_cast<int>(palette.size()))
        index = 0;
    return palette[static_cast<size_t>(index)];
}

std::string hex(Rgb c)
{
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c.r, c.g, c.b);
    return text;
}

} // namespace

std::optional<int> palette_index(std::string_view name)
{
    for (size_t i = 0; i < palette.size(); ++i) {
        if (ascii::equals_ignoring_case(name, palette[i].name))
            return static_cast<int>(i);
    }
    return std::nullopt;
}

int NotifySettings::size_percent() const
{
    if (badgesize <= 0)
        return 85;
    if (badgesize == 1)
        return 100;
    return 125;
}

int NotifySettings::size_step() const { return badgesize <= 0 ? 0 : (badgesize >= 2 ? 2 : 1); }

NotifySettings NotifySettings::read()
{
    NotifySettings s;
    s.badge = settings::read_int(section, "badge", 1);
    s.repeat = settings::read_int(section, "repeat", 1);
    s.badgesize = settings::read_int(section, "badgesize", 1);
    s.badge_color = colour_index("badgecolor", 0);
    s.alert_color = colour_index("alertcolor", 1);
    s.badgex = settings::read_int(section, "badgex", position_not_set);
    s.badgey = settings::read_int(section, "badgey", position_not_set);
    return s;
}

std::string group_thousands(int64_t amount)
{
    uint64_t magnitude = amount < 0 ? 0 - static_cast<uint64_t>(amount) : static_cast<uint64_t>(amount);
    std::string digits = std::to_string(magnitude);
    std::string out;
    if (amount < 0)
        out += '-';
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

int64_t field_integer(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    uint64_t value = 0;
    bool overflow = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        if (value > limit) {
            overflow = true;
            value = limit;
        }
    }
    if (overflow && negative)
        return std::numeric_limits<int64_t>::min();
    return negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
}

BadgeGeometry badge_geometry(NotifySettings const& settings, int dpi, Rect const& work)
{
    int percent = settings.size_percent();
    BadgeGeometry g;
    g.width = scaled(badge_width, dpi, percent);
    g.height = scaled(badge_height, dpi, percent);
    g.corner = scaled(badge_corner, dpi, percent);
    bool stored = settings.badgex != position_not_set && settings.badgey != position_not_set;
    // A stored position counts only while at least half of the badge would
    // still be on the work area; after a monitor change it could otherwise
    // sit where nobody can see or reach it.
    bool reachable = stored && settings.badgex >= work.left - g.width / 2 && settings.badgex <= work.right - g.width / 2
        && settings.badgey >= work.top - 10 && settings.badgey <= work.bottom - g.height / 2;
    if (reachable) {
        g.x = settings.badgex;
        g.y = settings.badgey;
    } else {
        g.x = work.right - scaled(badge_margin, dpi, percent) - g.width;
        g.y = work.top + scaled(badge_margin, dpi, percent);
    }
    return g;
}

// ---------------------------------------------------------------------------

Alert::Alert(AlertPort& port)
    : m_port(port)
{
}

void Alert::add_tray()
{
    if (m_tray)
        return;
    m_tray = m_port.add_tray();
    if (m_tray)
        m_port.set_tray_tip(tray_tip(), m_waiting);
}

void Alert::create_badge()
{
    if (m_port.badge_exists())
        return;
    m_settings = m_port.read_settings();
    m_dpi = m_port.screen_dpi();
    m_geometry = badge_geometry(m_settings, m_dpi, m_port.work_area());
    if (m_port.create_badge(m_geometry))
        m_port.paint_badge(look());
}

void Alert::shut_down()
{
    if (m_tray) {
        m_port.remove_tray();
        m_tray = false;
    }
    m_port.kill_flash_timer();
    if (m_port.badge_exists())
        m_port.destroy_badge();
}

void Alert::start(std::string_view label, int64_t amount)
{
    if (m_port.pos_in_front())
        return;
    m_unseen = true;
    m_alerting = true;
    m_non_table = label.find("테이블") == std::string_view::npos;
    m_alert_text = std::string(label) + " · " + group_thousands(amount) + "원";
    m_last_sound = m_port.now_ms();
    m_port.start_flash_timer();
    m_marked = true;
    tick();
    m_port.request_attention(true);
    m_attention = true;
}

void Alert::set_waiting(int count)
{
    m_waiting = count;
    if (m_tray)
        m_port.set_tray_tip(tray_tip(), m_waiting);
    if (m_port.badge_exists() && m_port.badge_visible()) {
        m_marked = true;
        repaint_if_marked();
    }
}

void Alert::tick()
{
    bool front = m_port.pos_in_front();
    bool was_alerting = m_alerting;
    if (front) {
        m_unseen = false;
        if (m_alerting) {
            m_alerting = false;
            m_port.kill_flash_timer();
        }
        if (m_attention) {
            m_port.request_attention(false);
            m_attention = false;
        }
    }

    if (m_port.badge_exists()) {
        if (m_settings.badge == 0 || front) {
            if (m_port.badge_visible())
                m_port.hide_badge();
        } else {
            if (!m_port.badge_visible()) {
                m_port.show_badge();
                m_port.raise_badge();
                m_marked = true;
            }
            // Another program that also keeps itself on top may have covered
            // the badge since; every fifth second it is put back on top.
            ++m_ticks;
            if (m_ticks % 5 == 0)
                m_port.raise_badge();
            if (m_alerting) {
                m_flash_phase = !m_flash_phase;
                m_marked = true;
            }
            if (m_alerting != was_alerting)
                m_marked = true;
            repaint_if_marked();
        }
    }

    if (!front && m_unseen && m_settings.repeat != 0 && m_port.sound_switched_on()) {
        uint64_t now = m_port.now_ms();
        if (now - m_last_sound >= sound_interval_ms) {
            m_last_sound = now;
            m_port.play(m_non_table ? Sound::NonTable : Sound::Table);
            ++m_sounds;
        }
    }
}

void Alert::flash_end()
{
    m_port.kill_flash_timer();
    m_alerting = false;
    m_marked = true;
    repaint_if_marked();
}

void Alert::settings_changed()
{
    m_settings = m_port.read_settings();
    apply_geometry(true);
    m_marked = true;
    repaint_if_marked();
    tick();
}

void Alert::apply_geometry(bool keep_position)
{
    if (!m_port.badge_exists())
        return;
    BadgeGeometry old = m_geometry;
    m_dpi = m_port.screen_dpi();
    m_geometry = badge_geometry(m_settings, m_dpi, m_port.work_area());
    if (keep_position) {
        m_geometry.x = old.x;
        m_geometry.y = old.y;
    }
    m_port.place_badge(m_geometry);
}

void Alert::repaint_if_marked()
{
    if (m_marked && m_port.badge_exists() && m_port.badge_visible()) {
        m_port.paint_badge(look());
        m_marked = false;
    }
}

void Alert::badge_pressed(int x, int y)
{
    m_pressed = true;
    m_moved = false;
    m_cursor_x = x;
    m_cursor_y = y;
}

void Alert::badge_dragged(int x, int y)
{
    if (!m_pressed)
        return;
    int dx = x - m_cursor_x;
    int dy = y - m_cursor_y;
    if (!m_moved && std::abs(dx) + std::abs(dy) >= drag_threshold)
        m_moved = true;
    if (!m_moved)
        return;
    m_geometry.x += dx;
    m_geometry.y += dy;
    m_port.move_badge(m_geometry.x, m_geometry.y);
    m_cursor_x = x;
    m_cursor_y = y;
}

void Alert::badge_released()
{
    if (!m_pressed)
        return;
    m_pressed = false;
    if (!m_moved) {
        m_port.bring_pos_to_front();
        return;
    }
    // The position is a convenience; a settings file that cannot be written
    // leaves the badge where it is for this run.
    m_settings.badgex = m_geometry.x;
    m_settings.badgey = m_geometry.y;
    (void)m_port.write_setting("badgex", std::to_string(m_geometry.x));
    (void)m_port.write_setting("badgey", std::to_string(m_geometry.y));
}

State Alert::state()
{
    State s;
    s.front = m_port.pos_in_front();
    s.badge_visible = m_port.badge_exists() && m_port.badge_visible();
    s.alerting = m_alerting;
    s.unseen = m_unseen;
    s.sounds = m_sounds;
    s.waiting = m_waiting;
    s.tray = m_tray;
    return s;
}

BadgeLook Alert::look() const
{
    int percent = m_settings.size_percent();
    PaletteEntry const& colours = entry(m_alerting ? m_settings.alert_color : m_settings.badge_color);
    BadgeLook look;
    look.background = (m_alerting && m_flash_phase) ? colours.flash : colours.background;
    look.title_colour = colours.title;
    look.title = m_alerting ? "새 주문" : "틸웨";
    look.value = m_alerting ? m_alert_text : "처리 대기 " + std::to_string(m_waiting) + "건";
    look.title_height = scaled(12, m_dpi, percent);
    look.value_height = scaled(m_alerting ? 15 : 18, m_dpi, percent);
    look.scale_dpi = m_dpi;
    look.scale_percent = percent;
    return look;
}

std::string Alert::tray_tip() const { return "틸웨 · 처리 대기 " + std::to_string(m_waiting) + "건"; }

// ---------------------------------------------------------------------------

std::string notify_config_json(NotifySettings const& s)
{
    std::string colours;
    for (size_t i = 0; i < palette.size(); ++i) {
        auto const& p = palette[i];
        colours += i == 0 ? "" : ",";
        colours += "{\"k\":\"" + std::string(p.name) + "\",\"n\":\"" + std::string(p.display_name) + "\",\"bg\":\""
            + hex(p.background) + "\",\"bg2\":\"" + hex(p.flash) + "\",\"sub\":\"" + hex(p.title) + "\"}";
    }
    // The stored values, each clamped to 0-2 as the settings page reads them.
    auto clamped = [](int value) { return std::to_string(value < 0 ? 0 : (value > 2 ? 2 : value)); };
    return "{\"badge\":" + clamped(s.badge) + ",\"repeat\":" + clamped(s.repeat)
        + ",\"badgesize\":" + clamped(s.badgesize) + ",\"badgecolor\":\"" + std::string(entry(s.badge_color).name)
        + "\",\"alertcolor\":\"" + std::string(entry(s.alert_color).name) + "\",\"colors\":[" + colours + "]}";
}

std::string notify_state_json(State const& s)
{
    auto flag = [](bool b) { return b ? "1" : "0"; };
    return std::string("{\"front\":") + flag(s.front) + ",\"badge\":" + flag(s.badge_visible) + ",\"alert\":"
        + flag(s.alerting) + ",\"unseen\":" + flag(s.unseen) + ",\"beeps\":" + std::to_string(s.sounds)
        + ",\"wait\":" + std::to_string(s.waiting) + ",\"tray\":" + flag(s.tray) + "}";
}

AlertPcFamily::AlertPcFamily(Alert& alert, AlertPort& port)
    : m_alert(alert)
    , m_port(port)
{
}

bridge::Handled AlertPcFamily::handle(bridge::Command const& command, bridge::Page& page)
{
    auto name = command.name();
    if (name == "badge") {
        int64_t count = field_integer(command.arg(1));
        if (count > std::numeric_limits<int>::max())
            count = std::numeric_limits<int>::max();
        if (count < std::numeric_limits<int>::min())
            count = std::numeric_limits<int>::min();
        m_alert.set_waiting(static_cast<int>(count));
        return bridge::Handled::Yes;
    }
    if (name == "getnotify") {
        send_config(page);
        return bridge::Handled::Yes;
    }
    if (name == "setnotify") {
        set_notify(command, page);
        return bridge::Handled::Yes;
    }
    if (name == "notifystate") {
        page.callback("setNotifyState", notify_state_json(m_alert.state()));
        return bridge::Handled::Yes;
    }
    return bridge::Handled::No;
}

void AlertPcFamily::send_config(bridge::Page& page) { page.callback("setNotifyCfg", notify_config_json(m_port.read_settings())); }

void AlertPcFamily::set_notify(bridge::Command const& command, bridge::Page& page)
{
    if (command.fields.size() < 3)
        return;
    std::string_view key = command.arg(1);
    std::string_view given = command.arg(2);
    std::string value;
    if (key == "badgesize") {
        value = (given == "0" || given == "2") ? std::string(given) : "1";
    } else if (key == "badge" || key == "repeat") {
        value = given == "0" ? "0" : "1";
    } else if (key == "badgecolor" || key == "alertcolor") {
        auto index = palette_index(given);
        if (!index)
            return;
        value = std::string(palette[static_cast<size_t>(*index)].name);
    } else {
        return;
    }
    bool saved = m_port.write_setting(key, value);
    page.status(saved ? "저장했습니다" : "설정을 저장하지 못했습니다");
    // The size and colours reshape and repaint the badge at once; the two
    // switches are read again with them, so that turning the badge off hides
    // it now rather than at the next start.
    m_alert.settings_changed();
    // The answer is the trusted command "getnotify" itself, so that it is
    // dispatched and logged like the page's own.
    if (m_dispatch)
        m_dispatch("getnotify", command.generation);
    else
        send_config(page);
}

} // namespace tillbay::alert

namespace tillbay::alert {

bool DesktopAlertPort::write_setting(std::string_view key, std::string_view value)
{
    return settings::write_line_preserving(section, key, value);
}

NotifySettings DesktopAlertPort::read_settings() { return NotifySettings::read(); }

} // namespace tillbay::alert

#include "os/linux/alert_gtk.h"

#include "foundation/log.h"
#include "foundation/settings.h"
#include "foundation/user_files.h"
#include "host/bridge.h"

#include <exception>
#include <gtk/gtk.h>

namespace tillbay::gtk {

struct AlertTimers {
    static gboolean flash_ended(gpointer data)
    {
        auto* self = static_cast<AlertService*>(data);
        // The source ends with this call; flash_end() must not remove it again.
        self->m_flash_timer = 0;
        try {
            self->m_alert.flash_end();
        } catch (std::exception const& e) {
            log::bridge("UI", std::string("알림 깜빡임 종료 실패: ") + e.what());
        }
        return G_SOURCE_REMOVE;
    }
};

AlertService::AlertService(AlertConfig config)
    : m_config(std::move(config))
    , m_badge(BadgeWindow::Events {
          [this](int x, int y) { m_alert.badge_pressed(x, y); },
          [this](int x, int y) { m_alert.badge_dragged(x, y); },
          [this] { m_alert.badge_released(); },
      })
    , m_sound(m_config.embedded)
    , m_alert(*this)
    , m_pc_family(m_alert, *this)
    , m_history_family(m_alert)
{
}

AlertService::~AlertService() { shut_down(); }

void AlertService::start()
{
    m_alert.add_tray();
    m_alert.create_badge();
}

void AlertService::shut_down() { m_alert.shut_down(); }

void AlertService::tick()
{
    try {
        m_alert.tick();
    } catch (std::exception const& e) {
        log::bridge("UI", std::string("알림 타이머 실패: ") + e.what());
    }
}

void AlertService::attach(host::Bridge& bridge, bridge::Family* pc_next, bridge::Family* history_next)
{
    m_pc_family.set_next(pc_next);
    m_history_family.set_next(history_next);
    bridge.set_family(host::FamilySlot::Pc, &m_pc_family);
    bridge.set_family(host::FamilySlot::History, &m_history_family);
}

bool AlertService::pos_in_front()
{
    GtkWindow* window = m_config.main_window ? m_config.main_window() : nullptr;
    return window && gtk_window_is_active(window);
}

uint64_t AlertService::now_ms() { return static_cast<uint64_t>(g_get_monotonic_time() / 1000); }

void AlertService::start_flash_timer()
{
    kill_flash_timer();
    m_flash_timer = g_timeout_add(alert::flash_period_ms, AlertTimers::flash_ended, this);
}

void AlertService::kill_flash_timer()
{
    if (m_flash_timer)
        g_source_remove(m_flash_timer);
    m_flash_timer = 0;
}

void AlertService::request_attention(bool on)
{
    // The urgency hint makes the taskbar or the dock mark the POS until it
    // comes to the front again.
    if (GtkWindow* window = m_config.main_window ? m_config.main_window() : nullptr)
        gtk_window_set_urgency_hint(window, on ? TRUE : FALSE);
}

void AlertService::play(alert::Sound sound) { m_sound.play(sound == alert::Sound::NonTable ? "ding2.wav" : "ding.wav"); }

bool AlertService::sound_switched_on() { return userfiles::read_sound_on(); }

void AlertService::bring_pos_to_front()
{
    if (m_config.bring_to_front)
        m_config.bring_to_front();
}

int AlertService::screen_dpi()
{
    GdkScreen* screen = gdk_screen_get_default();
    double dpi = screen ? gdk_screen_get_resolution(screen) : -1;
    return dpi < 72 ? 96 : static_cast<int>(dpi + 0.5);
}

alert::Rect AlertService::work_area()
{
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = nullptr;
    if (display) {
        monitor = gdk_display_get_primary_monitor(display);
        if (!monitor && gdk_display_get_n_monitors(display) > 0)
            monitor = gdk_display_get_monitor(display, 0);
    }
    if (!monitor)
        return { 0, 0, 1024, 768 };
    GdkRectangle area {};
    gdk_monitor_get_workarea(monitor, &area);
    return { area.x, area.y, area.x + area.width, area.y + area.height };
}

bool AlertService::create_badge(alert::BadgeGeometry const& geometry) { return m_badge.create(geometry); }
void AlertService::destroy_badge() { m_badge.destroy(); }
bool AlertService::badge_exists() { return m_badge.exists(); }
bool AlertService::badge_visible() { return m_badge.visible(); }
void AlertService::show_badge() { m_badge.show(); }
void AlertService::hide_badge() { m_badge.hide(); }
void AlertService::raise_badge() { m_badge.raise(); }
void AlertService::place_badge(alert::BadgeGeometry const& geometry) { m_badge.place(geometry); }
void AlertService::move_badge(int x, int y) { m_badge.move(x, y); }
void AlertService::paint_badge(alert::BadgeLook const& look) { m_badge.paint(look); }

bool AlertService::add_tray() { return m_tray.add(m_config.tray_icon_path, m_config.tray_activated); }
void AlertService::remove_tray() { m_tray.remove(); }
void AlertService::set_tray_tip(std::string_view tip, int waiting) { m_tray.set_tip(tip, waiting); }

bool AlertService::write_setting(std::string_view key, std::string_view value)
{
    return settings::write_line_preserving(alert::section, key, value);
}

alert::NotifySettings AlertService::read_settings() { return alert::NotifySettings::read(); }

} // namespace tillbay::gtk

#include "os/linux/alert_gtk.h"

#include "foundation/log.h"
#include "foundation/user_files.h"

#include <exception>
#include <gtk/gtk.h>

namespace tillbay::gtk {

struct AlertTimers {
    static gboolean flash_ended(gpointer data)
    {
        auto* self = static_cast<AlertService*>(data);
        // The source ends with this call; flash_end() must not remove it again.
        self->m_flash_timer = 0;
        log::guarded("알림 깜빡임 종료 실패", [&] {
            if (self->m_events)
                self->m_events->flash_ended();
        });
        return G_SOURCE_REMOVE;
    }
};

AlertService::AlertService(AlertConfig config)
    : m_config(std::move(config))
    , m_badge(BadgeWindow::Events {
          [this](int x, int y) {
              if (m_events)
                  m_events->badge_pressed(x, y);
          },
          [this](int x, int y) {
              if (m_events)
                  m_events->badge_dragged(x, y);
          },
          [this] {
              if (m_events)
                  m_events->badge_released();
          },
      })
    , m_sound(m_config.embedded)
{
}

AlertService::~AlertService() { kill_flash_timer(); }

bool AlertService::pos_in_front()
{
    GtkWindow* window = m_config.main_window ? m_config.main_window() : nullptr;
    return window && gtk_window_is_active(window);
}

uint64_t AlertService::now_ms() { return static_cast<uint64_t>(g_get_monotonic_time() / 1000); }

void AlertService::start_flash_timer()
{
    kill_flash_timer();
    m_flash_timer = g_timeout_add(os::alert_flash_period_ms, AlertTimers::flash_ended, this);
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

void AlertService::play(os::Sound sound) { m_sound.play(sound == os::Sound::NonTable ? "ding2.wav" : "ding.wav"); }

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

os::Rect AlertService::work_area()
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

bool AlertService::create_badge(os::BadgeGeometry const& geometry) { return m_badge.create(geometry); }
void AlertService::destroy_badge() { m_badge.destroy(); }
bool AlertService::badge_exists() { return m_badge.exists(); }
bool AlertService::badge_visible() { return m_badge.visible(); }
void AlertService::show_badge() { m_badge.show(); }
void AlertService::hide_badge() { m_badge.hide(); }
void AlertService::raise_badge() { m_badge.raise(); }
void AlertService::place_badge(os::BadgeGeometry const& geometry) { m_badge.place(geometry); }
void AlertService::move_badge(int x, int y) { m_badge.move(x, y); }
void AlertService::paint_badge(os::BadgeLook const& look) { m_badge.paint(look); }

bool AlertService::add_tray() { return m_tray.add(m_config.tray_icon_path, m_config.tray_activated); }
void AlertService::remove_tray() { m_tray.remove(); }
void AlertService::set_tray_tip(std::string_view tip, int waiting) { m_tray.set_tip(tip, waiting); }

} // namespace tillbay::gtk

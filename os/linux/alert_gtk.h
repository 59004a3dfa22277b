#pragma once

// The new-order alert on a Linux desktop: the alert state machine joined to
// the badge window, the tray indicator, the sound player, timer 43 and the
// main window's urgency hint, and its commands offered to the bridge. The
// start-up creates one AlertService after the main window; timer 41 of the
// main window calls tick().

#include "os/alert.h"
#include "os/linux/alert_badge_gtk.h"
#include "os/linux/alert_sound_canberra.h"
#include "os/linux/alert_tray_gtk.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

typedef struct _GtkWindow GtkWindow;

namespace tillbay::gtk {

struct AlertConfig {
    // The main window while it exists, else null.
    std::function<GtkWindow*()> main_window;
    // Brings the main window to the front (the shell's routine).
    std::function<void()> bring_to_front;
    // A choice in the tray icon's menu asks for the main window.
    std::function<void()> tray_activated;
    std::string tray_icon_path;
    // The sounds built into the program, by file name.
    std::function<std::string_view(std::string_view name)> embedded;
};

class AlertService final : public os::AlertPort {
public:
    explicit AlertService(AlertConfig config);
    ~AlertService() override;
    AlertService(AlertService const&) = delete;
    AlertService& operator=(AlertService const&) = delete;


    // Where the flash timer and the badge's mouse report to.
    void set_events(os::AlertEvents* events) { m_events = events; }

    // os::AlertPort
    bool pos_in_front() override;
    uint64_t now_ms() override;
    void start_flash_timer() override;
    void kill_flash_timer() override;
    void request_attention(bool on) override;
    void play(os::Sound sound) override;
    bool sound_switched_on() override;
    void bring_pos_to_front() override;
    int screen_dpi() override;
    os::Rect work_area() override;
    bool create_badge(os::BadgeGeometry const& geometry) override;
    void destroy_badge() override;
    bool badge_exists() override;
    bool badge_visible() override;
    void show_badge() override;
    void hide_badge() override;
    void raise_badge() override;
    void place_badge(os::BadgeGeometry const& geometry) override;
    void move_badge(int x, int y) override;
    void paint_badge(os::BadgeLook const& look) override;
    bool add_tray() override;
    void remove_tray() override;
    void set_tray_tip(std::string_view tip, int waiting) override;

private:
    friend struct AlertTimers;
    AlertConfig m_config;
    BadgeWindow m_badge;
    TrayIcon m_tray;
    SoundPlayer m_sound;
    os::AlertEvents* m_events = nullptr;
    unsigned m_flash_timer = 0;
};

} // namespace tillbay::gtk

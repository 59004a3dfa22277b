#pragma once

// The new-order alert: a small always-on-top badge that shows how many orders
// wait and, for fifteen seconds after a new order, flashes "새 주문" with the
// order's label and amount; a sound every ten seconds until somebody looks at
// the POS; the main window's attention mark; and the waiting count in the
// tray. The page decides what a new order is and reports it (`notify`,
// `badge`); this state machine only decides how loudly to call for
// attention. Everything here runs on the UI thread. The windows, timers and
// sounds sit behind AlertPort, so the whole behaviour runs in unit tests with
// a fake clock and fake windows.

#include "bridge/family.h"
#include "os/alert.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::alert {

using os::BadgeGeometry;
using os::BadgeLook;
using os::mul_div;
using os::Rect;
using os::Rgb;
using os::scaled;
using os::Sound;


inline constexpr std::string_view section = "NOTIFY";
// badgex / badgey hold this when no position was stored.
inline constexpr int position_not_set = -100000;

inline constexpr unsigned tick_period_ms = 1000;   // timer 41
inline constexpr unsigned flash_period_ms = os::alert_flash_period_ms; // timer 43
inline constexpr uint64_t sound_interval_ms = 10000;
// The cursor must travel this far (|dx| + |dy|) before a press becomes a drag.
inline constexpr int drag_threshold = 4;

struct PaletteEntry {
    std::string_view name;
    std::string_view display_name;
    Rgb background; // colour 1
    Rgb flash;      // colour 2, the background in the flash phase
    Rgb title;      // colour 3
};

// Index 0 is the fallback for names that are not in the table.
inline constexpr std::array<PaletteEntry, 8> palette { {
    { "navy", "남색", { 30, 36, 52 }, { 46, 56, 80 }, { 180, 192, 214 } },
    { "red", "빨강", { 168, 24, 24 }, { 206, 36, 36 }, { 255, 225, 225 } },
    { "orange", "주황", { 180, 83, 9 }, { 217, 119, 6 }, { 255, 237, 213 } },
    { "green", "초록", { 21, 94, 60 }, { 22, 121, 76 }, { 214, 245, 228 } },
    { "blue", "파랑", { 21, 74, 156 }, { 27, 96, 194 }, { 214, 231, 255 } },
    { "purple", "보라", { 91, 33, 182 }, { 114, 46, 209 }, { 233, 222, 255 } },
    { "black", "검정", { 17, 22, 29 }, { 38, 46, 58 }, { 176, 184, 196 } },
    { "plum", "자주", { 157, 23, 77 }, { 190, 32, 96 }, { 255, 222, 236 } },
} };

// The palette entry a name stands for, compared without regard to letter
// case; nothing for an unknown name.
std::optional<int> palette_index(std::string_view name);

// The `NOTIFY` section as last read from the settings file.
struct NotifySettings {
    int badge = 1;     // 0: never show the badge
    int repeat = 1;    // 0: no repeated sound
    int badgesize = 1; // as stored; size_percent() reads it
    int badge_color = 0;
    int alert_color = 1;
    int badgex = position_not_set;
    int badgey = position_not_set;

    // 0 or less: 85 %, 1: 100 %, 2 or more: 125 %.
    int size_percent() const;
    // badgesize clamped to 0-2, as the settings page shows it.
    int size_step() const;

    static NotifySettings read();
};

// "15,000": decimal with a comma between groups of three digits, a minus
// sign first for a negative amount.
std::string group_thousands(int64_t amount);

// The integer value of a command field the way C's atoi reads it:
// leading blanks, an optional sign, digits up to the first other character;
// 0 when there are none. Clamped to the type's range.
int64_t field_integer(std::string_view text);

// Width s(214), height s(66); the stored position when both coordinates are
// set and keep the badge reachable on the work area, else the top right
// corner of the work area.
BadgeGeometry badge_geometry(NotifySettings const& settings, int dpi, Rect const& work_area);

// What the alert needs from the windowing system. UI thread only.
// What the alert needs: the desktop, and the `NOTIFY` section of the settings.
class AlertPort : public os::AlertPort {
public:
    // The line-preserving writer of the settings file.
    virtual bool write_setting(std::string_view key, std::string_view value) = 0;
    // Reads the `NOTIFY` section again.
    virtual NotifySettings read_settings() = 0;
};

// The alert on a real desktop: the backend's windows, timers and sounds, and
// the settings file.
class DesktopAlertPort final : public AlertPort {
public:
    explicit DesktopAlertPort(os::AlertPort& desktop)
        : m_desktop(desktop)
    {
    }
    bool pos_in_front() override { return m_desktop.pos_in_front(); }
    uint64_t now_ms() override { return m_desktop.now_ms(); }
    void start_flash_timer() override { m_desktop.start_flash_timer(); }
    void kill_flash_timer() override { m_desktop.kill_flash_timer(); }
    void request_attention(bool on) override { m_desktop.request_attention(on); }
    void play(Sound sound) override { m_desktop.play(sound); }
    bool sound_switched_on() override { return m_desktop.sound_switched_on(); }
    void bring_pos_to_front() override { m_desktop.bring_pos_to_front(); }
    int screen_dpi() override { return m_desktop.screen_dpi(); }
    Rect work_area() override { return m_desktop.work_area(); }
    bool create_badge(BadgeGeometry const& geometry) override { return m_desktop.create_badge(geometry); }
    void destroy_badge() override { m_desktop.destroy_badge(); }
    bool badge_exists() override { return m_desktop.badge_exists(); }
    bool badge_visible() override { return m_desktop.badge_visible(); }
    void show_badge() override { m_desktop.show_badge(); }
    void hide_badge() override { m_desktop.hide_badge(); }
    void raise_badge() override { m_desktop.raise_badge(); }
    void place_badge(BadgeGeometry const& geometry) override { m_desktop.place_badge(geometry); }
    void move_badge(int x, int y) override { m_desktop.move_badge(x, y); }
    void paint_badge(BadgeLook const& look) override { m_desktop.paint_badge(look); }
    bool add_tray() override { return m_desktop.add_tray(); }
    void remove_tray() override { m_desktop.remove_tray(); }
    void set_tray_tip(std::string_view tip, int waiting) override { m_desktop.set_tray_tip(tip, waiting); }
    bool write_setting(std::string_view key, std::string_view value) override;
    NotifySettings read_settings() override;

private:
    os::AlertPort& m_desktop;
};

struct State {
    bool front = false;
    bool badge_visible = false;
    bool alerting = false;
    bool unseen = false;
    uint32_t sounds = 0;
    int waiting = 0;
    bool tray = false;
};

class Alert {
public:
    explicit Alert(AlertPort& port);

    // Start-up: the tray icon, then the hidden badge.
    void add_tray();
    void create_badge();
    // Shutdown: the tray icon and the badge go; the timers are the caller's.
    void shut_down();

    // `notify`: a new order with its label and amount.
    void start(std::string_view label, int64_t amount);
    // `badge`: the page's waiting count.
    void set_waiting(int count);
    // Timer 41, every second.
    void tick();
    // Timer 43: the flash ends; the sound goes on until the POS is seen.
    void flash_end();
    // After `setnotify` changed the size or a colour: re-read, re-size keeping
    // the position, repaint, and tick once.
    void settings_changed();

    // The badge's mouse, in screen coordinates.
    void badge_pressed(int x, int y);
    void badge_dragged(int x, int y);
    void badge_released();

    State state();
    NotifySettings const& settings() const { return m_settings; }
    BadgeLook look() const;
    std::string tray_tip() const;

private:
    void repaint_if_marked();
    void apply_geometry(bool keep_position);

    AlertPort& m_port;
    NotifySettings m_settings;
    int m_dpi = 96;
    BadgeGeometry m_geometry;

    int m_waiting = 0;
    bool m_alerting = false;
    bool m_unseen = false;
    bool m_flash_phase = false;
    std::string m_alert_text;
    bool m_non_table = false;
    uint64_t m_last_sound = 0;
    uint32_t m_sounds = 0;
    uint32_t m_ticks = 0;
    bool m_marked = false;
    bool m_attention = false;
    bool m_tray = false;

    bool m_pressed = false;
    bool m_moved = false;
    int m_cursor_x = 0;
    int m_cursor_y = 0;
};

// The `pc` commands of the alert: `badge`, `getnotify`, `setnotify`,
// `notifystate`.
class AlertPcFamily final : public bridge::Family {
public:
    AlertPcFamily(Alert& alert, AlertPort& port);
    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override;

    // Dispatches a trusted command for the document of the given generation
    // (the bridge's dispatch). `setnotify` ends with "getnotify" through it;
    // without one it answers the page directly.
    using Dispatch = std::function<void(std::string_view text, uint64_t generation)>;
    void set_dispatch(Dispatch dispatch) { m_dispatch = std::move(dispatch); }

private:
    void send_config(bridge::Page& page);
    void set_notify(bridge::Command const& command, bridge::Page& page);

    Alert& m_alert;
    AlertPort& m_port;
    Dispatch m_dispatch;
};

// The argument text of setNotifyCfg for these settings.
std::string notify_config_json(NotifySettings const& settings);
// The argument text of setNotifyState.
std::string notify_state_json(State const& state);

} // namespace tillbay::alert

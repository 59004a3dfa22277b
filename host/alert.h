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

#include "host/family.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::alert {

inline constexpr std::string_view section = "NOTIFY";
// badgex / badgey hold this when no position was stored.
inline constexpr int position_not_set = -100000;

inline constexpr unsigned tick_period_ms = 1000;   // timer 41
inline constexpr unsigned flash_period_ms = 15000; // timer 43
inline constexpr uint64_t sound_interval_ms = 10000;
// The cursor must travel this far (|dx| + |dy|) before a press becomes a drag.
inline constexpr int drag_threshold = 4;

struct Rgb {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    bool operator==(Rgb const&) const = default;
};

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

// Windows' MulDiv: a * b / c rounded to the nearest integer, halves away
// from zero; -1 when c is 0.
int mul_div(int a, int b, int c);

// s(n): n pixels at 96 dots per inch scaled to the screen (below 72 counts as
// 96) and then by the badge size percentage.
int scaled(int n, int dpi, int percent);

// "15,000": decimal with a comma between groups of three digits, a minus
// sign first for a negative amount.
std::string group_thousands(int64_t amount);

// The integer value of a command field the way the old C library reads it:
// leading blanks, an optional sign, digits up to the first other character;
// 0 when there are none. Clamped to the type's range.
int64_t field_integer(std::string_view text);

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

struct BadgeGeometry {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int corner = 0; // the corner ellipse's width and height
};

// Width s(214), height s(66); the stored position when both coordinates are
// set and keep the badge reachable on the work area, else the top right
// corner of the work area.
BadgeGeometry badge_geometry(NotifySettings const& settings, int dpi, Rect const& work_area);

// Everything the badge paints, decided here so that the window only draws.
struct BadgeLook {
    Rgb background;
    Rgb title_colour;
    std::string title;
    std::string value;
    int title_height = 0; // font cell heights in pixels
    int value_height = 0;
    int scale_dpi = 96;
    int scale_percent = 100;
    bool operator==(BadgeLook const&) const = default;
};

enum class Sound {
    Table,    // "ding.wav"
    NonTable, // "ding2.wav"
};

// What the alert needs from the windowing system. UI thread only.
class AlertPort {
public:
    virtual ~AlertPort() = default;

    // The main window, or a window whose root is the main window, has the focus.
    virtual bool pos_in_front() = 0;
    // A monotonic clock in milliseconds.
    virtual uint64_t now_ms() = 0;

    // Timer 43: one shot after flash_period_ms, calling Alert::flash_end().
    // Starting it again restarts it.
    virtual void start_flash_timer() = 0;
    virtual void kill_flash_timer() = 0;
    // Marks the main window as wanting attention (the taskbar entry flashes)
    // until the POS comes to the front.
    virtual void request_attention(bool on) = 0;
    virtual void play(Sound sound) = 0;
    // "sound.txt" does not switch the sound off.
    virtual bool sound_switched_on() = 0;
    virtual void bring_pos_to_front() = 0;

    // Screen facts for the badge size and position.
    virtual int screen_dpi() = 0;
    virtual Rect work_area() = 0;

    // The badge window. create_badge makes it hidden.
    virtual bool create_badge(BadgeGeometry const& geometry) = 0;
    virtual void destroy_badge() = 0;
    virtual bool badge_exists() = 0;
    virtual bool badge_visible() = 0;
    // Shows it without taking the focus and puts it above every other window.
    virtual void show_badge() = 0;
    virtual void hide_badge() = 0;
    virtual void raise_badge() = 0;
    // Size, position and rounded outline.
    virtual void place_badge(BadgeGeometry const& geometry) = 0;
    virtual void move_badge(int x, int y) = 0;
    // Repaints the badge with this look.
    virtual void paint_badge(BadgeLook const& look) = 0;

    // The tray icon; add_tray returns whether it was added.
    virtual bool add_tray() = 0;
    virtual void remove_tray() = 0;
    virtual void set_tray_tip(std::string_view tip, int waiting) = 0;

    // The line-preserving writer of the settings file.
    virtual bool write_setting(std::string_view key, std::string_view value) = 0;
    // Reads the `NOTIFY` section again.
    virtual NotifySettings read_settings() = 0;
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
// `notifystate`. A command it does not know goes on to the next family, so
// that it can share the `pc` slot with the window's own commands.
class AlertPcFamily final : public bridge::Family {
public:
    AlertPcFamily(Alert& alert, AlertPort& port, bridge::Family* next = nullptr);
    void set_next(bridge::Family* next) { m_next = next; }
    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override;

private:
    void send_config(bridge::Page& page);
    void set_notify(bridge::Command const& command, bridge::Page& page);

    Alert& m_alert;
    AlertPort& m_port;
    bridge::Family* m_next = nullptr;
};

// The argument text of setNotifyCfg for these settings.
std::string notify_config_json(NotifySettings const& settings);
// The argument text of setNotifyState.
std::string notify_state_json(State const& state);

} // namespace tillbay::alert

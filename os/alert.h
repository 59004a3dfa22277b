#pragma once

// The new-order alert's desktop side: the always-on-top badge window, the
// flash timer, the attention mark, the tray icon and the alert sounds. The
// alert's state machine decides; the backend only carries it out.

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace tillbay::os {

// The flash after a new order lasts this long (timer 43).
inline constexpr unsigned alert_flash_period_ms = 15000;

struct Rgb {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    bool operator==(Rgb const&) const = default;
};

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

// Windows' MulDiv: a * b / c rounded to the nearest integer, halves away
// from zero; -1 when c is 0.

// s(n): n pixels at 96 dots per inch scaled to the screen (below 72 counts as
// 96) and then by the badge size percentage.

inline int mul_div(int a, int b, int c)
{
    if (c == 0)
        return -1;
    int64_t product = static_cast<int64_t>(a) * b;
    bool negative = (product < 0) != (c < 0);
    uint64_t magnitude = product < 0 ? static_cast<uint64_t>(-product) : static_cast<uint64_t>(product);
    uint64_t divisor = c < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(c)) : static_cast<uint64_t>(c);
    uint64_t quotient = (magnitude + divisor / 2) / divisor;
    if (quotient > static_cast<uint64_t>(std::numeric_limits<int>::max()))
        return -1;
    return negative ? -static_cast<int>(quotient) : static_cast<int>(quotient);
}

inline int scaled(int n, int dpi, int percent)
{
    if (dpi < 72)
        dpi = 96;
    return mul_div(mul_div(n, dpi, 96), percent, 100);
}

// What the backend reports back: the flash timer ran out, the badge's mouse.
struct AlertEvents {
    virtual ~AlertEvents() = default;
    virtual void flash_ended() = 0;
    virtual void badge_pressed(int x, int y) = 0;
    virtual void badge_dragged(int x, int y) = 0;
    virtual void badge_released() = 0;
};

class AlertPort {
public:
    virtual ~AlertPort() = default;

    // The main window, or a window whose root is the main window, has the focus.
    virtual bool pos_in_front() = 0;
    // A monotonic clock in milliseconds.
    virtual uint64_t now_ms() = 0;

    // Timer 43: one shot after flash_period_ms, calling the events' flash_ended().
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
};

} // namespace tillbay::os

#pragma once

// The alert badge on GTK3: a small undecorated window kept above the others,
// out of the taskbar and the pager, that never takes the focus, painted with
// cairo inside a rounded outline. It only draws what the alert decided
// (os::BadgeLook) and reports the left mouse button in screen
// coordinates; dragging and clicking are decided by the alert.

#include "os/alert.h"

#include <functional>

typedef struct _GtkWidget GtkWidget;

namespace tillbay::gtk {

// The badge's window title and its X window class, so that other programs and
// tests can find it.
inline constexpr char const* badge_title = "틸웨 알림";
inline constexpr char const* badge_class = "TillBayBadge";

class BadgeWindow {
public:
    struct Events {
        std::function<void(int x, int y)> pressed;
        std::function<void(int x, int y)> dragged;
        std::function<void()> released;
    };

    explicit BadgeWindow(Events events);
    ~BadgeWindow();
    BadgeWindow(BadgeWindow const&) = delete;
    BadgeWindow& operator=(BadgeWindow const&) = delete;

    // Creates the hidden window; false when GTK could not.
    bool create(os::BadgeGeometry const& geometry);
    void destroy();
    bool exists() const { return m_window != nullptr; }
    bool visible() const;

    void show();
    void hide();
    void raise();
    void place(os::BadgeGeometry const& geometry);
    void move(int x, int y);
    void paint(os::BadgeLook const& look);

private:
    friend struct BadgeSignals;
    void apply_outline();

    Events m_events;
    GtkWidget* m_window = nullptr;
    os::BadgeGeometry m_geometry;
    os::BadgeLook m_look;
    bool m_grabbed = false;
};

} // namespace tillbay::gtk

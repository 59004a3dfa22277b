#pragma once

// The main window on GTK3: the top-level window "TILLWAVE POS" that hosts the
// web view, with the full-screen switch, F11, the close confirmation, the
// alert timer, and the message boxes. The tray icon and the badge belong to the alert.

#include "os/window.h"

#include <functional>
#include <string>
#include <string_view>

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;

namespace tillbay::gtk {

enum class BoxIcon {
    Information,
    Warning,
    Error,
    Question,
};

// A modal message box titled "TILLWAVE POS"; owner may be null (no window yet).
void message_box(GtkWindow* owner, BoxIcon icon, std::string_view text);
// A yes/no question; true only for "yes". no_is_default puts the focus on "no".
bool question_box(GtkWindow* owner, BoxIcon icon, std::string_view title, std::string_view text, bool no_is_default);

// The embedded program icon as the window icon of every window.
void set_default_icon(std::string_view png_bytes);

class MainWindow final : public os::WindowPort {
public:
    struct Events {
        std::function<void()> f11;            // queue the trusted "setfull"
        std::function<bool()> close_requested; // the close confirmation: true lets the window close
        std::function<void()> destroyed;      // the orderly shutdown, before the loop ends
        std::function<void()> alert_tick;     // timer 41
    };

    MainWindow(Events events, std::string_view icon_png);
    ~MainWindow() override;

    GtkWindow* window() const;
    void set_content(GtkWidget* widget);
    void show();

    void start_alert_timer();     // timer 41, every 1,000 ms
    void stop_timers();

    // os::WindowPort
    bool window_exists() const override;
    void set_title(std::string_view title) override;
    bool enter_fullscreen() override;
    void leave_fullscreen() override;
    void bring_to_front() override;
    void minimize() override;
    void request_close() override;
    bool start_new_process() override;
    bool ask_yes_no(std::string_view title, std::string_view text) override;
    void inform_box(std::string_view text) override;

private:
    friend struct MainWindowSignals;
    Events m_events;
    GtkWidget* m_window = nullptr;
    unsigned m_alert_timer = 0;
    bool m_destroyed = false;
};

// Starts /proc/self/exe again with the given arguments (argv[0] included).
bool spawn_self(char* const argv[]);

} // namespace tillbay::gtk

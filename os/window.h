#pragma once

// The main window as the portable code sees it. The GTK backend implements it;
// unit tests implement it with a recording fake.

#include <string_view>

namespace tillbay::os {

inline constexpr int main_window_width = 1400;
inline constexpr int main_window_height = 860;

// What the program needs from its main window, on the windowing system at
// hand. Called on the UI thread only.
class WindowPort {
public:
    virtual ~WindowPort() = default;

    virtual bool window_exists() const = 0;
    virtual void set_title(std::string_view title) = 0;
    // Covers the monitor the window is on, without a frame. False when the
    // monitor cannot be determined; the window is then left as it was.
    virtual bool enter_fullscreen() = 0;
    virtual void leave_fullscreen() = 0;
    virtual void bring_to_front() = 0;
    virtual void minimize() = 0;
    // Asks the window to close, as the close button does (the confirmation runs).
    virtual void request_close() = 0;
    // Starts the program again (same executable, no arguments); false when it
    // could not be started.
    virtual bool start_new_process() = 0;
    // A warning question owned by the main window, "no" as the default answer.
    virtual bool ask_yes_no(std::string_view title, std::string_view text) = 0;
    virtual void inform_box(std::string_view text) = 0;
};

} // namespace tillbay::os

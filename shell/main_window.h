#pragma once

// The main window's portable behaviour: the full-screen switch and its
// per-user file, the version line and the window title, the close
// confirmation, the app messages turned into internal bridge commands, the
// restart on request. The window itself (GTK on Linux) sits behind os::WindowPort,
// so all of this runs in unit tests without a display.

#include "bridge/family.h"
#include "os/window.h"
#include "shell/app_queue.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::shell {

inline constexpr std::string_view window_title = "TILLWAVE POS";
inline constexpr int window_width = os::main_window_width;
inline constexpr int window_height = os::main_window_height;
// RGB(234, 238, 244): the colour behind the page while it loads.
inline constexpr unsigned background_rgb = 0xEAEEF4;

// A server host containing this word is the production platform; every other
// host is labelled as a test set-up in the version line and the title.
inline constexpr std::string_view production_domain_word = "tillwave.co.kr";

// The version text "v1.3.191  ·  화면<ui>  ·  <label>" and the matching title.
struct VersionLine {
    std::string text;
    std::string title;
};
VersionLine make_version_line(std::string_view program_version, std::string_view ui_version,
    std::string_view server_host);

// The internal command an app message stands for, or nothing when the message
// is handled elsewhere (drain, order events, tray, export results).
std::optional<std::string> internal_command_for(AppMessage const& message);

// The first byte of "fullscreen.txt" says whether the program starts in full
// screen; a missing or empty file means window mode.
bool read_fullscreen_file(std::string const& path);

// The exit button shown on store-management pages while in full screen.
std::string fullscreen_exit_button_script(bool fullscreen);

class MainWindow {
public:
    struct Context {
        os::WindowPort* port = nullptr;
        std::string fullscreen_path;                    // the per-user "fullscreen.txt"
        std::function<unsigned()> pending_print_jobs;   // jobs being sent or waiting
        std::function<std::string()> ui_version;        // the active UI bundle's version text
        std::function<std::string()> server_host;       // the configured server host
        std::function<bool()> test_port;                // the test-port flag
        // Runs a whole script in the current page under the page callback
        // rules (the bridge's page callback operation).
        std::function<void(std::string_view script)> run_page_script;
        std::function<void(std::string_view message)> status;
        // Sends the service block and the server-down report to the page.
        std::function<void(bridge::Page& page)> send_service_state;
    };

    explicit MainWindow(Context context);

    bool fullscreen() const { return m_fullscreen; }

    // setfull with no argument toggles; with one, its integer value decides.
    void set_full(std::optional<std::string_view> argument, bridge::Page& page);
    void get_full(bridge::Page& page) const;
    // Answers setVersion and renames the window.
    void send_version(bridge::Page& page);
    // restartapp: start the new process, then close this one through the
    // usual confirmation.
    void restart(bridge::Page& page);
    // The close button: true when the window may close now.
    bool confirm_close();
    // Plain confirmations of the store-management commands.
    void inform(std::string_view text);
    void bring_to_front();
    void send_service_state(bridge::Page& page);

private:
    Context m_context;
    bool m_fullscreen = false;
};

// The commands of the main window, offered to the bridge as a command family:
// setfull, getfull, getposver, restartapp, quitapp, minimizewindow, the
// screen preferences every page asks for first: gettheme, settheme,
// getservice, the signed-in store's screen layout: getlayout, savelayout, and
// needbox, the information box of a page that cannot show a status message.
class ShellFamily final : public bridge::Family {
public:
    ShellFamily(MainWindow& window, os::WindowPort& port);
    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override;

private:
    MainWindow& m_window;
    os::WindowPort& m_port;
};

} // namespace tillbay::shell

#pragma once

// The new-order alert as the program runs it: the desktop backend (badge
// window, tray, sounds, flash timer), the alert's state machine on top of it,
// and its commands in the `pc` and `history` slots of the bridge.

#include "alert/alert.h"
#include "alert/history_family.h"
#include "bridge/bridge.h"
#include "os/linux/alert_gtk.h"

namespace tillbay::app {

class AlertWiring final : os::AlertEvents {
public:
    explicit AlertWiring(gtk::AlertConfig config);
    ~AlertWiring() override;

    AlertWiring(AlertWiring const&) = delete;
    AlertWiring& operator=(AlertWiring const&) = delete;

    void attach(bridge::Bridge& bridge);
    // Start-up: the tray icon and the hidden badge.
    void start();
    // Shutdown: tray icon, badge and the flash timer go.
    void shut_down();
    // Timer 41.
    void tick();
    // The new-order sound once, for the settings page's test button.
    void play_test_sound();

private:
    void flash_ended() override;
    void badge_pressed(int x, int y) override;
    void badge_dragged(int x, int y) override;
    void badge_released() override;

    gtk::AlertService m_desktop;
    alert::DesktopAlertPort m_port;
    alert::Alert m_alert;
    alert::AlertPcFamily m_pc_family;
    alert::HistoryFamily m_history_family;
};

} // namespace tillbay::app

#pragma once

// The tray icon on Linux desktops: an Ayatana AppIndicator whose title and
// label carry the number of waiting orders, with a menu entry that brings the
// POS to the front (indicators report no plain clicks).

#include <functional>
#include <string>
#include <string_view>

namespace tillbay::gtk {

class TrayIcon {
public:
    TrayIcon() = default;
    ~TrayIcon();
    TrayIcon(TrayIcon const&) = delete;
    TrayIcon& operator=(TrayIcon const&) = delete;

    // False when there is no session bus to reach a tray host through.
    bool add(std::string const& icon_path, std::function<void()> activated);
    void remove();
    bool shown() const { return m_indicator != nullptr; }
    void set_tip(std::string_view tip, int waiting);

private:
    friend struct TraySignals;
    void* m_indicator = nullptr; // AppIndicator
    void* m_tip_item = nullptr;  // GtkWidget: the menu line with the count
    std::function<void()> m_activated;
};

} // namespace tillbay::gtk

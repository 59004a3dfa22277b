#include "os/linux/alert_tray_gtk.h"

#include "foundation/log.h"

#include <exception>
#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>
#include <string>

namespace tillbay::gtk {

struct TraySignals {
    static void open(GtkMenuItem*, gpointer data)
    {
        auto* self = static_cast<TrayIcon*>(data);
        log::guarded("트레이 아이콘 처리 실패", [&] {
            if (self->m_activated)
                self->m_activated();
        });
    }
};

TrayIcon::~TrayIcon() { remove(); }

bool TrayIcon::add(std::string const& icon_path, std::function<void()> activated)
{
    if (m_indicator)
        return true;
    // Indicators reach the tray host over the session bus; without one there
    // is nothing to show an icon in, and the program works the same.
    if (!g_getenv("DBUS_SESSION_BUS_ADDRESS") || !*g_getenv("DBUS_SESSION_BUS_ADDRESS")) {
        log::bridge("UI", "세션 버스가 없어 트레이 아이콘을 만들지 않았다");
        return false;
    }
    m_activated = std::move(activated);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    AppIndicator* indicator = app_indicator_new("tillbay", icon_path.c_str(), APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
    if (!indicator)
        return false;
    app_indicator_set_title(indicator, "틸웨");
    GtkWidget* menu = gtk_menu_new();
    GtkWidget* open = gtk_menu_item_new_with_label("TILLWAVE POS 열기");
    g_signal_connect(open, "activate", G_CALLBACK(TraySignals::open), this);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), open);
    // The waiting count, as the tip of the icon would show it.
    GtkWidget* tip = gtk_menu_item_new_with_label("틸웨");
    gtk_widget_set_sensitive(tip, FALSE);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), tip);
    gtk_widget_show_all(menu);
    app_indicator_set_menu(indicator, GTK_MENU(menu));
    app_indicator_set_secondary_activate_target(indicator, open);
    app_indicator_set_status(indicator, APP_INDICATOR_STATUS_ACTIVE);
    G_GNUC_END_IGNORE_DEPRECATIONS
    m_indicator = indicator;
    m_tip_item = tip;
    return true;
}

void TrayIcon::remove()
{
    if (!m_indicator)
        return;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    app_indicator_set_status(static_cast<AppIndicator*>(m_indicator), APP_INDICATOR_STATUS_PASSIVE);
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_object_unref(m_indicator);
    m_indicator = nullptr;
    m_tip_item = nullptr;
}

void TrayIcon::set_tip(std::string_view tip, int waiting)
{
    if (!m_indicator)
        return;
    std::string text(tip);
    std::string count = waiting > 0 ? std::to_string(waiting) : std::string();
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    auto* indicator = static_cast<AppIndicator*>(m_indicator);
    app_indicator_set_title(indicator, text.c_str());
    // The label beside the icon carries the count; the guide keeps the panel
    // from jumping as the number grows.
    app_indicator_set_label(indicator, count.c_str(), "999");
    G_GNUC_END_IGNORE_DEPRECATIONS
    if (m_tip_item)
        gtk_menu_item_set_label(GTK_MENU_ITEM(m_tip_item), text.c_str());
}

} // namespace tillbay::gtk

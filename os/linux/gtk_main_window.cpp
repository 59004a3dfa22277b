#include "os/linux/gtk_main_window.h"

#include "foundation/log.h"
#include "os/process.h"

#include <cerrno>
#include <exception>
#include <gtk/gtk.h>
#include <unistd.h>


namespace tillbay::gtk {

namespace {

GtkMessageType message_type(BoxIcon icon)
{
    switch (icon) {
    case BoxIcon::Information: return GTK_MESSAGE_INFO;
    case BoxIcon::Warning: return GTK_MESSAGE_WARNING;
    case BoxIcon::Error: return GTK_MESSAGE_ERROR;
    case BoxIcon::Question: return GTK_MESSAGE_QUESTION;
    }
    return GTK_MESSAGE_OTHER;
}

GdkPixbuf* pixbuf_from_png(std::string_view png)
{
    if (png.empty())
        return nullptr;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("png", nullptr);
    if (!loader)
        return nullptr;
    GdkPixbuf* pixbuf = nullptr;
    if (gdk_pixbuf_loader_write(loader, reinterpret_cast<guchar const*>(png.data()), png.size(), nullptr)
        && gdk_pixbuf_loader_close(loader, nullptr)) {
        pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
        if (pixbuf)
            g_object_ref(pixbuf);
    }
    g_object_unref(loader);
    return pixbuf;
}

} // namespace

void message_box(GtkWindow* owner, BoxIcon icon, std::string_view text)
{
    std::string body(text);
    GtkWidget* dialog = gtk_message_dialog_new(owner, GTK_DIALOG_MODAL, message_type(icon), GTK_BUTTONS_OK, "%s",
        body.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), "TILLWAVE POS");
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
}

bool question_box(GtkWindow* owner, BoxIcon icon, std::string_view title, std::string_view text, bool no_is_default)
{
    std::string body(text);
    std::string caption(title);
    GtkWidget* dialog = gtk_message_dialog_new(owner, GTK_DIALOG_MODAL, message_type(icon), GTK_BUTTONS_NONE, "%s",
        body.c_str());
    gtk_dialog_add_buttons(GTK_DIALOG(dialog), "예", GTK_RESPONSE_YES, "아니요", GTK_RESPONSE_NO, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), no_is_default ? GTK_RESPONSE_NO : GTK_RESPONSE_YES);
    gtk_window_set_title(GTK_WINDOW(dialog), caption.c_str());
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    int answer = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    return answer == GTK_RESPONSE_YES;
}

void set_default_icon(std::string_view png_bytes)
{
    if (GdkPixbuf* icon = pixbuf_from_png(png_bytes)) {
        gtk_window_set_default_icon(icon);
        g_object_unref(icon);
    }
}

bool spawn_self(char* const argv[])
{
    int rc = os::process::spawn(os::process::own_executable(), argv);
    if (rc != 0) {
        errno = rc;
        return false;
    }
    return true;
}

struct MainWindowSignals {
    static gboolean key_press(GtkWidget*, GdkEventKey* event, gpointer data)
    {
        auto* self = static_cast<MainWindow*>(data);
        if (event->keyval == GDK_KEY_F11) {
            if (self->m_events.f11)
                self->m_events.f11();
            return TRUE;
        }
        return FALSE;
    }

    static gboolean delete_event(GtkWidget*, GdkEvent*, gpointer data)
    {
        auto* self = static_cast<MainWindow*>(data);
        bool keep_open = false;
        log::guarded("닫기 확인 실패", [&] {
            keep_open = self->m_events.close_requested && !self->m_events.close_requested();
        });
        return keep_open ? TRUE : FALSE;
    }

    static void destroy(GtkWidget*, gpointer data)
    {
        auto* self = static_cast<MainWindow*>(data);
        if (self->m_destroyed)
            return;
        self->m_destroyed = true;
        log::guarded("종료 정리 실패", [&] {
            if (self->m_events.destroyed)
                self->m_events.destroyed();
        });
        self->m_window = nullptr;
        gtk_main_quit();
    }

    static gboolean alert_tick(gpointer data)
    {
        auto* self = static_cast<MainWindow*>(data);
        log::guarded("알림 타이머 실패", [&] {
            if (self->m_events.alert_tick)
                self->m_events.alert_tick();
        });
        return G_SOURCE_CONTINUE;
    }

};

MainWindow::MainWindow(Events events, std::string_view icon_png)
    : m_events(std::move(events))
{
    set_default_icon(icon_png);
    m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(m_window), "TILLWAVE POS");
    gtk_window_set_default_size(GTK_WINDOW(m_window), os::main_window_width, os::main_window_height);
    gtk_widget_set_name(m_window, "tillbay-main");

    // The window shows the program's background colour while the page loads.
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, "#tillbay-main { background-color: #EAEEF4; }", -1, nullptr);
    gtk_style_context_add_provider(gtk_widget_get_style_context(m_window), GTK_STYLE_PROVIDER(css),
        GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);

    g_signal_connect(m_window, "key-press-event", G_CALLBACK(MainWindowSignals::key_press), this);
    g_signal_connect(m_window, "delete-event", G_CALLBACK(MainWindowSignals::delete_event), this);
    g_signal_connect(m_window, "destroy", G_CALLBACK(MainWindowSignals::destroy), this);
}

MainWindow::~MainWindow()
{
    stop_timers();
    if (m_window) {
        g_signal_handlers_disconnect_by_data(m_window, this);
        gtk_widget_destroy(m_window);
    }
}

GtkWindow* MainWindow::window() const { return m_window ? GTK_WINDOW(m_window) : nullptr; }

void MainWindow::set_content(GtkWidget* widget)
{
    if (m_window)
        gtk_container_add(GTK_CONTAINER(m_window), widget);
}

void MainWindow::show()
{
    if (m_window)
        gtk_widget_show_all(m_window);
}

void MainWindow::start_alert_timer()
{
    if (!m_alert_timer)
        m_alert_timer = g_timeout_add(1000, MainWindowSignals::alert_tick, this);
}

void MainWindow::stop_timers()
{
    if (m_alert_timer)
        g_source_remove(m_alert_timer);
    m_alert_timer = 0;
}

bool MainWindow::window_exists() const { return m_window != nullptr; }

void MainWindow::set_title(std::string_view title)
{
    if (!m_window)
        return;
    std::string text(title);
    gtk_window_set_title(GTK_WINDOW(m_window), text.c_str());
}

bool MainWindow::enter_fullscreen()
{
    if (!m_window)
        return false;
    GdkDisplay* display = gtk_widget_get_display(m_window);
    GdkWindow* gdk_window = gtk_widget_get_window(m_window);
    GdkMonitor* monitor = nullptr;
    if (display && gdk_window)
        monitor = gdk_display_get_monitor_at_window(display, gdk_window);
    else if (display)
        monitor = gdk_display_get_primary_monitor(display);
    if (!monitor)
        return false;
    int index = 0;
    for (int i = 0, n = gdk_display_get_n_monitors(display); i < n; ++i) {
        if (gdk_display_get_monitor(display, i) == monitor)
            index = i;
    }
    gtk_window_fullscreen_on_monitor(GTK_WINDOW(m_window), gtk_widget_get_screen(m_window), index);
    return true;
}

void MainWindow::leave_fullscreen()
{
    if (m_window)
        gtk_window_unfullscreen(GTK_WINDOW(m_window));
}

void MainWindow::bring_to_front()
{
    if (!m_window)
        return;
    gtk_window_deiconify(GTK_WINDOW(m_window));
    gtk_window_present_with_time(GTK_WINDOW(m_window), gtk_get_current_event_time());
}

void MainWindow::minimize()
{
    if (m_window)
        gtk_window_iconify(GTK_WINDOW(m_window));
}

void MainWindow::request_close()
{
    if (!m_window)
        return;
    // As the close button does: the delete-event handler asks first.
    gtk_window_close(GTK_WINDOW(m_window));
}

bool MainWindow::start_new_process()
{
    char program[] = "tillbay";
    char* argv[] = { program, nullptr };
    return spawn_self(argv);
}

bool MainWindow::ask_yes_no(std::string_view title, std::string_view text)
{
    return question_box(window(), BoxIcon::Warning, title, text, true);
}

void MainWindow::inform_box(std::string_view text)
{
    message_box(window(), BoxIcon::Information, text);
}

} // namespace tillbay::gtk

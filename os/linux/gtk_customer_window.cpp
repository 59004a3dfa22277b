#include "os/linux/gtk_customer_window.h"

#include "foundation/log.h"

#include <exception>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

namespace tillbay::gtk {

namespace {

constexpr unsigned background_rgb = 0x0F1A2E;
constexpr char window_title[] = "틸웨 손님 화면";

} // namespace

struct CustomerWindow::Signals {
    static void monitors_changed(GdkScreen*, gpointer data)
    {
        auto* self = static_cast<CustomerWindow*>(data);
        try {
            if (self->m_events)
                self->m_events->monitors_changed();
        } catch (std::exception const& e) {
            log::bridge("CUST", std::string("화면 배치 변경 처리 실패: ") + e.what());
        } catch (...) {
            log::bridge("CUST", "화면 배치 변경 처리 실패");
        }
    }

    static gboolean delete_event(GtkWidget*, GdkEvent*, gpointer)
    {
        // The window closes only by the program's own decision.
        return TRUE;
    }
};

CustomerWindow::CustomerWindow(std::function<bool(std::string_view)> allowed, bool developer_extras)
    : m_allowed(std::move(allowed))
    , m_developer_extras(developer_extras)
{
    if (GdkScreen* screen = gdk_screen_get_default())
        m_monitors_handler = g_signal_connect(screen, "monitors-changed", G_CALLBACK(Signals::monitors_changed), this);
}

CustomerWindow::~CustomerWindow()
{
    if (m_monitors_handler) {
        if (GdkScreen* screen = gdk_screen_get_default())
            g_signal_handler_disconnect(screen, m_monitors_handler);
    }
    close();
}

std::vector<os::Monitor> CustomerWindow::monitors()
{
    std::vector<os::Monitor> list;
    GdkDisplay* display = gdk_display_get_default();
    if (!display)
        return list;
    int count = gdk_display_get_n_monitors(display);
    for (int i = 0; i < count; ++i) {
        GdkMonitor* monitor = gdk_display_get_monitor(display, i);
        if (!monitor)
            continue;
        GdkRectangle area {};
        gdk_monitor_get_geometry(monitor, &area);
        os::Monitor m;
        m.x = area.x;
        m.y = area.y;
        m.width = area.width;
        m.height = area.height;
        m.primary = gdk_monitor_is_primary(monitor);
        if (char const* model = gdk_monitor_get_model(monitor))
            m.name = model;
        list.push_back(std::move(m));
    }
    return list;
}

bool CustomerWindow::open(os::ScreenRect const& rect, os::WindowKind kind, std::string const& address)
{
    if (m_window)
        return true;
    auto view = WebView::create(*this, std::string(), background_rgb, m_developer_extras);
    if (!view)
        return false;
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    if (!window)
        return false;
    GtkWindow* w = GTK_WINDOW(window);
    gtk_window_set_title(w, window_title);
    gtk_widget_set_name(window, "tillbay-customer");
    gtk_window_set_decorated(w, FALSE);
    gtk_window_set_skip_taskbar_hint(w, TRUE);
    gtk_window_set_skip_pager_hint(w, TRUE);
    // The counter keeps the keyboard: neither showing the window nor a
    // click in it takes the focus from the main window.
    gtk_window_set_accept_focus(w, FALSE);
    gtk_window_set_focus_on_map(w, FALSE);
    gtk_window_set_keep_above(w, kind == os::WindowKind::Monitor);
    if (kind == os::WindowKind::Test)
        gtk_container_set_border_width(GTK_CONTAINER(window), 1);
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css,
        kind == os::WindowKind::Test ? "#tillbay-customer { background: #5d6b80; }" : "#tillbay-customer { background: #0f1a2e; }",
        -1, nullptr);
    gtk_style_context_add_provider(gtk_widget_get_style_context(window), GTK_STYLE_PROVIDER(css),
        GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
    g_signal_connect(window, "delete-event", G_CALLBACK(Signals::delete_event), this);

    gtk_window_set_default_size(w, rect.width, rect.height);
    gtk_window_move(w, rect.x, rect.y);
    gtk_container_add(GTK_CONTAINER(window), view->widget());
    m_window = window;
    m_view = std::move(view);
    gtk_widget_show_all(window);
    gtk_window_move(w, rect.x, rect.y);
    m_view->navigate(address);
    return true;
}

void CustomerWindow::move(os::ScreenRect const& rect)
{
    if (!m_window)
        return;
    gtk_window_move(GTK_WINDOW(m_window), rect.x, rect.y);
    gtk_window_resize(GTK_WINDOW(m_window), rect.width, rect.height);
}

void CustomerWindow::close()
{
    if (!m_window)
        return;
    GtkWidget* window = m_window;
    m_window = nullptr;
    if (m_view) {
        gtk_container_remove(GTK_CONTAINER(window), m_view->widget());
        m_view.reset();
    }
    gtk_widget_destroy(window);
}

std::string CustomerWindow::current_address() const { return m_view ? m_view->current_address() : std::string {}; }

void CustomerWindow::execute_script(std::string const& script)
{
    if (m_view)
        m_view->execute_script(script);
}

bool CustomerWindow::allow_navigation(std::string const& address)
{
    bool allowed = m_allowed && m_allowed(address);
    if (!allowed)
        log::bridge("SEC", "차단: customer navigation");
    return allowed;
}

bool CustomerWindow::main_navigation_starting(std::string const& address) { return m_allowed && m_allowed(address); }

void CustomerWindow::content_loading(std::string const&) { }

void CustomerWindow::navigation_completed(std::string const& address, bool success)
{
    if (m_events)
        m_events->page_loaded(address, success);
}

bool CustomerWindow::frame_allowed(std::string const&, std::string const&) { return false; }

void CustomerWindow::frame_refused(std::string const&) { log::bridge("SEC", "차단: frame navigation"); }

void CustomerWindow::page_message(PageMessage const&) { log::bridge("SEC", "차단: customer message"); }

void CustomerWindow::refused(std::string_view reason) { log::bridge("SEC", "차단: " + std::string(reason)); }

void CustomerWindow::api_request(std::unique_ptr<SchemeRequest>)
{
    // Dropping the request answers it with an error: the customer page has no API.
}

void CustomerWindow::web_process_gone()
{
    log::bridge("CUST", "손님 화면 프로세스가 끝났다");
    if (m_events)
        m_events->page_loaded({}, false);
}

} // namespace tillbay::gtk

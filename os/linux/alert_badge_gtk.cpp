#include "os/linux/alert_badge_gtk.h"

#include "foundation/log.h"

#include <exception>
#include <gtk/gtk.h>
#include <string>

namespace tillbay::gtk {

namespace {

// The badge's font. Malgun Gothic is the Korean system font of the shop PCs
// the badge was first drawn for; on Linux desktops the Korean fonts that are
// usually there follow it.
constexpr char const* font_families = "Malgun Gothic, NanumGothic, NanumBarunGothic, Noto Sans CJK KR, sans-serif";

// The badge's font heights are character heights: the text rectangles are
// cut to fit one line of exactly that size.
double em_for_height(int height) { return height; }

void set_colour(cairo_t* cr, os::Rgb c) { cairo_set_source_rgb(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0); }

void rounded_rectangle(cairo_t* cr, double width, double height, double radius)
{
    if (radius <= 0) {
        cairo_rectangle(cr, 0, 0, width, height);
        return;
    }
    cairo_new_sub_path(cr);
    cairo_arc(cr, width - radius, radius, radius, -G_PI / 2, 0);
    cairo_arc(cr, width - radius, height - radius, radius, 0, G_PI / 2);
    cairo_arc(cr, radius, height - radius, radius, G_PI / 2, G_PI);
    cairo_arc(cr, radius, radius, radius, G_PI, 3 * G_PI / 2);
    cairo_close_path(cr);
}

// One line of text in the rectangle (left, top, right, bottom), from its top
// edge, cut at the rectangle; ellipsis ends a value that is too long.
void draw_line(cairo_t* cr, std::string const& text, int height, os::Rgb colour, int left, int top, int right,
    int bottom, bool ellipsis)
{
    if (right <= left || bottom <= top)
        return;
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_from_string(font_families);
    pango_font_description_set_weight(font, PANGO_WEIGHT_BOLD);
    pango_font_description_set_absolute_size(font, em_for_height(height) * PANGO_SCALE);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    pango_layout_set_single_paragraph_mode(layout, TRUE);
    pango_layout_set_width(layout, (right - left) * PANGO_SCALE);
    pango_layout_set_ellipsize(layout, ellipsis ? PANGO_ELLIPSIZE_END : PANGO_ELLIPSIZE_NONE);
    pango_layout_set_text(layout, text.c_str(), static_cast<int>(text.size()));

    cairo_save(cr);
    cairo_rectangle(cr, left, top, right - left, bottom - top);
    cairo_clip(cr);
    set_colour(cr, colour);
    cairo_move_to(cr, left, top);
    pango_cairo_show_layout(cr, layout);
    cairo_restore(cr);
    g_object_unref(layout);
}

} // namespace

struct BadgeSignals {
    static gboolean draw(GtkWidget* widget, cairo_t* cr, gpointer data)
    {
        auto* self = static_cast<BadgeWindow*>(data);
        log::guarded("알림 배지 그리기 실패", [&] {
            auto const& look = self->m_look;
            auto s = [&](int n) { return os::scaled(n, look.scale_dpi, look.scale_percent); };
            int width = gtk_widget_get_allocated_width(widget);
            int height = gtk_widget_get_allocated_height(widget);

            // The whole window is covered, so nothing needs erasing first.
            set_colour(cr, look.background);
            cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
            cairo_paint(cr);
            cairo_set_operator(cr, CAIRO_OPERATOR_OVER);

            draw_line(cr, look.title, look.title_height, look.title_colour, s(14), s(9), width - s(10), s(9) + s(16),
                false);
            draw_line(cr, look.value, look.value_height, { 255, 255, 255 }, s(14), s(28), width - s(10), height - s(6),
                true);
        });
        return TRUE;
    }

    static void realize(GtkWidget* widget, gpointer)
    {
        GdkWindow* window = gtk_widget_get_window(widget);
        if (!window)
            return;
        GdkCursor* hand = gdk_cursor_new_from_name(gtk_widget_get_display(widget), "pointer");
        if (hand) {
            gdk_window_set_cursor(window, hand);
            g_object_unref(hand);
        }
    }

    static gboolean button_press(GtkWidget* widget, GdkEventButton* event, gpointer data)
    {
        auto* self = static_cast<BadgeWindow*>(data);
        if (event->button != 1 || event->type != GDK_BUTTON_PRESS)
            return FALSE;
        log::guarded("알림 배지 누르기 처리 실패", [&] {
            // The pointer is held by the badge while the button is down, so
            // that a quick drag does not lose it when the cursor leaves the
            // window before the window has followed.
            GdkSeat* seat = gdk_event_get_seat(reinterpret_cast<GdkEvent*>(event));
            GdkWindow* window = gtk_widget_get_window(widget);
            if (seat && window)
                self->m_grabbed = gdk_seat_grab(seat, window, GDK_SEAT_CAPABILITY_POINTER, FALSE, nullptr,
                                      reinterpret_cast<GdkEvent*>(event), nullptr, nullptr)
                    == GDK_GRAB_SUCCESS;
            if (self->m_events.pressed)
                self->m_events.pressed(static_cast<int>(event->x_root), static_cast<int>(event->y_root));
        });
        return TRUE;
    }

    static gboolean motion(GtkWidget*, GdkEventMotion* event, gpointer data)
    {
        auto* self = static_cast<BadgeWindow*>(data);
        log::guarded("알림 배지 끌기 처리 실패", [&] {
            if (self->m_events.dragged)
                self->m_events.dragged(static_cast<int>(event->x_root), static_cast<int>(event->y_root));
        });
        return TRUE;
    }

    static gboolean button_release(GtkWidget*, GdkEventButton* event, gpointer data)
    {
        auto* self = static_cast<BadgeWindow*>(data);
        if (event->button != 1)
            return FALSE;
        log::guarded("알림 배지 놓기 처리 실패", [&] {
            if (self->m_grabbed) {
                if (GdkSeat* seat = gdk_event_get_seat(reinterpret_cast<GdkEvent*>(event)))
                    gdk_seat_ungrab(seat);
                self->m_grabbed = false;
            }
            if (self->m_events.released)
                self->m_events.released();
        });
        return TRUE;
    }
};

BadgeWindow::BadgeWindow(Events events)
    : m_events(std::move(events))
{
}

BadgeWindow::~BadgeWindow() { destroy(); }

bool BadgeWindow::create(os::BadgeGeometry const& geometry)
{
    if (m_window)
        return true;
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    if (!window)
        return false;
    GtkWindow* w = GTK_WINDOW(window);
    gtk_window_set_title(w, badge_title);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    // The window class is the badge's name for window managers and tests;
    // GTK has no other way to set it per window.
    gtk_window_set_wmclass(w, badge_class, badge_class);
    G_GNUC_END_IGNORE_DEPRECATIONS
    gtk_window_set_decorated(w, FALSE);
    gtk_window_set_resizable(w, FALSE);
    gtk_window_set_keep_above(w, TRUE);
    gtk_window_set_skip_taskbar_hint(w, TRUE);
    gtk_window_set_skip_pager_hint(w, TRUE);
    gtk_window_set_accept_focus(w, FALSE);
    gtk_window_set_focus_on_map(w, FALSE);
    gtk_window_set_type_hint(w, GDK_WINDOW_TYPE_HINT_UTILITY);
    gtk_window_stick(w);
    gtk_widget_set_app_paintable(window, TRUE);
    gtk_widget_add_events(window, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK);

    g_signal_connect(window, "draw", G_CALLBACK(BadgeSignals::draw), this);
    g_signal_connect(window, "realize", G_CALLBACK(BadgeSignals::realize), this);
    g_signal_connect(window, "button-press-event", G_CALLBACK(BadgeSignals::button_press), this);
    g_signal_connect(window, "motion-notify-event", G_CALLBACK(BadgeSignals::motion), this);
    g_signal_connect(window, "button-release-event", G_CALLBACK(BadgeSignals::button_release), this);
    m_window = window;
    place(geometry);
    return true;
}

void BadgeWindow::destroy()
{
    if (!m_window)
        return;
    g_signal_handlers_disconnect_by_data(m_window, this);
    gtk_widget_destroy(m_window);
    m_window = nullptr;
    m_grabbed = false;
}

bool BadgeWindow::visible() const { return m_window && gtk_widget_get_visible(m_window); }

void BadgeWindow::show()
{
    if (!m_window)
        return;
    // The window manager may have its own idea of where a new window goes;
    // the badge's place is set again as it appears.
    gtk_window_move(GTK_WINDOW(m_window), m_geometry.x, m_geometry.y);
    gtk_widget_show(m_window);
    gtk_window_move(GTK_WINDOW(m_window), m_geometry.x, m_geometry.y);
}

void BadgeWindow::hide()
{
    if (m_window)
        gtk_widget_hide(m_window);
}

void BadgeWindow::raise()
{
    if (!m_window)
        return;
    gtk_window_set_keep_above(GTK_WINDOW(m_window), TRUE);
    if (GdkWindow* window = gtk_widget_get_window(m_window); window && gtk_widget_get_visible(m_window))
        gdk_window_raise(window);
}

void BadgeWindow::place(os::BadgeGeometry const& geometry)
{
    if (!m_window)
        return;
    m_geometry = geometry;
    gtk_widget_set_size_request(m_window, geometry.width, geometry.height);
    gtk_window_resize(GTK_WINDOW(m_window), geometry.width, geometry.height);
    gtk_window_move(GTK_WINDOW(m_window), geometry.x, geometry.y);
    apply_outline();
    gtk_widget_queue_draw(m_window);
}

void BadgeWindow::move(int x, int y)
{
    if (!m_window)
        return;
    m_geometry.x = x;
    m_geometry.y = y;
    gtk_window_move(GTK_WINDOW(m_window), x, y);
}

void BadgeWindow::paint(os::BadgeLook const& look)
{
    m_look = look;
    if (m_window)
        gtk_widget_queue_draw(m_window);
}

void BadgeWindow::apply_outline()
{
    // The rounded outline is a window shape, which needs no compositor: the
    // corners are cut out of the window itself.
    int width = m_geometry.width;
    int height = m_geometry.height;
    if (width <= 0 || height <= 0)
        return;
    cairo_surface_t* mask = cairo_image_surface_create(CAIRO_FORMAT_A1, width, height);
    cairo_t* cr = cairo_create(mask);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    rounded_rectangle(cr, width, height, m_geometry.corner / 2.0);
    cairo_fill(cr);
    cairo_destroy(cr);
    cairo_region_t* region = gdk_cairo_region_create_from_surface(mask);
    gtk_widget_shape_combine_region(m_window, region);
    cairo_region_destroy(region);
    cairo_surface_destroy(mask);
}

} // namespace tillbay::gtk

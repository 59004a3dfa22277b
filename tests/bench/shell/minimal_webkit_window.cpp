// The peer of the start-up benchmark: the least a WebKitGTK program does to
// show a page — one window, one web view, one load — and nothing else. It
// exits as soon as the page has finished loading.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

static void on_load_changed(WebKitWebView*, WebKitLoadEvent event, gpointer)
{
    if (event == WEBKIT_LOAD_FINISHED)
        gtk_main_quit();
}

int main(int argc, char** argv)
{
    gtk_init(&argc, &argv);
    if (argc < 2)
        return 2;
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 1400, 860);
    GtkWidget* view = webkit_web_view_new();
    gtk_container_add(GTK_CONTAINER(window), view);
    g_signal_connect(view, "load-changed", G_CALLBACK(on_load_changed), nullptr);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}

// The peer of the memory benchmark: the least a WebKitGTK program does to
// keep the order board open — one window, one web view, the same page file
// — and, once it has loaded, one script that hands the page the same order
// list the program shows. It writes the marker file when the script has run
// and then stays open until it is killed.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <string>

namespace {

std::string g_script;
std::string g_marker;

void on_script_done(GObject* view, GAsyncResult* result, gpointer)
{
    if (JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, nullptr))
        g_object_unref(value);
    if (FILE* marker = std::fopen(g_marker.c_str(), "w"))
        std::fclose(marker);
}

void on_load_changed(WebKitWebView* view, WebKitLoadEvent event, gpointer)
{
    if (event == WEBKIT_LOAD_FINISHED)
        webkit_web_view_evaluate_javascript(view, g_script.c_str(), -1, nullptr, nullptr, nullptr, on_script_done, nullptr);
}

std::string read_all(char const* path)
{
    std::string text;
    if (FILE* file = std::fopen(path, "rb")) {
        char buffer[65536];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            text.append(buffer, n);
        std::fclose(file);
    }
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    gtk_init(&argc, &argv);
    if (argc < 4)
        return 2;
    g_script = read_all(argv[2]);
    g_marker = argv[3];
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

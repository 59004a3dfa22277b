// File dialogs on GtkFileChooserNative (the desktop's own chooser through the
// portal where there is one), and "show in folder" through the file manager's
// D-Bus interface, falling back to opening the folder.

#include "os/file_dialog.h"

#include "foundation/log.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cctype>

namespace tillbay::os::dialog {

namespace {

GtkWindow* active_window()
{
    GtkWindow* chosen = nullptr;
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item; item = item->next) {
        auto* window = GTK_WINDOW(item->data);
        if (!gtk_widget_get_visible(GTK_WIDGET(window)) || gtk_window_get_window_type(window) != GTK_WINDOW_TOPLEVEL)
            continue;
        if (!chosen || gtk_window_is_active(window))
            chosen = window;
    }
    g_list_free(windows);
    return chosen;
}

// "*.jpg" also as "*.JPG" and "*.Jpg": GTK's patterns are case-sensitive.
std::string any_case_pattern(std::string const& pattern)
{
    std::string out;
    for (char c : pattern) {
        if (std::isalpha(static_cast<unsigned char>(c))) {
            out += '[';
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            out += ']';
        } else {
            out += c;
        }
    }
    return out;
}

std::string folder_of(std::string const& path)
{
    auto slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

void open_folder(std::string const& folder)
{
    gchar* uri = g_filename_to_uri(folder.c_str(), nullptr, nullptr);
    if (!uri)
        return;
    GError* error = nullptr;
    if (!g_app_info_launch_default_for_uri(uri, nullptr, &error)) {
        log::bridge("UI", std::string("폴더를 열지 못함: ") + (error ? error->message : ""));
        g_clear_error(&error);
    }
    g_free(uri);
}

void show_items_done(GObject* source, GAsyncResult* result, gpointer data)
{
    auto* folder = static_cast<std::string*>(data);
    log::guarded("ShowItems", [&] {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        if (reply) {
            g_variant_unref(reply);
        } else {
            g_clear_error(&error);
            open_folder(*folder);
        }
    });
    delete folder;
}

bool lower_match(std::string const& pattern, char const* name)
{
    gchar* p = g_ascii_strdown(pattern.c_str(), -1);
    gchar* n = g_ascii_strdown(name, -1);
    bool match = g_pattern_match_simple(p, n);
    g_free(p);
    g_free(n);
    return match;
}

class NativeDialogs final : public Dialogs {
public:
    Answer ask(Request const& request) override
    {
        GtkFileChooserAction action = GTK_FILE_CHOOSER_ACTION_OPEN;
        char const* accept = "열기";
        if (request.kind == Kind::Save) {
            action = GTK_FILE_CHOOSER_ACTION_SAVE;
            accept = "저장";
        } else if (request.kind == Kind::Folder) {
            action = GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER;
            accept = "고르기";
        }
        GtkFileChooserNative* native
            = gtk_file_chooser_native_new(request.title.c_str(), active_window(), action, accept, "취소");
        if (!native)
            return { Answer::Outcome::Failed, {} };
        auto* chooser = GTK_FILE_CHOOSER(native);
        gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(native), TRUE);
        gtk_file_chooser_set_local_only(chooser, TRUE);
        if (request.kind == Kind::Save) {
            gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
            if (!request.proposed_name.empty())
                gtk_file_chooser_set_current_name(chooser, request.proposed_name.c_str());
        }
        if (request.kind == Kind::OpenMany)
            gtk_file_chooser_set_select_multiple(chooser, TRUE);
        for (auto const& filter : request.filters) {
            GtkFileFilter* f = gtk_file_filter_new();
            gtk_file_filter_set_name(f, filter.name.c_str());
            for (auto const& pattern : filter.patterns)
                gtk_file_filter_add_pattern(f, any_case_pattern(pattern).c_str());
            gtk_file_chooser_add_filter(chooser, f);
        }
        Answer answer;
        gint response = gtk_native_dialog_run(GTK_NATIVE_DIALOG(native));
        if (response == GTK_RESPONSE_ACCEPT) {
            GSList* files = gtk_file_chooser_get_filenames(chooser);
            for (GSList* item = files; item; item = item->next) {
                answer.paths.emplace_back(static_cast<char*>(item->data));
                g_free(item->data);
            }
            g_slist_free(files);
            answer.outcome = answer.paths.empty() ? Answer::Outcome::Failed : Answer::Outcome::Chosen;
        }
        g_object_unref(native);
        return answer;
    }

    void show_in_folder(std::string const& path) override
    {
        GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
        if (!bus || !uri) {
            g_free(uri);
            if (bus)
                g_object_unref(bus);
            open_folder(folder_of(path));
            return;
        }
        char const* items[] = { uri, nullptr };
        g_dbus_connection_call(bus, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
            "org.freedesktop.FileManager1", "ShowItems", g_variant_new("(^ass)", items, ""), nullptr,
            G_DBUS_CALL_FLAGS_NO_AUTO_START, 3000, nullptr, show_items_done, new std::string(folder_of(path)));
        g_free(uri);
        g_object_unref(bus);
    }
};

class FixedDialogs final : public Dialogs {
public:
    explicit FixedDialogs(std::string path)
        : m_path(std::move(path))
    {
    }

    Answer ask(Request const& request) override
    {
        Answer answer;
        answer.outcome = Answer::Outcome::Chosen;
        if (g_file_test(m_path.c_str(), G_FILE_TEST_IS_DIR))
            answer.paths = in_folder(request);
        else if (request.kind != Kind::OpenMany) {
            answer.paths.push_back(m_path);
        } else {
            size_t start = 0;
            while (start <= m_path.size()) {
                size_t end = m_path.find(':', start);
                if (end == std::string::npos)
                    end = m_path.size();
                if (end > start)
                    answer.paths.push_back(m_path.substr(start, end - start));
                start = end + 1;
            }
        }
        if (answer.paths.empty())
            answer.outcome = Answer::Outcome::Cancelled;
        log::bridge("UI", "파일 선택창 자동 응답: " + request.title + (answer.paths.empty() ? "" : " → " + answer.paths.front()));
        return answer;
    }

    // A folder answers a save with the proposed name in it, a folder choice
    // with itself, and an open with its files that the first filter takes
    // (the first of them, in name order, unless several are asked for).
    std::vector<std::string> in_folder(Request const& request) const
    {
        if (request.kind == Kind::Folder)
            return { m_path };
        if (request.kind == Kind::Save)
            return { m_path + "/" + request.proposed_name };
        std::vector<std::string> names;
        if (GDir* dir = g_dir_open(m_path.c_str(), 0, nullptr)) {
            while (char const* name = g_dir_read_name(dir)) {
                bool taken = request.filters.empty();
                if (!request.filters.empty())
                    for (auto const& pattern : request.filters.front().patterns)
                        taken = taken || lower_match(pattern, name);
                std::string full = m_path + "/" + name;
                if (taken && g_file_test(full.c_str(), G_FILE_TEST_IS_REGULAR))
                    names.push_back(full);
            }
            g_dir_close(dir);
        }
        std::sort(names.begin(), names.end());
        if (request.kind == Kind::Open && names.size() > 1)
            names.resize(1);
        return names;
    }

    void show_in_folder(std::string const& path) override { log::bridge("UI", "폴더 보여주기: " + path); }

private:
    std::string m_path;
};

} // namespace

std::unique_ptr<Dialogs> native_dialogs() { return std::make_unique<NativeDialogs>(); }
std::unique_ptr<Dialogs> fixed_dialogs(std::string path) { return std::make_unique<FixedDialogs>(std::move(path)); }

} // namespace tillbay::os::dialog

#include "os/linux/webkit_view.h"

#include "foundation/log.h"
#include "os/webview.h"

#include <cstring>
#include <exception>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

namespace tillbay::gtk {

namespace {

// The name of the page's message channel that the web-process extension
// defines in every frame; the shim below hides it behind the WebView2-style
// window.chrome.webview.postMessage that the page script uses.
char const message_shim[] =
    "(function(){var p=window.__tillbayPost;if(typeof p!=='function')return;"
    "try{delete window.__tillbayPost;}catch(e){}"
    "var wv={postMessage:function(m){p(m);},addEventListener:function(){},removeEventListener:function(){}};"
    "if(!window.chrome)window.chrome={};"
    "try{Object.defineProperty(window.chrome,'webview',{value:Object.freeze(wv),configurable:false,writable:false});}"
    "catch(e){}})();";

WebKitWebContext* g_context = nullptr;
std::string g_ui_folder;
std::function<SchemeTarget(std::string_view)> g_read_scheme_address;
WebView* g_main_view_for_scheme = nullptr; // the view whose client answers API requests
WebViewClient* g_api_client = nullptr;

std::string mime_type_for(std::string_view path)
{
    static struct {
        char const* suffix;
        char const* type;
    } const types[] = {
        { ".html", "text/html; charset=utf-8" },
        { ".htm", "text/html; charset=utf-8" },
        { ".js", "text/javascript; charset=utf-8" },
        { ".mjs", "text/javascript; charset=utf-8" },
        { ".css", "text/css; charset=utf-8" },
        { ".json", "application/json; charset=utf-8" },
        { ".svg", "image/svg+xml" },
        { ".png", "image/png" },
        { ".jpg", "image/jpeg" },
        { ".jpeg", "image/jpeg" },
        { ".gif", "image/gif" },
        { ".webp", "image/webp" },
        { ".ico", "image/x-icon" },
        { ".woff", "font/woff" },
        { ".woff2", "font/woff2" },
        { ".ttf", "font/ttf" },
        { ".wav", "audio/wav" },
        { ".mp3", "audio/mpeg" },
        { ".txt", "text/plain; charset=utf-8" },
    };
    for (auto const& entry : types) {
        size_t n = std::strlen(entry.suffix);
        if (path.size() >= n && g_ascii_strncasecmp(path.data() + path.size() - n, entry.suffix, n) == 0)
            return entry.type;
    }
    return "application/octet-stream";
}

void finish_with_error(WebKitURISchemeRequest* request, int status, char const* text)
{
    GError* error = g_error_new_literal(G_IO_ERROR, status == 404 ? G_IO_ERROR_NOT_FOUND : G_IO_ERROR_FAILED, text);
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
}

void finish_bytes(WebKitURISchemeRequest* request, int status, std::string_view content_type, std::string body,
    std::vector<std::pair<std::string, std::string>> const& headers, std::string const& reason = {})
{
    auto* owned = new std::string(std::move(body));
    GBytes* bytes = g_bytes_new_with_free_func(owned->data(), owned->size(),
        [](gpointer p) { delete static_cast<std::string*>(p); }, owned);
    GInputStream* input = g_memory_input_stream_new_from_bytes(bytes);
    WebKitURISchemeResponse* response = webkit_uri_scheme_response_new(input, static_cast<gint64>(g_bytes_get_size(bytes)));
    webkit_uri_scheme_response_set_status(response, static_cast<guint>(status), reason.empty() ? nullptr : reason.c_str());
    std::string type(content_type);
    webkit_uri_scheme_response_set_content_type(response, type.c_str());
    SoupMessageHeaders* soup_headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    bool own_cache_control = false;
    for (auto const& [name, value] : headers)
        own_cache_control = own_cache_control || g_ascii_strcasecmp(name.c_str(), "Cache-Control") == 0;
    if (!own_cache_control)
        soup_message_headers_append(soup_headers, "Cache-Control", "no-store");
    // The content type is also a header of its own, so that a page can read it.
    bool own_content_type = false;
    for (auto const& [name, value] : headers) {
        own_content_type = own_content_type || g_ascii_strcasecmp(name.c_str(), "Content-Type") == 0;
        soup_message_headers_append(soup_headers, name.c_str(), value.c_str());
    }
    if (!own_content_type)
        soup_message_headers_append(soup_headers, "Content-Type", type.c_str());
    webkit_uri_scheme_response_set_http_headers(response, soup_headers);
    webkit_uri_scheme_request_finish_with_response(request, response);
    g_object_unref(response);
    g_object_unref(input);
    g_bytes_unref(bytes);
}

// Maps a decoded path on the UI virtual host to a file in the UI folder. Only
// plain segments are accepted: the parser of the page policy already refuses
// "..", "." and encoded separators, and this check repeats it for every
// resource the pages load, not only for documents.
std::optional<std::string> ui_file_for(std::string const& decoded_path)
{
    if (g_ui_folder.empty() || decoded_path.empty() || decoded_path[0] != '/')
        return std::nullopt;
    std::string rel = decoded_path.substr(1);
    if (rel.empty())
        return std::nullopt;
    size_t start = 0;
    while (start <= rel.size()) {
        size_t end = rel.find('/', start);
        if (end == std::string::npos)
            end = rel.size();
        std::string_view segment(rel.data() + start, end - start);
        if (segment.empty() || segment == "." || segment == ".." || segment.back() == '.' || segment.back() == ' '
            || segment.find('\\') != std::string_view::npos || segment.find('\0') != std::string_view::npos)
            return std::nullopt;
        start = end + 1;
    }
    std::string folder = g_ui_folder;
    if (folder.back() != '/')
        folder += '/';
    return folder + rel;
}

void serve_scheme(WebKitURISchemeRequest* request, gpointer)
{
    bool ran = log::guarded("화면 파일 응답 실패", [&] {
        char const* uri_text = webkit_uri_scheme_request_get_uri(request);
        SchemeTarget target = g_read_scheme_address ? g_read_scheme_address(uri_text ? uri_text : "") : SchemeTarget {};
        if (target.kind == SchemeTarget::Kind::Invalid) {
            finish_with_error(request, 400, "bad address");
            return;
        }
        if (target.kind == SchemeTarget::Kind::Api) {
            if (!g_api_client) {
                finish_with_error(request, 502, "no relay");
                return;
            }
            g_api_client->api_request(std::make_unique<SchemeRequest>(request));
            return;
        }
        if (target.kind != SchemeTarget::Kind::UiFile) {
            finish_with_error(request, 404, "unknown host");
            return;
        }
        auto file = ui_file_for(target.decoded_path);
        gchar* contents = nullptr;
        gsize length = 0;
        // A page file is at most a few megabytes; photos come from the web host.
        if (!file || !g_file_get_contents(file->c_str(), &contents, &length, nullptr)) {
            finish_with_error(request, 404, "not found");
            return;
        }
        std::string body(contents, length);
        g_free(contents);
        finish_bytes(request, 200, mime_type_for(*file), std::move(body), {});
    });
    if (!ran)
        finish_with_error(request, 500, "internal error");
}

void on_download_started(WebKitWebContext*, WebKitDownload* download, gpointer)
{
    webkit_download_cancel(download);
    log::bridge("SEC", "차단: download");
}

} // namespace

SchemeRequest::SchemeRequest(WebKitURISchemeRequest* request)
    : m_request(WEBKIT_URI_SCHEME_REQUEST(g_object_ref(request)))
{
    if (char const* uri = webkit_uri_scheme_request_get_uri(request))
        m_uri = uri;
    if (char const* method = webkit_uri_scheme_request_get_http_method(request))
        m_method = method;
    if (SoupMessageHeaders* headers = webkit_uri_scheme_request_get_http_headers(request)) {
        SoupMessageHeadersIter iter;
        soup_message_headers_iter_init(&iter, headers);
        char const* name = nullptr;
        char const* value = nullptr;
        while (soup_message_headers_iter_next(&iter, &name, &value))
            m_headers.emplace_back(name, value);
    }
    if (GInputStream* body = webkit_uri_scheme_request_get_http_body(request)) {
        // The body is already in memory in the UI process; reading it does not block.
        char buffer[16384];
        for (;;) {
            gssize n = g_input_stream_read(body, buffer, sizeof buffer, nullptr, nullptr);
            if (n <= 0)
                break;
            if (static_cast<size_t>(n) > os::max_api_request_body - m_body.size()) {
                m_body_cut = true;
                m_body.clear();
                m_body.shrink_to_fit();
                break;
            }
            m_body.append(buffer, static_cast<size_t>(n));
        }
        g_object_unref(body);
    }
}

SchemeRequest::~SchemeRequest()
{
    if (m_request) {
        finish_with_error(m_request, 502, "no answer");
        g_object_unref(m_request);
    }
}

std::string SchemeRequest::header(std::string_view name) const
{
    std::string wanted(name);
    for (auto const& [key, value] : m_headers) {
        if (g_ascii_strcasecmp(key.c_str(), wanted.c_str()) == 0)
            return value;
    }
    return {};
}

void SchemeRequest::finish(int status, std::string_view content_type, std::string body,
    std::vector<std::pair<std::string, std::string>> const& headers, std::string const& reason)
{
    if (!m_request)
        return;
    finish_bytes(m_request, status, content_type, std::move(body), headers, reason);
    g_object_unref(m_request);
    m_request = nullptr;
}

bool create_web_context(WebContextOptions const& options)
{
    if (g_context)
        return true;
    std::string cache = options.user_data_folder + "/cache";
    WebKitWebsiteDataManager* data = webkit_website_data_manager_new("base-data-directory",
        options.user_data_folder.c_str(), "base-cache-directory", cache.c_str(), nullptr);
    g_context = webkit_web_context_new_with_website_data_manager(data);
    g_object_unref(data);
    if (!g_context)
        return false;
    webkit_web_context_set_cache_model(g_context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    if (!options.extension_dir.empty())
        webkit_web_context_set_web_extensions_directory(g_context, options.extension_dir.c_str());

    std::string scheme(os::ui_scheme);
    g_read_scheme_address = options.read_scheme_address;
    webkit_web_context_register_uri_scheme(g_context, scheme.c_str(), serve_scheme, nullptr, nullptr);
    WebKitSecurityManager* security = webkit_web_context_get_security_manager(g_context);
    webkit_security_manager_register_uri_scheme_as_secure(security, scheme.c_str());
    webkit_security_manager_register_uri_scheme_as_cors_enabled(security, scheme.c_str());
    g_signal_connect(g_context, "download-started", G_CALLBACK(on_download_started), nullptr);
    g_ui_folder = options.ui_folder;
    return true;
}

WebKitWebContext* web_context() { return g_context; }



bool ui_folder_mapped() { return !g_ui_folder.empty(); }

struct WebViewSignals {
    static gboolean decide_policy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
        gpointer data)
    {
        auto* self = static_cast<WebView*>(data);
        gboolean handled = TRUE;
        bool ran = log::guarded("탐색 판단 실패", [&] {
            if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
                webkit_policy_decision_ignore(decision);
                self->m_client->refused("new window");
                return;
            }
            if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
                handled = FALSE;
                return;
            }
            auto* navigation = WEBKIT_NAVIGATION_POLICY_DECISION(decision);
            WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(navigation);
            WebKitURIRequest* request = webkit_navigation_action_get_request(action);
            char const* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
            std::string address = uri ? uri : "";
            if (!self->m_client->allow_navigation(address)) {
                webkit_policy_decision_ignore(decision);
                return;
            }
            // WebKit does not say here which frame navigates. The web
            // process learns it when the request leaves (a frame's document
            // request names its destination); it gets the frame verdict for
            // this address first, on the same ordered channel as the
            // decision, so that it can refuse a frame before it loads.
            bool as_frame = self->m_client->frame_allowed(self->current_address(), address);
            webkit_web_view_send_message_to_page(self->m_view,
                webkit_user_message_new("tillbay.frameverdict", g_variant_new("(sb)", address.c_str(), as_frame)),
                nullptr, nullptr, nullptr);
            webkit_policy_decision_use(decision);
        });
        if (!ran) {
            webkit_policy_decision_ignore(decision);
            return TRUE;
        }
        return handled;
    }

    static GtkWidget* create(WebKitWebView*, WebKitNavigationAction*, gpointer data)
    {
        // window.open() asks here directly; links with a target come through
        // decide-policy first. No window ever opens.
        static_cast<WebView*>(data)->m_client->refused("new window");
        return nullptr;
    }

    static void load_changed(WebKitWebView* view, WebKitLoadEvent event, gpointer data)
    {
        auto* self = static_cast<WebView*>(data);
        log::guarded("탐색 처리 실패", [&] {
            char const* uri = webkit_web_view_get_uri(view);
            std::string address = uri ? uri : "";
            switch (event) {
            case WEBKIT_LOAD_STARTED:
                self->m_load_failed = false;
                if (!self->m_client->main_navigation_starting(address))
                    webkit_web_view_stop_loading(view);
                break;
            case WEBKIT_LOAD_COMMITTED:
                self->m_client->content_loading(address);
                break;
            case WEBKIT_LOAD_FINISHED:
                self->m_client->navigation_completed(address, !self->m_load_failed);
                break;
            default:
                break;
            }
        });
    }

    static gboolean load_failed(WebKitWebView*, WebKitLoadEvent, char*, GError*, gpointer data)
    {
        static_cast<WebView*>(data)->m_load_failed = true;
        // No error page: the document record stays "not ready" and the user
        // keeps the page they had.
        return TRUE;
    }

    static gboolean permission_request(WebKitWebView*, WebKitPermissionRequest* request, gpointer)
    {
        webkit_permission_request_deny(request);
        return TRUE;
    }

    static gboolean context_menu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer data)
    {
        return static_cast<WebView*>(data)->m_developer_extras ? FALSE : TRUE;
    }

    static void web_process_terminated(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer data)
    {
        log::bridge("UI", reason == WEBKIT_WEB_PROCESS_CRASHED ? "화면 프로세스가 죽었다 — 시작 화면을 다시 연다"
                                                                : "화면 프로세스가 메모리 초과로 끝났다 — 시작 화면을 다시 연다");
        static_cast<WebView*>(data)->m_client->web_process_gone();
    }

    static gboolean user_message(WebKitWebView* view, WebKitUserMessage* message, gpointer data)
    {
        auto* self = static_cast<WebView*>(data);
        gboolean handled = FALSE;
        log::guarded("화면 메시지 처리 실패", [&] {
            char const* name = webkit_user_message_get_name(message);
            GVariant* parameters = webkit_user_message_get_parameters(message);
            if (!name || !parameters)
                return;
            if (std::strcmp(name, "tillbay.post") == 0 && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sbis)"))) {
                char const* source = nullptr;
                gboolean main_frame = FALSE;
                gint32 kind = 0;
                char const* text = nullptr;
                g_variant_get(parameters, "(&sbi&s)", &source, &main_frame, &kind, &text);
                PageMessage page_message;
                page_message.kind = kind == 0 ? PageMessage::Kind::Text
                    : kind == 1                ? PageMessage::Kind::NotString
                                               : PageMessage::Kind::SizeOrNul;
                page_message.source = source;
                page_message.main_frame = main_frame;
                if (page_message.kind == PageMessage::Kind::Text)
                    page_message.text = text;
                self->m_client->page_message(page_message);
                handled = TRUE;
                return;
            }
            if (std::strcmp(name, "tillbay.frameblocked") == 0 && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(s)"))) {
                // The web process refused a frame's document before it loaded.
                char const* frame = nullptr;
                g_variant_get(parameters, "(&s)", &frame);
                self->m_client->frame_refused(frame);
                handled = TRUE;
                return;
            }
            if (std::strcmp(name, "tillbay.frame") == 0 && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(s)"))) {
                char const* frame = nullptr;
                g_variant_get(parameters, "(&s)", &frame);
                char const* top = webkit_web_view_get_uri(view);
                bool allowed = self->m_client->frame_allowed(top ? top : "", frame);
                if (!allowed)
                    self->m_client->frame_refused(frame);
                webkit_user_message_send_reply(message,
                    webkit_user_message_new("tillbay.verdict", g_variant_new("(b)", allowed)));
                handled = TRUE;
                return;
            }
        });
        return handled;
    }
};

std::unique_ptr<WebView> WebView::create(WebViewClient& client, std::string const& guard_script,
    unsigned background_rgb, bool developer_extras)
{
    if (!g_context)
        return nullptr;
    std::unique_ptr<WebView> self(new WebView);
    self->m_client = &client;
    self->m_developer_extras = developer_extras;

    WebKitUserContentManager* content = webkit_user_content_manager_new();
    WebKitUserScript* shim = webkit_user_script_new(message_shim, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content, shim);
    webkit_user_script_unref(shim);
    WebKitUserScript* guard = webkit_user_script_new(guard_script.c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content, guard);
    webkit_user_script_unref(guard);

    // Window requests are let through to decide-policy, where every one is
    // refused and block-logged; WebKit's own pop-up blocker would drop some of
    // them without a trace.
    WebKitSettings* settings = webkit_settings_new_with_settings("enable-developer-extras", developer_extras ? TRUE : FALSE,
        "media-playback-requires-user-gesture", FALSE, "javascript-can-open-windows-automatically", TRUE,
        "enable-back-forward-navigation-gestures", FALSE, "allow-file-access-from-file-urls", FALSE,
        "allow-universal-access-from-file-urls", FALSE, "enable-write-console-messages-to-stdout",
        developer_extras ? TRUE : FALSE, nullptr);

    self->m_view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", g_context,
        "user-content-manager", content, "settings", settings, nullptr));
    g_object_unref(content);
    g_object_unref(settings);
    g_object_ref_sink(self->m_view);

    GdkRGBA colour { ((background_rgb >> 16) & 0xFF) / 255.0, ((background_rgb >> 8) & 0xFF) / 255.0,
        (background_rgb & 0xFF) / 255.0, 1.0 };
    webkit_web_view_set_background_color(self->m_view, &colour);

    WebView* raw = self.get();
    g_signal_connect(self->m_view, "decide-policy", G_CALLBACK(WebViewSignals::decide_policy), raw);
    g_signal_connect(self->m_view, "create", G_CALLBACK(WebViewSignals::create), raw);
    g_signal_connect(self->m_view, "load-changed", G_CALLBACK(WebViewSignals::load_changed), raw);
    g_signal_connect(self->m_view, "load-failed", G_CALLBACK(WebViewSignals::load_failed), raw);
    g_signal_connect(self->m_view, "permission-request", G_CALLBACK(WebViewSignals::permission_request), raw);
    g_signal_connect(self->m_view, "context-menu", G_CALLBACK(WebViewSignals::context_menu), raw);
    g_signal_connect(self->m_view, "web-process-terminated", G_CALLBACK(WebViewSignals::web_process_terminated), raw);
    g_signal_connect(self->m_view, "user-message-received", G_CALLBACK(WebViewSignals::user_message), raw);

    if (!g_api_client) {
        g_api_client = &client;
        g_main_view_for_scheme = raw;
    }
    return self;
}

WebView::~WebView()
{
    if (g_main_view_for_scheme == this) {
        g_main_view_for_scheme = nullptr;
        g_api_client = nullptr;
    }
    if (m_view) {
        g_signal_handlers_disconnect_by_data(m_view, this);
        g_object_unref(m_view);
    }
}

GtkWidget* WebView::widget() const { return GTK_WIDGET(m_view); }

void WebView::navigate(std::string const& address)
{
    webkit_web_view_load_uri(m_view, address.c_str());
}

std::string WebView::current_address() const
{
    char const* uri = webkit_web_view_get_uri(m_view);
    return uri ? uri : "";
}

bool WebView::call_function(std::string const& name, std::string const& args_json, std::string const& expected_address)
{
    // One constant body for every call: the page compiles it once.
    static constexpr char const* body = "if (window !== window.top || location.href !== expected) return;"
                                        "var f = window[name]; if (typeof f === 'function') f.apply(window, JSON.parse(args));";
    if (!g_utf8_validate(args_json.data(), static_cast<gssize>(args_json.size()), nullptr)
        || !g_utf8_validate(expected_address.data(), static_cast<gssize>(expected_address.size()), nullptr)
        || !g_utf8_validate(name.data(), static_cast<gssize>(name.size()), nullptr))
        return false;
    GVariantBuilder arguments;
    g_variant_builder_init(&arguments, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&arguments, "{sv}", "name", g_variant_new_string(name.c_str()));
    g_variant_builder_add(&arguments, "{sv}", "args", g_variant_new_string(args_json.c_str()));
    g_variant_builder_add(&arguments, "{sv}", "expected", g_variant_new_string(expected_address.c_str()));
    // The call neither sinks nor frees a floating argument dictionary, and
    // the dictionary holds the serialised copy of args (a whole order list,
    // over a hundred kilobytes): it is owned here and released after the call.
    GVariant* dictionary = g_variant_ref_sink(g_variant_builder_end(&arguments));
    webkit_web_view_call_async_javascript_function(m_view, body, -1, dictionary, nullptr, nullptr, nullptr, nullptr,
        nullptr);
    g_variant_unref(dictionary);
    return true;
}

void WebView::collect_garbage()
{
    webkit_web_view_send_message_to_page(m_view, webkit_user_message_new("tillbay.collect", nullptr), nullptr, nullptr,
        nullptr);
}

void WebView::execute_script(std::string const& script)
{
    webkit_web_view_evaluate_javascript(m_view, script.c_str(), static_cast<gssize>(script.size()), nullptr, nullptr,
        nullptr, nullptr, nullptr);
}

namespace {

struct EvalCall {
    std::function<void(bool, std::string)> done;
};

struct SnapshotCall {
    std::function<void(std::string)> done;
};

cairo_status_t append_png(void* closure, unsigned char const* data, unsigned int length)
{
    static_cast<std::string*>(closure)->append(reinterpret_cast<char const*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

} // namespace

void WebView::evaluate(std::string const& script, std::function<void(bool ok, std::string result)> done)
{
    auto* call = new EvalCall { std::move(done) };
    webkit_web_view_evaluate_javascript(m_view, script.c_str(), static_cast<gssize>(script.size()), nullptr, nullptr,
        nullptr,
        [](GObject* object, GAsyncResult* result, gpointer data) {
            std::unique_ptr<EvalCall> call(static_cast<EvalCall*>(data));
            GError* error = nullptr;
            JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(object), result, &error);
            if (!value) {
                std::string message = error ? error->message : "evaluation failed";
                if (error)
                    g_error_free(error);
                call->done(false, message);
                return;
            }
            std::string json = "null";
            if (!jsc_value_is_undefined(value)) {
                if (char* text = jsc_value_to_json(value, 0)) {
                    json = text;
                    g_free(text);
                }
            }
            g_object_unref(value);
            call->done(true, json);
        },
        call);
}

void WebView::snapshot(std::function<void(std::string png)> done)
{
    auto* call = new SnapshotCall { std::move(done) };
    webkit_web_view_get_snapshot(m_view, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
        [](GObject* object, GAsyncResult* result, gpointer data) {
            std::unique_ptr<SnapshotCall> call(static_cast<SnapshotCall*>(data));
            cairo_surface_t* surface = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(object), result, nullptr);
            std::string png;
            if (surface) {
                cairo_surface_write_to_png_stream(surface, append_png, &png);
                cairo_surface_destroy(surface);
            }
            call->done(std::move(png));
        },
        call);
}

} // namespace tillbay::gtk

// The web-process side of the page bridge. WebKit's UI-process API does not
// say which frame a script message or a document belongs to; the page policy
// needs both, and a page must not be able to forge them. This extension runs
// inside the web process, where WebKit's own frame objects know the answer:
//
// - In every frame it defines the native function __tillbayPost, bound to
//   that frame's document at the moment the document's window object is
//   created. The message shim of the UI process turns it into
//   window.chrome.webview.postMessage. Each call is sent to the UI process
//   with the real address of the frame's document and whether it is the main
//   frame, so a page can lie about neither.
// - For every navigation it lets start, the UI process first sends the
//   verdict the address would get as a frame's document. When the request
//   leaves and names a frame as its destination (Sec-Fetch-Dest, which
//   WebKit sets for secure addresses), a refused frame is stopped here,
//   before anything of it loads, and the UI process is told once.
// - For every sub-frame document it asks the UI process whether the frame is
//   allowed under the current top document; when it is not, the frame is
//   stopped and emptied.

#include <JavaScriptCore/JSBase.h>
#include <dlfcn.h>
#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <webkit2/webkit-web-extension.h>

namespace {

// Matches the limit of the bridge: longer texts are refused as a whole.
constexpr gsize max_message_utf16_units = 4194304;

struct Binding {
    WebKitWebPage* page;
    std::string source;
    bool main_frame;
};

gsize utf16_units(char const* text, gsize length)
{
    gsize units = 0;
    for (gsize i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) == 0x80)
            continue; // continuation byte
        units += c >= 0xF0 ? 2 : 1;
    }
    return units;
}

void post_to_view(JSCValue* value, gpointer data)
{
    auto* binding = static_cast<Binding*>(data);
    gint32 kind = 0;
    std::string text;
    if (!value || !jsc_value_is_string(value)) {
        kind = 1;
    } else {
        GBytes* bytes = jsc_value_to_string_as_bytes(value);
        gsize length = 0;
        auto const* data_bytes = static_cast<char const*>(bytes ? g_bytes_get_data(bytes, &length) : nullptr);
        if (!data_bytes && length == 0) {
            text.clear();
        } else if (std::memchr(data_bytes, 0, length) || utf16_units(data_bytes, length) > max_message_utf16_units) {
            kind = 2;
        } else {
            text.assign(data_bytes, length);
        }
        if (bytes)
            g_bytes_unref(bytes);
    }
    GVariant* parameters = g_variant_new("(sbis)", binding->source.c_str(), binding->main_frame, kind, text.c_str());
    webkit_web_page_send_message_to_view(binding->page, webkit_user_message_new("tillbay.post", parameters), nullptr,
        nullptr, nullptr);
}

struct FrameCheck {
    WebKitFrame* frame;
};

void on_frame_verdict(GObject* source, GAsyncResult* result, gpointer data)
{
    auto* check = static_cast<FrameCheck*>(data);
    WebKitUserMessage* reply
        = webkit_web_page_send_message_to_view_finish(WEBKIT_WEB_PAGE(source), result, nullptr);
    gboolean allowed = FALSE;
    if (reply) {
        GVariant* parameters = webkit_user_message_get_parameters(reply);
        if (parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)")))
            g_variant_get(parameters, "(b)", &allowed);
        g_object_unref(reply);
    }
    if (!allowed) {
        // Stop the document where it is and leave an empty one: nothing of
        // the refused page stays on screen or keeps running.
        JSCContext* context = webkit_frame_get_js_context(check->frame);
        if (context) {
            JSCValue* ignored = jsc_context_evaluate(context,
                "try{window.stop();}catch(e){}try{document.open();document.write('');document.close();}catch(e){}", -1);
            if (ignored)
                g_object_unref(ignored);
            g_object_unref(context);
        }
    }
    g_object_unref(check->frame);
    delete check;
}

void on_window_object_cleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame, gpointer)
{
    JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, world);
    if (!context)
        return;
    char const* uri = webkit_frame_get_uri(frame);
    auto* binding = new Binding { page, uri ? uri : "", webkit_frame_is_main_frame(frame) != FALSE };
    JSCValue* function = jsc_value_new_function(context, "__tillbayPost", G_CALLBACK(post_to_view), binding,
        [](gpointer p) { delete static_cast<Binding*>(p); }, G_TYPE_NONE, 1, JSC_TYPE_VALUE);
    jsc_context_set_value(context, "__tillbayPost", function);
    g_object_unref(function);
    g_object_unref(context);

    // An empty frame (about:blank, srcdoc before it loads) has no document of
    // its own to judge; its content comes from its parent.
    if (!binding->main_frame && uri && *uri && std::strncmp(uri, "about:", 6) != 0) {
        auto* check = new FrameCheck { WEBKIT_FRAME(g_object_ref(frame)) };
        webkit_web_page_send_message_to_view(page,
            webkit_user_message_new("tillbay.frame", g_variant_new("(s)", uri)), nullptr, on_frame_verdict, check);
    }
}

// The frame verdicts of the latest navigations the UI process let start.
constexpr size_t max_verdicts = 64;
std::deque<std::pair<std::string, bool>> g_frame_verdicts;

gboolean on_page_message(WebKitWebPage*, WebKitUserMessage* message, gpointer)
{
    char const* name = webkit_user_message_get_name(message);
    GVariant* parameters = webkit_user_message_get_parameters(message);
    if (!name || std::strcmp(name, "tillbay.frameverdict") != 0 || !parameters
        || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sb)")))
        return FALSE;
    char const* uri = nullptr;
    gboolean allowed = FALSE;
    g_variant_get(parameters, "(&sb)", &uri, &allowed);
    g_frame_verdicts.emplace_back(uri, allowed != FALSE);
    if (g_frame_verdicts.size() > max_verdicts)
        g_frame_verdicts.pop_front();
    return TRUE;
}

gboolean on_send_request(WebKitWebPage* page, WebKitURIRequest* request, WebKitURIResponse*, gpointer)
{
    SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request);
    char const* destination = headers ? soup_message_headers_get_one(headers, "Sec-Fetch-Dest") : nullptr;
    if (!destination || (std::strcmp(destination, "iframe") != 0 && std::strcmp(destination, "frame") != 0))
        return FALSE;
    char const* uri = webkit_uri_request_get_uri(request);
    if (!uri)
        return FALSE;
    for (auto it = g_frame_verdicts.rbegin(); it != g_frame_verdicts.rend(); ++it) {
        if (it->first != uri)
            continue;
        if (it->second)
            return FALSE;
        webkit_web_page_send_message_to_view(page,
            webkit_user_message_new("tillbay.frameblocked", g_variant_new("(s)", uri)), nullptr, nullptr, nullptr);
        return TRUE;
    }
    return FALSE;
}

// "tillbay.collect" from the program: the page has just dropped a large
// order list, and its garbage can go now rather than whenever the collector
// gets round to it. JSC's public calls only hint: JSGarbageCollect reports an
// abandoned object graph and collects nothing by itself, so an idle page kept
// every list it had parsed until the heap grew again. The synchronous full
// collection that JavaScriptCore exports for its own tools is looked up at
// run time (it is not in the public headers); without it the hint remains.
using FullCollect = void (*)(JSContextRef);

FullCollect full_collect()
{
    static FullCollect const found
        = reinterpret_cast<FullCollect>(dlsym(RTLD_DEFAULT, "JSSynchronousGarbageCollectForDebugging"));
    return found;
}

gboolean on_collect_message(WebKitWebPage* page, WebKitUserMessage* message, gpointer)
{
    char const* name = webkit_user_message_get_name(message);
    if (!name || std::strcmp(name, "tillbay.collect") != 0)
        return FALSE;
    // The frame's global context is deprecated in WebKitGTK 2.40 and still
    // present in 4.1: when it goes, this message is simply ignored.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    WebKitFrame* frame = webkit_web_page_get_main_frame(page);
    if (JSGlobalContextRef context = frame ? webkit_frame_get_javascript_global_context(frame) : nullptr) {
        if (FullCollect collect = full_collect())
            collect(context);
        else
            JSGarbageCollect(context);
    }
#pragma GCC diagnostic pop
    return TRUE;
}

void on_page_created(WebKitWebExtension*, WebKitWebPage* page, gpointer)
{
    g_signal_connect(page, "user-message-received", G_CALLBACK(on_page_message), nullptr);
    g_signal_connect(page, "user-message-received", G_CALLBACK(on_collect_message), nullptr);
    g_signal_connect(page, "send-request", G_CALLBACK(on_send_request), nullptr);
}

} // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize(WebKitWebExtension* extension)
{
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
        G_CALLBACK(on_window_object_cleared), nullptr);
    g_signal_connect(extension, "page-created", G_CALLBACK(on_page_created), nullptr);
}

#pragma once

// The web view on WebKitGTK 4.1: one WebKitWebContext for every web view of
// the process, the custom scheme that serves the UI and API virtual hosts,
// the shim that gives pages window.chrome.webview.postMessage, and the
// translation of WebKit's signals into the events the page policy and the
// bridge decide on. Facts the UI process cannot learn from WebKit (which
// frame a message or a document belongs to) come from the small web-process
// extension in os/linux/webext, which reads them from WebKit's own frame
// objects so that a page cannot forge them.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

typedef struct _GtkWidget GtkWidget;
typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitWebContext WebKitWebContext;
typedef struct _WebKitURISchemeRequest WebKitURISchemeRequest;

namespace tillbay::gtk {

// A message a page posted through window.chrome.webview.postMessage.
struct PageMessage {
    enum class Kind {
        Text,         // a string; text holds it in UTF-8
        NotString,    // the page posted something other than a string
        SizeOrNul,    // longer than the limit, or holding a NUL character
    };
    Kind kind = Kind::Text;
    std::string source; // the address of the sending frame's document
    bool main_frame = false;
    std::string text;
};

// A request for the API virtual host, answered later (from the UI thread)
// when the relay has the answer. Dropping it unanswered answers 502.
class SchemeRequest {
public:
    explicit SchemeRequest(WebKitURISchemeRequest* request);
    ~SchemeRequest();
    SchemeRequest(SchemeRequest const&) = delete;
    SchemeRequest& operator=(SchemeRequest const&) = delete;

    std::string const& uri() const { return m_uri; }
    std::string const& method() const { return m_method; }
    std::vector<std::pair<std::string, std::string>> const& headers() const { return m_headers; }
    // The value of a request header (name in any letter case); empty when absent.
    std::string header(std::string_view name) const;
    std::string const& body() const { return m_body; }
    // The body was longer than os::max_api_request_body; body() is then empty.
    bool body_cut() const { return m_body_cut; }

    // UI thread only. A Content-Type or Cache-Control among the headers
    // replaces the default one; reason empty takes the status's usual phrase.
    void finish(int status, std::string_view content_type, std::string body,
        std::vector<std::pair<std::string, std::string>> const& headers = {}, std::string const& reason = {});

private:
    WebKitURISchemeRequest* m_request = nullptr;
    std::string m_uri;
    std::string m_method;
    std::vector<std::pair<std::string, std::string>> m_headers;
    std::string m_body;
    bool m_body_cut = false;
};

// What the web view reports. Every call arrives on the UI thread.
class WebViewClient {
public:
    virtual ~WebViewClient() = default;
    // A navigation in any frame is about to start: false refuses it.
    virtual bool allow_navigation(std::string const& address) = 0;
    // The main frame started loading address: false stops it at once.
    virtual bool main_navigation_starting(std::string const& address) = 0;
    // The main frame's new document was committed.
    virtual void content_loading(std::string const& address) = 0;
    // The main frame finished loading (success false after a failure).
    virtual void navigation_completed(std::string const& address, bool success) = 0;
    // Whether a sub-frame may hold frame_address under top_address. Asked
    // before any navigation starts (the web process refuses a frame's
    // document before it loads when it learns the navigation is a frame's),
    // and when a sub-frame got a document (false removes it again). Asking
    // logs nothing.
    virtual bool frame_allowed(std::string const& top_address, std::string const& frame_address) = 0;
    // A sub-frame was refused its document: block-logged once.
    virtual void frame_refused(std::string const& frame_address) = 0;
    virtual void page_message(PageMessage const& message) = 0;
    // A new window or a download was refused.
    virtual void refused(std::string_view reason) = 0;
    // A request for the API virtual host.
    virtual void api_request(std::unique_ptr<SchemeRequest> request) = 0;
    // The web process ended unexpectedly; the page is gone.
    virtual void web_process_gone() = 0;
};

// Where a request on the custom scheme goes.
struct SchemeTarget {
    enum class Kind {
        Invalid,  // not an address the parser accepts
        Api,      // the API virtual host: the page API relay
        UiFile,   // the UI virtual host on its port: a file of the UI folder
        Unknown,  // any other host or port
    };
    Kind kind = Kind::Invalid;
    std::string decoded_path; // for UiFile
};

struct WebContextOptions {
    std::string user_data_folder;
    std::string extension_dir;   // the folder holding the web-process extension
    // The folder served on the UI virtual host (the active UI bundle), or
    // empty when none is mapped.
    std::string ui_folder;
    bool developer_extras = false;
    // Reads a request address on the custom scheme: which virtual host it is
    // for and, on the UI host, the decoded path. The page policy's address
    // parser does it, so that both agree on every address.
    std::function<SchemeTarget(std::string_view uri)> read_scheme_address;
};

// Creates the one web context of the process and registers the custom scheme.
// False when WebKit refused (the caller shows its box and exits).
bool create_web_context(WebContextOptions const& options);
WebKitWebContext* web_context();
bool ui_folder_mapped();

class WebView {
public:
    // A web view whose guard script (and the message shim before it) runs at
    // the start of every document in every frame.
    static std::unique_ptr<WebView> create(WebViewClient& client, std::string const& guard_script,
        unsigned background_rgb, bool developer_extras);
    ~WebView();

    GtkWidget* widget() const;
    WebKitWebView* view() const { return m_view; }

    void navigate(std::string const& address);
    // The web view's current address; empty when it has none.
    std::string current_address() const;
    // Runs a script in the top document without waiting for it.
    void execute_script(std::string const& script);
    // Calls window[name] with the arguments of a JSON array text while the
    // top document is at expected_address; false when the text cannot be
    // passed (not valid UTF-8).
    bool call_function(std::string const& name, std::string const& args_json, std::string const& expected_address);
    // Asks the page's web process to collect its script garbage soon.
    void collect_garbage();
    // Runs a script and reports its value as JSON text (ok) or the error text.
    void evaluate(std::string const& script, std::function<void(bool ok, std::string result)> done);
    // A PNG of what the web view shows; empty on failure.
    void snapshot(std::function<void(std::string png)> done);

private:
    WebView() = default;

    friend struct WebViewSignals;
    WebViewClient* m_client = nullptr;
    WebKitWebView* m_view = nullptr;
    bool m_load_failed = false;
    bool m_developer_extras = false;
};

} // namespace tillbay::gtk

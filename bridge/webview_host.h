#pragma once

// The portable half of the main web view: the web view backend reports each
// engine event here as plain data, and gets back the decision to carry out.
// This class keeps the record of the document on screen (its generation, the
// address it is expected at, whether it is ready), on which the bridge decides
// whether a message or a page callback still belongs to the document shown.
//
// Everything here runs on the UI thread. The customer display's web view does
// not use this class: it asks PagePolicy::classify with ViewKind::Customer and
// allows no frames.

#include "bridge/bridge.h"
#include "bridge/policy.h"
#include "os/webview.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::bridge {

enum class Verdict {
    Allow,
    Deny,
};

struct DocumentRecord {
    uint64_t generation = 0;      // raised by every allowed main-frame navigation
    std::string expected_address; // the address the document was navigated to
    uint64_t navigation_id = 0;   // the main-frame navigation in progress
    bool ready = false;           // content arrived at the expected address
    bool virtual_host_mapped = false; // the UI folder is served on the UI virtual host
};

// A navigation about to start, in the main frame or in a sub-frame.
struct NavigationStart {
    std::string address;
    bool main_frame = true;
    // Any number the backend uses to tell main-frame navigations apart; the
    // content-loading and completed events pass the same number back. 0
    // everywhere means "the main-frame navigation in progress".
    uint64_t navigation_id = 0;
    bool user_initiated = false;
};

// A message the page posted through window.chrome.webview.postMessage.
struct WebMessage {
    // False when the page posted something other than a string.
    bool is_string = false;
    // The string in UTF-8 with embedded NULs kept (convert with
    // jsc_value_to_string_as_bytes, never through a C string).
    std::string text;
    // The real address of the sending frame, as the engine knows it; empty
    // when it cannot be had.
    std::string source;
    // Whether the sending frame is the main frame. Sub-frames talk to the
    // native side only through the top document.
    bool main_frame = true;
    // Set by a backend that already found the string longer than
    // max_message_bytes UTF-16 units or holding a NUL (text may then be empty).
    bool size_or_nul = false;
};

struct WebViewHostConfig {
    // The absolute file path of a local page ("login.html", "orders.html"),
    // as the UI bundle store finds it; nullopt when there is none.
    std::function<std::optional<std::string>(std::string_view name)> page_file;
    // Called before "login.html" is opened: resets the customer display state.
    std::function<void()> before_login_page;
    // Schedules Bridge::drain() on the UI thread; callable from any thread.
    std::function<void()> request_drain;
};

class WebViewHost {
public:
    WebViewHost(PagePolicy const& policy, os::WebViewPort& port, WebViewHostConfig config);

    WebViewHost(WebViewHost const&) = delete;
    WebViewHost& operator=(WebViewHost const&) = delete;

    // Engine events. A denied navigation must be cancelled by the backend.
    Verdict on_navigation_starting(NavigationStart const& navigation);
    void on_content_loading(uint64_t navigation_id, bool error_page);
    void on_navigation_completed(uint64_t navigation_id, bool success);
    void on_web_message(WebMessage const& message);
    // Always refused: no second window ever opens, nothing is downloaded, and
    // no permission is granted (this one without a log line).
    Verdict on_new_window(std::string_view address);
    Verdict on_download(std::string_view address);
    Verdict on_permission_request();

    // Set by the backend once the UI folder is mapped to the UI virtual host.
    void set_virtual_host_mapped(bool mapped) { m_document.virtual_host_mapped = mapped; }

    // Opens "login.html" or "orders.html" from the file the UI bundle store
    // names; does nothing when there is none.
    void open_local_page(std::string_view name);

    DocumentRecord const& document() const { return m_document; }
    std::string current_address() const;
    PageClass current_class() const;
    PagePolicy const& policy() const { return m_policy; }
    os::WebViewPort& port() { return m_port; }
    Bridge& bridge() { return m_bridge; }

private:
    PagePolicy const& m_policy;
    os::WebViewPort& m_port;
    WebViewHostConfig m_config;
    DocumentRecord m_document;
    Bridge m_bridge;
};

} // namespace tillbay::bridge

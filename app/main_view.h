#pragma once

// The main web view: the WebKitGTK view, the portable web view host that
// keeps the document record and the bridge, and the automation endpoint
// target, joined in one place. Every method runs on the GTK main thread.

#include "bridge/webview_host.h"
#include "os/linux/webkit_automation.h"
#include "os/linux/webkit_view.h"
#include "shell/relay.h"

#include <cstdint>
#include <map>
#include <memory>

namespace tillbay::app {

class MainView final : public os::WebViewPort, public gtk::WebViewClient, public gtk::AutomationTarget {
public:
    MainView(bridge::PagePolicy const& policy, bridge::WebViewHostConfig config);
    ~MainView() override;

    // Creates the WebKit view with the guard script; false when WebKit refused.
    bool create_view(std::string const& guard_script, bool developer_extras);
    gtk::WebView* view() const { return m_view.get(); }
    bridge::WebViewHost& host() { return m_host; }
    bridge::Bridge& bridge() { return m_host.bridge(); }
    // Called when the web process is gone: the start page opens again.
    void set_on_web_process_gone(std::function<void()> handler) { m_on_gone = std::move(handler); }
    // The page API relay that answers requests for the API virtual host
    // (nullptr: they are answered 502).
    void set_relay(shell::relay::Relay* relay) { m_relay = relay; }
    // Called with the address of every main-frame document that was committed.
    void set_on_committed(std::function<void(std::string const& address)> handler) { m_on_committed = std::move(handler); }

    // os::WebViewPort
    bool has_web_view() const override;
    std::string current_address() const override;
    void execute_script(std::string const& script) override;
    void navigate(std::string const& address) override;
    bool call_function(std::string const& name, std::string const& args_json, std::string const& expected_address) override;

    // gtk::WebViewClient
    bool allow_navigation(std::string const& address) override;
    bool main_navigation_starting(std::string const& address) override;
    void content_loading(std::string const& address) override;
    void navigation_completed(std::string const& address, bool success) override;
    bool frame_allowed(std::string const& top_address, std::string const& frame_address) override;
    void frame_refused(std::string const& frame_address) override;
    void page_message(gtk::PageMessage const& message) override;
    void refused(std::string_view reason) override;
    void api_request(std::unique_ptr<gtk::SchemeRequest> request) override;
    void web_process_gone() override;

    // gtk::AutomationTarget
    void evaluate(std::string const& script, std::function<void(bool ok, std::string result)> done) override;
    std::string document_json() override;
    void snapshot(std::function<void(std::string png)> done) override;
    void evaluate_customer(std::string const& script, std::function<void(bool ok, std::string result)> done) override;
    void snapshot_customer(std::function<void(std::string png)> done) override;
    // The customer display's web view for the automation endpoint (null while closed).
    void set_customer_view(std::function<gtk::WebView*()> view) { m_customer_view = std::move(view); }

private:
    // A large script (a busy day's order list) leaves a few megabytes of
    // garbage in the page each time. The page's collector keeps it for a
    // long while; once the scripts have been quiet for garbage_quiet_ms
    // the web process is asked to collect it, and this process gives the
    // free pages of its heap back to the system.
    static constexpr unsigned large_script_bytes = 64 * 1024;
    static constexpr unsigned garbage_quiet_ms = 5000;
    void collect_after_quiet();

    // The API requests waiting for the relay, by number; only the UI thread
    // touches them, and an answer that arrives for a view already gone finds
    // nothing to answer.
    struct RelayWaiting {
        uint64_t next = 0;
        std::map<uint64_t, std::unique_ptr<gtk::SchemeRequest>> requests;
    };

    bridge::WebViewHost m_host;
    unsigned m_garbage_timer = 0;
    std::unique_ptr<gtk::WebView> m_view;
    uint64_t m_navigation_counter = 0;
    std::function<void()> m_on_gone;
    std::function<gtk::WebView*()> m_customer_view;
    std::function<void(std::string const&)> m_on_committed;
    shell::relay::Relay* m_relay = nullptr;
    std::shared_ptr<RelayWaiting> m_relay_waiting = std::make_shared<RelayWaiting>();
};

} // namespace tillbay::app

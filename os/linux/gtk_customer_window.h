#pragma once

// The customer display's window on GTK3: an undecorated window that never
// takes the focus, kept above other windows on the customer's monitor, with
// a WebKitGTK view of its own in the program's web context. The view has no
// page bridge: whatever the page posts is dropped and block-logged, and it
// may show nothing but the customer page. Monitors come from GdkMonitor; the
// screen's monitors-changed signal is reported as it comes.

#include "os/customer_screen.h"
#include "os/linux/webkit_view.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

typedef struct _GtkWidget GtkWidget;

namespace tillbay::gtk {

class CustomerWindow final : public os::CustomerScreen, public WebViewClient {
public:
    // allowed: whether the view may show an address (the page policy's
    // customer rule); developer_extras as for the main view.
    CustomerWindow(std::function<bool(std::string_view address)> allowed, bool developer_extras);
    ~CustomerWindow() override;

    CustomerWindow(CustomerWindow const&) = delete;
    CustomerWindow& operator=(CustomerWindow const&) = delete;

    void set_events(os::CustomerScreenEvents* events) { m_events = events; }
    WebView* view() const { return m_view.get(); }

    // os::CustomerScreen
    std::vector<os::Monitor> monitors() override;
    bool open(os::ScreenRect const& rect, os::WindowKind kind, std::string const& address) override;
    void move(os::ScreenRect const& rect) override;
    void close() override;
    bool is_open() const override { return m_window != nullptr; }
    std::string current_address() const override;
    void execute_script(std::string const& script) override;

    // WebViewClient
    bool allow_navigation(std::string const& address) override;
    bool main_navigation_starting(std::string const& address) override;
    void content_loading(std::string const& address) override;
    void navigation_completed(std::string const& address, bool success) override;
    bool frame_allowed(std::string const& top_address, std::string const& frame_address) override;
    void frame_refused(std::string const& frame_address) override;
    void page_message(PageMessage const& message) override;
    void refused(std::string_view reason) override;
    void api_request(std::unique_ptr<SchemeRequest> request) override;
    void web_process_gone() override;

    struct Signals;

private:
    std::function<bool(std::string_view)> m_allowed;
    bool m_developer_extras = false;
    os::CustomerScreenEvents* m_events = nullptr;
    GtkWidget* m_window = nullptr;
    std::unique_ptr<WebView> m_view;
    unsigned long m_monitors_handler = 0;
};

} // namespace tillbay::gtk

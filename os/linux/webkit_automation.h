#pragma once

// The automation endpoint for end-to-end tests (TILLBAY_TESTPORT): a small
// HTTP/1.1 server on 127.0.0.1 only.
//
//   POST /eval      body: a script, run in the main page's top document;
//                   answers {"ok":true,"value":<JSON>} or {"ok":false,"error":"..."}
//   GET  /doc       the document record {"generation":..,"url":..,"ready":..,"class":..}
//   GET  /snapshot  a PNG of the main web view
//   POST /customer/eval, GET /customer/snapshot
//                   the same for the customer display's web view, when it is open
//
// Connections are served on a thread of their own; everything that touches
// the web view is handed to the GTK main thread and the connection thread
// waits for the answer.

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace tillbay::gtk {

class AutomationTarget {
public:
    virtual ~AutomationTarget() = default;
    // All three are called on the GTK main thread and must call done once.
    virtual void evaluate(std::string const& script, std::function<void(bool ok, std::string result)> done) = 0;
    virtual std::string document_json() = 0;
    virtual void snapshot(std::function<void(std::string png)> done) = 0;
    // The customer display's web view; by default there is none.
    virtual void evaluate_customer(std::string const& script, std::function<void(bool ok, std::string result)> done)
    {
        (void)script;
        done(false, "no customer view");
    }
    virtual void snapshot_customer(std::function<void(std::string png)> done) { done({}); }
};

class AutomationServer {
public:
    // Listens on 127.0.0.1:port; nullptr when the port is outside 1-65535 or
    // cannot be bound. Requests that carry an Origin header, or a Host other
    // than "127.0.0.1:<port>", are refused with 403.
    static std::unique_ptr<AutomationServer> start(unsigned long port, AutomationTarget& target);
    ~AutomationServer();

    unsigned port() const { return m_port; }

    struct Shared;

private:
    AutomationServer() = default;

    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
    int m_listen_fd = -1;
    unsigned m_port = 0;
};

} // namespace tillbay::gtk

#pragma once

// What the bridge and the page policy need from the web view. The GTK backend
// implements it with WebKitGTK; unit tests implement it with a recording fake.
// Every call is made on the UI thread.

#include <cstddef>
#include <string>
#include <string_view>

namespace tillbay::os {

// The custom scheme and the two virtual host names under the reserved
// top-level domain "invalid", so that they can never reach the network. The
// web view backend registers the scheme and serves both hosts through it.
inline constexpr std::string_view ui_scheme = "twpos";
inline constexpr std::string_view ui_virtual_host = "ui.tillbay.invalid";
inline constexpr std::string_view api_virtual_host = "api.tillbay.invalid";

// A request body for the API virtual host is read up to this many bytes; a
// longer one is marked as cut and never relayed.
inline constexpr size_t max_api_request_body = 4 * 1024 * 1024;

class WebViewPort {
public:
    virtual ~WebViewPort() = default;

    // False until the web view exists (commands may be queued and drained
    // before it does) and after it is gone.
    virtual bool has_web_view() const = 0;

    // The web view's current address, exactly as the engine reports it, in
    // UTF-8; empty when there is none.
    virtual std::string current_address() const = 0;

    // Runs the script in the main frame without waiting for a result.
    virtual void execute_script(std::string const& script) = 0;

    // Starts a main-frame navigation to the address.
    virtual void navigate(std::string const& address) = 0;

    // Calls window[name] in the main frame with the arguments of a JSON
    // array text, only while the top document is at expected_address. The
    // arguments travel as data, not as script text, so a large one (a busy
    // day's order list) is neither compiled nor kept as source by the page.
    // False when the backend cannot (the caller then runs a script instead).
    virtual bool call_function(std::string const& name, std::string const& args_json, std::string const& expected_address)
    {
        (void)name;
        (void)args_json;
        (void)expected_address;
        return false;
    }
};

} // namespace tillbay::os

#pragma once

// Shared pieces of the host tests: a web view that records what it is asked
// to do, a family that records what it is offered, a policy with known pages,
// and a reader for the block log lines a test produced.

#include "foundation/log.h"
#include "bridge/bridge.h"
#include "bridge/policy.h"
#include "bridge/webview_host.h"
#include "os/fs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace tillbay::bridge::testing {

inline constexpr char const* login_file = "/opt/tillbay/ui/login.html";
inline constexpr char const* orders_file = "/opt/tillbay/ui/orders.html";
inline constexpr char const* customer_file = "/opt/tillbay/ui/customer.html";
inline std::string const login_url = "file:///opt/tillbay/ui/login.html";
inline std::string const orders_url = "file:///opt/tillbay/ui/orders.html";
inline std::string const menu_url = "twpos://ui.tillbay.invalid/merchant/menu.html";
inline std::string const panel_url = "twpos://ui.tillbay.invalid/merchant/menu-edit.html";
inline std::string const address_url = "https://shop.example.com/v2/pos/ui/setaddress.html";

inline PagePolicy make_policy(std::string web_host = "https://shop.example.com")
{
    auto host = parse_address(web_host, ui_scheme);
    return PagePolicy("/opt/tillbay/ui/login.html", "/opt/tillbay/ui/orders.html", "/opt/tillbay/ui/customer.html",
        host.value(), { "/merchant/menu.html", "/merchant/menu-edit.html", "/orders/list.html" });
}

class FakePort final : public os::WebViewPort {
public:
    bool has_web_view() const override { return web_view; }
    std::string current_address() const override { return address; }
    void execute_script(std::string const& script) override { scripts.push_back(script); }
    void navigate(std::string const& target) override { navigations.push_back(target); }

    bool web_view = true;
    std::string address;
    std::vector<std::string> scripts;
    std::vector<std::string> navigations;
};

struct Offered {
    std::vector<std::string> fields;
    uint64_t generation = 0;
    bool internal = false;
};

class RecordingFamily final : public bridge::Family {
public:
    explicit RecordingFamily(std::vector<std::string> names, std::vector<Offered>* log = nullptr)
        : m_names(std::move(names))
        , m_log(log)
    {
    }
    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override
    {
        for (auto const& name : m_names) {
            if (command.name() == name) {
                offered.push_back({ command.fields, command.generation, command.internal });
                if (m_log)
                    m_log->push_back(offered.back());
                if (on_handle)
                    on_handle(command, page);
                return bridge::Handled::Yes;
            }
        }
        return bridge::Handled::No;
    }
    std::vector<Offered> offered;
    std::function<void(bridge::Command const&, bridge::Page&)> on_handle;

private:
    std::vector<std::string> m_names;
    std::vector<Offered>* m_log;
};

// Points the per-user folder at a fresh temporary folder, so the bridge log
// of this test can be read back.
class LogCapture {
public:
    LogCapture()
    {
        m_dir = std::filesystem::temp_directory_path()
            / ("tb_host_test_" + std::to_string(::getpid()) + "_" + std::to_string(s_counter++));
        std::filesystem::create_directories(m_dir);
        setenv("LOCALAPPDATA", m_dir.c_str(), 1);
        log::reset_for_testing();
    }
    ~LogCapture()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    std::string text() const
    {
        auto content = os::read_file((m_dir / "TillBay" / "bridge.log").string(), 64 * 1024 * 1024);
        return content.ok() ? content.value() : std::string {};
    }
    // How many lines end with the block log text for reason.
    int blocks(std::string const& reason) const
    {
        std::string wanted = "SEC 차단: " + reason;
        int count = 0;
        std::string all = text();
        size_t start = 0;
        while (start < all.size()) {
            size_t end = all.find('\n', start);
            if (end == std::string::npos)
                end = all.size();
            std::string line = all.substr(start, end - start);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.size() >= wanted.size() && line.compare(line.size() - wanted.size(), wanted.size(), wanted) == 0
                && (reason.size() > 0 || line.ends_with("차단: ") || line.ends_with("차단:")))
                ++count;
            start = end + 1;
        }
        return count;
    }
    std::filesystem::path const& dir() const { return m_dir; }

private:
    std::filesystem::path m_dir;
    static inline int s_counter = 0;
};

} // namespace tillbay::bridge::testing

#include "bridge/webview_host.h"

#include "foundation/log.h"

namespace tillbay::bridge {

WebViewHost::WebViewHost(PagePolicy const& policy, os::WebViewPort& port, WebViewHostConfig config)
    : m_policy(policy)
    , m_port(port)
    , m_config(std::move(config))
    , m_bridge(*this, m_config.request_drain)
{
}

std::string WebViewHost::current_address() const { return m_port.has_web_view() ? m_port.current_address() : std::string {}; }

PageClass WebViewHost::current_class() const { return m_policy.classify(current_address(), ViewKind::Main); }

Verdict WebViewHost::on_navigation_starting(NavigationStart const& navigation)
{
    if (!navigation.main_frame) {
        if (!m_policy.frame_allowed(current_address(), navigation.address, ViewKind::Main)) {
            block_log("frame navigation");
            return Verdict::Deny;
        }
        return Verdict::Allow;
    }
    if (m_policy.classify(navigation.address, ViewKind::Main) == PageClass::None) {
        block_log("navigation");
        return Verdict::Deny;
    }
    // From here on, messages and callbacks of the document being left are
    // stale: the generation tells them apart from the new document's.
    ++m_document.generation;
    m_document.ready = false;
    m_document.expected_address = navigation.address;
    m_document.navigation_id = navigation.navigation_id;
    return Verdict::Allow;
}

void WebViewHost::on_content_loading(uint64_t navigation_id, bool error_page)
{
    if (navigation_id != 0 && navigation_id != m_document.navigation_id)
        return;
    if (!error_page && current_address() == m_document.expected_address)
        m_document.ready = true;
}

void WebViewHost::on_navigation_completed(uint64_t navigation_id, bool success)
{
    if (!success || (navigation_id != 0 && navigation_id != m_document.navigation_id))
        return;
    std::string current = current_address();
    if (current != m_document.expected_address || m_policy.classify(current, ViewKind::Main) == PageClass::None)
        return;
    m_document.ready = true;
    m_bridge.queue_internal("\x01navdone</>" + std::to_string(m_document.generation));
}

void WebViewHost::on_web_message(WebMessage const& message)
{
    uint64_t generation = m_document.generation;
    if (!message.is_string || message.source.empty()) {
        block_log("non-string message");
        return;
    }
    if (message.size_or_nul || message.text.find('\0') != std::string::npos
        || message.text.size() > 3 * max_message_bytes || utf16_length(message.text) > max_message_bytes) {
        block_log("message size or NUL");
        return;
    }
    // Frames never talk to the native side directly: a panel frame hands its
    // commands to the top document, which sends them as its own.
    if (!message.main_frame || !m_document.ready || message.source != m_document.expected_address) {
        block_log("");
        return;
    }
    m_bridge.receive_page_message(message.text, message.source, generation);
}

Verdict WebViewHost::on_new_window(std::string_view)
{
    block_log("new window");
    return Verdict::Deny;
}

Verdict WebViewHost::on_download(std::string_view)
{
    block_log("download");
    return Verdict::Deny;
}

Verdict WebViewHost::on_permission_request() { return Verdict::Deny; }

void WebViewHost::open_local_page(std::string_view name)
{
    if (name == "login.html" && m_config.before_login_page)
        m_config.before_login_page();
    std::optional<std::string> file = m_config.page_file ? m_config.page_file(name) : std::nullopt;
    if (!file || file->empty() || !m_port.has_web_view())
        return;
    m_port.navigate(file_address(*file));
}

} // namespace tillbay::bridge

#include "shell/page_router.h"

#include "bridge/address.h"
#include "foundation/log.h"
#include "os/webview.h"

namespace tillbay::shell {

namespace {

constexpr size_t max_old_page_path = 120;

std::string_view without_query(std::string_view name) { return name.substr(0, name.find('?')); }

bool unsafe_in_address(char c)
{
    auto u = static_cast<unsigned char>(c);
    return u <= 32 || u == 127 || c == '"' || c == '\'' || c == '<' || c == '>' || c == '#' || c == '\\'
        || c == '`';
}

// Two addresses name the same document: same scheme, host, port and decoded
// path (the engine may write the query differently).
bool same_document(std::string_view a, std::string_view b)
{
    if (a == b)
        return true;
    auto pa = bridge::parse_address(a, os::ui_scheme);
    auto pb = bridge::parse_address(b, os::ui_scheme);
    return pa && pb && pa->scheme == pb->scheme && pa->host == pb->host && pa->port == pb->port && pa->path == pb->path;
}

} // namespace

void PageHistory::push(std::string name)
{
    if (!m_entries.empty() && m_entries.back() == name)
        return;
    m_entries.push_back(std::move(name));
    if (m_entries.size() > max_history)
        m_entries.erase(m_entries.begin());
}

bool PageHistory::remove_newest_if(std::string_view name)
{
    if (m_entries.empty() || m_entries.back() != name)
        return false;
    m_entries.pop_back();
    return true;
}

void PageHistory::truncate(size_t size)
{
    if (size < m_entries.size())
        m_entries.resize(size);
}

std::optional<std::string> PageHistory::newest() const
{
    if (m_entries.empty())
        return std::nullopt;
    return m_entries.back();
}

bool valid_page_name(std::string_view name)
{
    if (name.empty() || name.size() > max_page_name)
        return false;
    size_t dots = 0;
    for (size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c == '/' || c == '\\' || c == ':' || unsafe_in_address(c))
            return false;
        if (c == '.') {
            ++dots;
            if (i + 1 < name.size() && name[i + 1] == '.')
                return false;
        }
    }
    return dots <= 1 && !without_query(name).empty();
}

bool valid_old_page_path(std::string_view path)
{
    if (path.empty() || path.size() > max_old_page_path)
        return false;
    std::string_view file = without_query(path);
    for (char c : path.substr(file.size())) {
        if (unsafe_in_address(c))
            return false;
    }
    size_t start = 0;
    while (start <= file.size()) {
        size_t end = file.find('/', start);
        if (end == std::string_view::npos)
            end = file.size();
        std::string_view segment = file.substr(start, end - start);
        if (segment.empty() || segment == "." || segment == "..")
            return false;
        for (char c : segment) {
            bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-'
                || c == '_';
            if (!ok)
                return false;
        }
        start = end + 1;
    }
    return true;
}

PageRouter::PageRouter(RouterHooks hooks)
    : m_hooks(std::move(hooks))
{
}

void PageRouter::refuse(bridge::Page& page, std::string_view text)
{
    page.callback("setLoginBusy", "0");
    page.status(text);
}

void PageRouter::route(std::string_view name, bridge::Page& page)
{
    route_keeping(name, page, m_history.size());
}

void PageRouter::route_keeping(std::string_view name, bridge::Page& page, size_t keep)
{
    // The mode is spent by this routing whatever its outcome, so that a
    // refused page can never pass its mode on to a later, unrelated one.
    std::string mode = std::move(m_pending_mode);
    m_pending_mode.clear();

    std::string_view file = without_query(name);
    bridge::ServiceBlock block = m_hooks.service_block ? m_hooks.service_block() : bridge::ServiceBlock {};
    bool closed = false;
    if (file == "kds.html")
        closed = block.pos != 0;
    else if (file != "home.html")
        closed = block.merchant != 0 || (mode == "food" && block.food != 0) || (mode == "shop" && block.shop != 0);
    if (closed) {
        refuse(page, !block.notice.empty() ? block.notice : !block.message.empty() ? block.message : std::string(nav_text::maintenance));
        return;
    }

    if (file == "kds.html") {
        if (!m_hooks.staff_signed_in || !m_hooks.staff_signed_in()) {
            refuse(page, nav_text::sign_in_needed);
            return;
        }
    } else if (!m_hooks.owner_signed_in || !m_hooks.owner_signed_in()) {
        refuse(page, nav_text::merchant_sign_in_needed);
        return;
    }

    if (!m_hooks.web_host_text || m_hooks.web_host_text().empty()) {
        page.status(nav_text::no_web_host);
        return;
    }
    if (!valid_page_name(name)) {
        page.status(nav_text::bad_page);
        return;
    }
    if (!m_hooks.page_check || !m_hooks.page_check("merchant/" + std::string(file), page))
        return;

    std::string address = m_hooks.ui_origin + "/merchant/" + std::string(name);
    if (!mode.empty())
        address += (address.find('?') != std::string::npos ? "&twmode=" : "?twmode=") + mode;
    start(std::move(address), std::string(name), keep);
}

void PageRouter::open_old_page(std::string_view path, bridge::Page& page)
{
    open_old_keeping(path, page, m_history.size());
}

void PageRouter::open_old_keeping(std::string_view path, bridge::Page& page, size_t keep)
{
    if (!valid_old_page_path(path)) {
        page.status(nav_text::bad_page);
        return;
    }
    if (!m_hooks.page_check || !m_hooks.page_check("tstorehtml/" + std::string(without_query(path)), page))
        return;
    start(m_hooks.ui_origin + "/tstorehtml/" + std::string(path), std::string(old_page_mark) + std::string(path), keep);
}

void PageRouter::start(std::string address, std::string entry, size_t keep)
{
    if (m_hooks.allowed && !m_hooks.allowed(address)) {
        // The page policy would refuse it: the navigation is not even tried.
        log::bridge("SEC", "차단: navigation");
        m_pending.reset();
        return;
    }
    m_pending = Pending { address, std::move(entry), keep };
    if (m_hooks.navigate)
        m_hooks.navigate(address);
}

void PageRouter::back(bridge::Page& page)
{
    auto const& entries = m_history.entries();
    if (entries.size() < 2) {
        open_local("orders.html");
        return;
    }
    // The page before the one on screen opens again; both entries make way
    // for it only once it is shown, so a refused page leaves the history as
    // it was.
    std::string target = entries[entries.size() - 2];
    size_t keep = entries.size() - 2;
    if (target.starts_with(old_page_mark))
        open_old_keeping(std::string_view(target).substr(old_page_mark.size()), page, keep);
    else
        route_keeping(target, page, keep);
}

void PageRouter::open_local(std::string_view name)
{
    m_history.clear();
    m_pending.reset();
    if (m_hooks.open_local_page)
        m_hooks.open_local_page(name);
}

void PageRouter::set_pending_mode(std::string_view mode)
{
    if (mode == "food" || mode == "shop")
        m_pending_mode = std::string(mode);
}

int PageRouter::take_first_run_request()
{
    int request = m_first_run_request;
    m_first_run_request = 0;
    return request;
}

void PageRouter::record(std::string_view name, bool old)
{
    if (old ? !valid_old_page_path(name) : !valid_page_name(name))
        return;
    std::string entry = (old ? std::string(old_page_mark) : std::string()) + std::string(name);
    auto newest = m_history.newest();
    if (newest && without_query(*newest) == without_query(entry))
        return;
    m_history.push(std::move(entry));
}

void PageRouter::committed(std::string_view address)
{
    if (!m_pending)
        return;
    if (!same_document(address, m_pending->address)) {
        // Another document came instead: the routed page never stood.
        m_pending.reset();
        return;
    }
    m_history.truncate(m_pending->keep);
    m_history.push(std::move(m_pending->entry));
    m_pending.reset();
}

} // namespace tillbay::shell

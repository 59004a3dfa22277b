#include "bridge/policy.h"

#include "foundation/json_text.h"
#include "foundation/log.h"
#include "os/fs.h"

#include <algorithm>

namespace tillbay::bridge {

namespace {

constexpr std::string_view manifest_magic = "TWUI1\n";
constexpr std::string_view manifest_file = ".manifest";

std::string default_port_suffix(Address const& address)
{
    uint16_t default_port = address.scheme == "http" ? 80 : 443;
    if (address.port == default_port)
        return {};
    return ":" + std::to_string(address.port);
}

bool is_panel_page(std::string_view path)
{
    return std::find(std::begin(panel_pages), std::end(panel_pages), path) != std::end(panel_pages);
}

bool is_postcode_host(std::string_view host)
{
    return std::find(std::begin(postcode_frame_hosts), std::end(postcode_frame_hosts), host)
        != std::end(postcode_frame_hosts);
}

std::string json_array(auto const& items)
{
    std::string out = "[";
    bool first = true;
    for (auto const& item : items) {
        if (!first)
            out += ',';
        first = false;
        out += json::quote(item);
    }
    out += ']';
    return out;
}

std::string single_quoted(std::string_view text)
{
    // The UI origin is a fixed name of letters, digits, dots and a colon, so
    // single quotes need no escaping here.
    return "'" + std::string(text) + "'";
}

} // namespace

std::string ui_origin() { return std::string(ui_scheme) + "://" + std::string(ui_virtual_host); }
std::string api_origin() { return std::string(ui_scheme) + "://" + std::string(api_virtual_host); }

void block_log(std::string_view reason) { log::bridge("SEC", "차단: " + std::string(reason)); }

Result<std::set<std::string>> parse_manifest_pages(std::string_view manifest)
{
    if (manifest.size() < 7 || !manifest.starts_with(manifest_magic))
        return Error::from_detail("manifest without the TWUI1 magic");
    std::set<std::string> pages;
    size_t pos = manifest_magic.size();
    // The line after the magic carries the bundle's own description.
    size_t second = manifest.find('\n', pos);
    if (second == std::string_view::npos)
        return pages;
    pos = second + 1;
    while (pos < manifest.size()) {
        size_t end = manifest.find('\n', pos);
        if (end == std::string_view::npos)
            return Error::from_detail("manifest line without a line end");
        std::string_view line = manifest.substr(pos, end - pos);
        size_t tab = line.find('\t');
        if (tab == std::string_view::npos)
            return Error::from_detail("manifest line without a TAB");
        std::string_view name = line.substr(0, tab);
        if (name.starts_with("ui/")) {
            std::string_view rest = name.substr(3);
            if (rest.size() >= 5 && rest.ends_with(".html") && rest != "setaddress.html")
                pages.insert("/" + std::string(rest));
        }
        pos = end + 1;
    }
    return pages;
}

PagePolicy::PagePolicy(std::string login_path, std::string orders_path, std::string customer_path, Address web_host,
    std::set<std::string> ui_pages)
    : m_login_path(std::move(login_path))
    , m_orders_path(std::move(orders_path))
    , m_customer_path(std::move(customer_path))
    , m_web_host(std::move(web_host))
    , m_ui_pages(std::move(ui_pages))
{
    m_web_origin = m_web_host.scheme + "://" + m_web_host.host + default_port_suffix(m_web_host);
    m_address_page = m_web_origin + std::string(address_page_path);
}

Result<PagePolicy> PagePolicy::build(PolicySource const& source)
{
    std::string paths[3];
    char const* names[3] = { "login.html", "orders.html", "customer.html" };
    for (int i = 0; i < 3; ++i) {
        std::optional<std::string> file = source.page_file ? source.page_file(names[i]) : std::nullopt;
        if (!file || file->empty())
            return Error::from_detail(std::string("no file for ") + names[i]);
        auto parsed = parse_address(file_address(*file), ui_scheme);
        if (!parsed)
            return Error::from_detail(std::string("page file path not allowed: ") + *file);
        paths[i] = parsed->path;
    }

    auto web_host = parse_address(web_host_with_scheme(source.web_host), {});
    if (!web_host || web_host->file)
        return Error::from_detail("web host does not parse: " + source.web_host);

    std::set<std::string> ui_pages;
    std::optional<std::string> bundle = source.active_bundle_dir ? source.active_bundle_dir() : std::nullopt;
    if (bundle) {
        if (bundle->empty())
            return Error::from_detail("active UI bundle without a folder");
        std::string path = *bundle;
        if (path.back() != '/')
            path += '/';
        path += manifest_file;
        auto text = os::read_file(path, max_manifest_size);
        if (!text.ok())
            return Error::from_detail("manifest unreadable: " + text.error().detail);
        auto pages = parse_manifest_pages(text.value());
        if (!pages.ok())
            return pages.release_error();
        ui_pages = pages.release_value();
    }
    return PagePolicy(paths[0], paths[1], paths[2], std::move(*web_host), std::move(ui_pages));
}

PageClass PagePolicy::classify(std::string_view text, ViewKind view) const
{
    auto address = parse_address(text, ui_scheme);
    if (!address)
        return PageClass::None;
    if (address->file) {
        if (view == ViewKind::Customer)
            return address->path == m_customer_path ? PageClass::Customer : PageClass::None;
        if (address->path == m_login_path)
            return PageClass::Login;
        if (address->path == m_orders_path)
            return PageClass::Orders;
        return PageClass::None;
    }
    if (view == ViewKind::Customer)
        return PageClass::None;
    if (address->scheme == ui_scheme && address->host == ui_virtual_host && address->port == 443
        && m_ui_pages.contains(address->path))
        return PageClass::UiBundle;
    auto page = parse_address(m_address_page, ui_scheme);
    if (page && address->scheme == page->scheme && address->host == page->host && address->port == page->port
        && address->path == page->path)
        return PageClass::AddressPage;
    return PageClass::None;
}

bool PagePolicy::frame_allowed(std::string_view top_address, std::string_view frame_address, ViewKind view) const
{
    if (view == ViewKind::Customer)
        return false;
    PageClass top = classify(top_address, ViewKind::Main);
    if (top == PageClass::UiBundle) {
        auto frame = parse_address(frame_address, ui_scheme);
        return frame && classify(frame_address, ViewKind::Main) == PageClass::UiBundle && is_panel_page(frame->path);
    }
    if (top == PageClass::AddressPage) {
        if (frame_address == "about:blank")
            return true;
        auto frame = parse_address(frame_address, ui_scheme);
        if (!frame || frame->file || !is_postcode_host(frame->host))
            return false;
        if (frame->scheme == "https" && frame->port == 443)
            return true;
        return m_web_host.scheme == "http" && frame->scheme == "http" && frame->port == 80;
    }
    return false;
}

std::string PagePolicy::guard_script(std::string_view page_script) const
{
    std::string origin = single_quoted(ui_origin());
    std::string pages = json_array(m_ui_pages);
    std::string panels = json_array(panel_pages);
    std::string own = json_array(std::initializer_list<std::string> { "file://" + m_login_path, "file://" + m_orders_path });

    std::string script;
    script.reserve(page_script.size() + 2048);
    script += "(function(){var pf=false;if(window!==window.top){try{pf=location.origin===" + origin
        + "&&window.parent===window.top&&window.top.location.origin===" + origin + "&&";
    script += pages + ".indexOf(window.top.location.pathname)>=0&&";
    script += panels
        + ".indexOf(location.pathname)>=0;}catch(e){pf=false;}if(!pf)return;window.__pfPanel=true;}var u;try{u=new "
          "URL(location.href);}catch(e){return;}";
    // Both sides of the comparison are decoded paths: the own pages are
    // named by their decoded file paths, and the address may carry any of
    // them percent-encoded or not.
    script += "var own=" + own
        + ".indexOf(u.protocol+'//'+u.host+(function(p){try{return decodeURIComponent(p);}catch(e){return '';}})"
          "(u.pathname))>=0;";
    script += "var local=(u.origin===" + origin + "&&" + pages + ".indexOf(u.pathname)>=0);";
    script += "if(u.origin+u.pathname===" + json::quote(m_address_page)
        + "){window.tillwave={viewinfo:function(s){var v=String(s).split('</>')[0];if(v==='back'||v==='setgpspos')"
          "window.chrome.webview.postMessage(String(s));},seterror:function(m){alert(String(m));}};"
          "document.addEventListener('DOMContentLoaded',function(){var b=document.createElement('button');"
          "b.textContent='돌아가기';b.id='pcAddressBack';b.style.cssText='position:fixed;left:12px;top:12px;"
          "z-index:99999;padding:10px 18px';b.onclick=function(){tillwave.viewinfo('back');};"
          "document.body.appendChild(b);});return;}if(!own&&!local)return;\n";
    script += page_script;
    script += "\n})();";
    return script;
}

} // namespace tillbay::bridge

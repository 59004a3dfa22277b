#pragma once

// The page policy: which documents the web view may show at all, which of
// them get the page bridge, and in which frames. It is built once at start-up
// from the pages the installation and the active UI bundle name, and never
// changes while the process runs (a new UI bundle takes effect at the next
// start).

#include "base/result.h"
#include "bridge/address.h"
#include "os/webview.h"

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace tillbay::bridge {

// How a document is classified. The numbers are the ones the logs and the
// automation endpoint show.
enum class PageClass : int {
    None = 0,        // not allowed
    Login = 1,       // "login.html" as a local file
    Orders = 2,      // "orders.html" as a local file
    UiBundle = 3,    // a page of the active UI bundle on the UI virtual host
    AddressPage = 4, // the web host's address-search page
    Customer = 5,    // "customer.html" as a local file, customer display only
};

// Which web view a decision is for: the main one, or the customer display's.
enum class ViewKind {
    Main,
    Customer,
};

// The custom scheme and the two virtual hosts come from the web view backend.
using os::api_virtual_host;
using os::ui_scheme;
using os::ui_virtual_host;
// "twpos://ui.tillbay.invalid"
std::string ui_origin();
// "twpos://api.tillbay.invalid"
std::string api_origin();

// The address page's path on the web host.
inline constexpr std::string_view address_page_path = "/v2/pos/ui/setaddress.html";

// UI bundle pages that may run inside a frame of another UI bundle page.
inline constexpr std::string_view panel_pages[] = { "/merchant/menu-edit.html" };

// Hosts of the outside postal-code search service that the address page embeds.
inline constexpr std::string_view postcode_frame_hosts[] = {
    "postcode.map.daum.net",
    "postcode.map.kakao.com",
    "map.kakao.com",
};

// The manifest is read whole up to this size; a larger one fails the policy.
inline constexpr size_t max_manifest_size = 32767;

// The UI pages a UI bundle manifest lists: the magic line "TWUI1", one line
// skipped, then "name<TAB>...<LF>" lines. A name "ui/<rest>" ending in ".html"
// (other than "ui/setaddress.html") allows the path "/<rest>". A line without
// TAB or LF, or a missing magic, is an error.
Result<std::set<std::string>> parse_manifest_pages(std::string_view manifest);

// What the policy is built from. The functions are those of the UI bundle
// store; they are called only during PagePolicy::build.
struct PolicySource {
    // The absolute file path of "login.html", "orders.html" or "customer.html"
    // (the active bundle's copy, else the installation's), or nullopt.
    std::function<std::optional<std::string>(std::string_view name)> page_file;
    // The folder of the verified bundle in use, or nullopt when no verified
    // bundle is active (the policy then has no UI pages).
    std::function<std::optional<std::string>()> active_bundle_dir;
    // The configured web host (settings `webhost`).
    std::string web_host;
};

// Writes the block log line: tag "SEC", text "차단: " + reason.
void block_log(std::string_view reason);

class PagePolicy {
public:
    // Fails (with a detail for the log) when a page file is missing, the web
    // host does not parse, or the active bundle's manifest cannot be read or
    // is malformed.
    static Result<PagePolicy> build(PolicySource const& source);

    // The policy from its parts, for tests and tools.
    PagePolicy(std::string login_path, std::string orders_path, std::string customer_path, Address web_host,
        std::set<std::string> ui_pages);

    PageClass classify(std::string_view address, ViewKind view) const;

    // Whether a sub-frame may load frame_address while top_address is the
    // top document.
    bool frame_allowed(std::string_view top_address, std::string_view frame_address, ViewKind view) const;

    // The web host's origin: scheme "://" host, and ":" port when it is not
    // the scheme's default.
    std::string const& web_origin() const { return m_web_origin; }
    Address const& web_host() const { return m_web_host; }
    // web_origin() + "/v2/pos/ui/setaddress.html"
    std::string const& address_page_address() const { return m_address_page; }

    std::string const& login_path() const { return m_login_path; }
    std::string const& orders_path() const { return m_orders_path; }
    std::string const& customer_path() const { return m_customer_path; }
    std::set<std::string> const& ui_pages() const { return m_ui_pages; }

    // The guard script built around the page script: the one script that runs
    // at the creation of every document in every frame. It runs the page
    // script only in the two own file pages, the UI pages and the panel
    // frames, and gives the address page a bridge that can send only `back`
    // and `setgpspos`.
    std::string guard_script(std::string_view page_script) const;

private:
    std::string m_login_path;
    std::string m_orders_path;
    std::string m_customer_path;
    Address m_web_host;
    std::string m_web_origin;
    std::string m_address_page;
    std::set<std::string> m_ui_pages;
};

} // namespace tillbay::bridge

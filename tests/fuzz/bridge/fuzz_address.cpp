// The address parser and the classifier on arbitrary text: no crash, and
// every accepted address keeps the promises the policy relies on.

#include "bridge/address.h"
#include "bridge/policy.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace tillbay::bridge;

namespace {

PagePolicy const& policy()
{
    static PagePolicy const instance("/opt/tillbay/ui/login.html", "/opt/tillbay/ui/orders.html",
        "/opt/tillbay/ui/customer.html", *parse_address("https://shop.example.com", ui_scheme),
        { "/merchant/menu.html", "/merchant/menu-edit.html" });
    return instance;
}

void require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    std::string_view text(reinterpret_cast<char const*>(data), size);
    if (auto address = parse_address(text, ui_scheme)) {
        require(!address->path.empty() && address->path[0] == '/');
        require(is_safe_text(address->path));
        require(address->path.find("/../") == std::string::npos && !address->path.ends_with("/.."));
        require(address->file || (address->port != 0 && !address->host.empty()));
        require(address->scheme == "file" || address->scheme == "http" || address->scheme == "https"
            || address->scheme == ui_scheme);
    }
    (void)policy().classify(text, ViewKind::Main);
    (void)policy().classify(text, ViewKind::Customer);
    (void)policy().frame_allowed("twpos://ui.tillbay.invalid/merchant/menu.html", text, ViewKind::Main);
    (void)policy().frame_allowed(policy().address_page_address(), text, ViewKind::Main);
    (void)web_host_with_scheme(text);
    (void)utf16_length(text);
    (void)parse_manifest_pages(text);
    return 0;
}

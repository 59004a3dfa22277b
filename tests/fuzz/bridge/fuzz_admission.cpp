// The admission check on arbitrary page messages from every kind of
// document: no crash, and nothing admitted that the message rules forbid.

#include "base/utf8.h"
#include "bridge/admission.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace tillbay::bridge;

namespace {

PagePolicy const& policy()
{
    static PagePolicy const instance("/opt/tillbay/ui/login.html", "/opt/tillbay/ui/orders.html",
        "/opt/tillbay/ui/customer.html", *parse_address("https://shop.example.com", ui_scheme),
        { "/merchant/menu.html" });
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
    if (size == 0)
        return 0;
    // The first byte picks the document class, the rest is the message.
    auto page_class = static_cast<PageClass>(data[0] % 6);
    std::string_view message(reinterpret_cast<char const*>(data + 1), size - 1);
    Refusal refusal = admit(message, page_class, policy());
    if (refusal == Refusal::None) {
        require(page_class != PageClass::None && page_class != PageClass::Customer);
        require(!message.empty() && message.size() <= max_message_bytes && tillbay::utf8::is_valid(message));
        require(message.find('\0') == std::string_view::npos && message.find('\x01') == std::string_view::npos);
        auto fields = split_fields(message);
        require(fields.size() <= max_fields && is_command_name(fields[0]));
        if (page_class == PageClass::AddressPage)
            require(fields[0] == "back" || fields[0] == "setgpspos");
    }
    return 0;
}

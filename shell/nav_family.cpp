#include "shell/nav_family.h"

#include <array>
#include <utility>

namespace tillbay::shell {

namespace {

// Searched in this order; the first match wins.
constexpr std::array<std::pair<std::string_view, std::string_view>, 22> page_table { {
    { "storemenu", "menu.html" },
    { "storekds", "kds.html" },
    { "storebuy", "delivery.html" },
    { "storebuycancel", "storebuycancel.html" },
    { "storebuysales", "product-sales.html" },
    { "storeacount", "sales.html" },
    { "storereview", "product-reviews.html" },
    { "storemanager", "info.html" },
    { "storesetting", "more.html" },
    { "storehours", "storehours.html" },
    { "storeseller", "storeseller.html" },
    { "storebiz", "policy.html" },
    { "storepw", "modypassword.html" },
    { "storepromo", "storepromo.html" },
    { "messagelist", "messages.html" },
    { "gomessagelist", "messages.html" },
    { "openclaimlist", "claims.html" },
    { "aisetting", "ai-instruct.html" },
    { "companymall", "company-mall.html" },
    { "storebulkship", "mallship.html" },
    { "storeproductmgr", "productmgr.html" },
    { "categorymanage", "menu.html" },
} };

} // namespace

std::optional<std::string_view> page_for_command(std::string_view name)
{
    for (auto const& [command, page] : page_table) {
        if (command == name)
            return page;
    }
    return std::nullopt;
}

NavFamily::NavFamily(PageRouter& router, std::function<bool()> staff_signed_in)
    : m_router(router)
    , m_staff_signed_in(std::move(staff_signed_in))
{
}

bridge::Handled NavFamily::handle(bridge::Command const& command, bridge::Page& page)
{
    std::string_view name = command.name();
    if (name == "openmerch") {
        if (command.arg_count() < 1)
            return bridge::Handled::Yes;
        m_router.set_pending_mode(command.arg(2));
        m_router.history().clear();
        m_router.route(command.arg(1), page);
    } else if (name == "openpos") {
        if (!m_staff_signed_in || !m_staff_signed_in()) {
            page.status(nav_text::sign_in_needed);
            return bridge::Handled::Yes;
        }
        m_router.open_local("orders.html");
    } else if (name == "storepos") {
        m_router.open_local("orders.html");
    } else if (name == "posprinter" || name == "possettings") {
        m_router.set_first_run_request(name == "posprinter" ? 1 : 2);
        m_router.open_local("orders.html");
    } else if (name == "gohome" || name == "back") {
        m_router.back(page);
    } else if (name == "gomain") {
        if (m_router.history().newest() != "home.html")
            m_router.route("home.html", page);
    } else if (auto target = page_for_command(name)) {
        m_router.route(*target, page);
    } else {
        return bridge::Handled::No;
    }
    return bridge::Handled::Yes;
}

} // namespace tillbay::shell

#pragma once

// The `nav` command family: the page commands that move between screens.
// openmerch, openpos, storepos, posprinter, possettings, gohome, gomain,
// back, and the page table (storemenu → "menu.html", ...). Every one runs on
// the UI thread: it only decides and starts a navigation.

#include "bridge/family.h"
#include "shell/page_router.h"

#include <functional>
#include <optional>
#include <string_view>

namespace tillbay::shell {

// The page a page-table command opens; nullopt for any other name.
std::optional<std::string_view> page_for_command(std::string_view name);

class NavFamily final : public bridge::Family {
public:
    // staff_signed_in: whether the POS is signed in (for openpos).
    NavFamily(PageRouter& router, std::function<bool()> staff_signed_in);
    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override;

private:
    PageRouter& m_router;
    std::function<bool()> m_staff_signed_in;
};

} // namespace tillbay::shell

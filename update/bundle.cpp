#include "update/bundle.h"

#include "foundation/settings.h"

namespace tillbay::bundle {

Store& store()
{
    static Store instance(layout_for({}));
    return instance;
}

bool set_web_host(std::string_view web_host)
{
    return store().set_layout(layout_for(web_host_suffix(web_host, settings::builtin_webhost())));
}

std::optional<std::string> root_in_use() { return store().root(); }
std::string ui_version_in_use() { return store().ui_version(); }
bool leased() { return store().leased(); }
Result<std::string> resolve(std::string_view path) { return store().resolve_file(path); }
bool page_exists(std::string_view page) { return store().page_exists(page); }
bool seed_from_installation() { return store().seed_from_installation().switched; }
Status roll_back() { return store().roll_back(); }
Status clear_held_back() { return store().clear_held_back(); }

} // namespace tillbay::bundle

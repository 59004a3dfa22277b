#include "store/file_family.h"

#include "base/ascii.h"
#include "foundation/log.h"

#include <ctime>

namespace tillbay::store {

namespace {

struct Entry {
    std::string_view name;
    Slot slot;
    files::Handler run;
};

// The mall's files live with the mall orders (menu family), the product
// files and photos with the products, the store photo and the table QR
// pictures with the menus and tables.
constexpr Entry entries[] = {
    { "mallshipcsv", Slot::Menu, files::mallshipcsv },
    { "openinvoicefile", Slot::Menu, files::openinvoicefile },
    { "mallsavecsv", Slot::Menu, files::mallsavecsv },
    { "storephoto", Slot::Menu, files::storephoto },
    { "saveqrtableall", Slot::Menu, files::saveqrtableall },
    { "saveqrsticker", Slot::Menu, files::saveqrsticker },
    { "qrpng", Slot::Menu, files::qrpng },
    { "qrdone", Slot::Menu, files::qrdone },
    { "saveqrstickerdone", Slot::Menu, files::qrdone },
    { "qrfail", Slot::Menu, files::qrfail },
    { "openfilefolder", Slot::Menu, files::openfilefolder },
    { "openproductcsv", Slot::Product, files::openproductcsv },
    { "productcsvsave", Slot::Product, files::productcsvsave },
    { "pickproductphotos", Slot::Product, files::pickproductphotos },
    { "uploadproductphoto", Slot::Product, files::uploadproductphoto },
    { "addproductphoto", Slot::Product, files::addproductphoto },
    { "modifyproductphoto", Slot::Product, files::modifyproductphoto },
    { "addgalleryphoto", Slot::Product, files::addgalleryphoto },
    { "addmenuphoto", Slot::Product, files::addmenuphoto },
    { "modifymenuphoto", Slot::Product, files::modifymenuphoto },
};

// A page the tests hand in outlives every job; nothing to keep.
std::shared_ptr<bridge::Page> borrowed(bridge::Page& page) { return std::shared_ptr<bridge::Page>(&page, [](bridge::Page*) {}); }

} // namespace

FileState& FileState::shared()
{
    static FileState state;
    return state;
}

FileFamily::FileFamily(Slot slot, FileHooks& hooks)
    : m_slot(slot)
    , m_hooks(hooks)
{
}

bridge::Handled FileFamily::handle(bridge::Command const& command, bridge::Page& page)
{
    for (auto const& entry : entries) {
        if (entry.slot != m_slot || entry.name != command.name())
            continue;
        auto kept = m_hooks.keep_page ? m_hooks.keep_page(page) : borrowed(page);
        entry.run(command, std::move(kept), m_hooks);
        return bridge::Handled::Yes;
    }
    return bridge::Handled::No;
}

std::vector<std::string_view> FileFamily::command_names(Slot slot)
{
    std::vector<std::string_view> names;
    for (auto const& entry : entries)
        if (entry.slot == slot)
            names.push_back(entry.name);
    return names;
}

namespace files {

void post(FileHooks& hooks, std::function<void()> job)
{
    auto guarded = [job = std::move(job)] { log::guarded("파일 작업", job); };
    if (hooks.post_work)
        hooks.post_work(std::move(guarded));
    else
        guarded();
}

os::dialog::Answer ask(FileHooks& hooks, os::dialog::Request const& request)
{
    if (!hooks.dialogs)
        return {};
    return hooks.dialogs->ask(request);
}

std::string local_time(char const* format)
{
    std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    char text[64];
    std::strftime(text, sizeof text, format, &tm);
    return text;
}

os::http::Endpoint web_endpoint(std::string_view host_text)
{
    bool secure = ascii::starts_with_ignoring_case(host_text, "https://")
        || !(ascii::starts_with_ignoring_case(host_text, "http://") || os::http::is_private_host(os::http::host_part(host_text)));
    return os::http::endpoint_from_host_text(host_text, secure ? os::http::Security::Secure : os::http::Security::Plain);
}

std::string base_name(std::string const& path)
{
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace files

} // namespace tillbay::store

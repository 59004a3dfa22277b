#include "store_wiring.h"

#include "foundation/log.h"
#include "foundation/settings.h"
#include "os/fs.h"
#include "server/api.h"

#include <gio/gio.h>

namespace tillbay::app {

namespace {

// Runs a whole script for the document a Page stands for.
void run_page_script(bridge::Bridge& bridge, bridge::Page& page, std::string const& script)
{
    std::optional<uint64_t> generation;
    if (auto* document = dynamic_cast<bridge::DocumentPage*>(&page))
        generation = document->generation();
    bridge.page_callback(script, generation);
}

bool open_with_desktop(std::string const& address)
{
    GError* error = nullptr;
    if (g_app_info_launch_default_for_uri(address.c_str(), nullptr, &error))
        return true;
    log::bridge("UI", std::string("주소를 열지 못함: ") + (error ? error->message : ""));
    if (error)
        g_error_free(error);
    return false;
}

} // namespace

StoreWiring::StoreWiring(bridge::Bridge& bridge)
    : m_bridge(bridge)
    , m_menu(store::Slot::Menu, m_context)
    , m_store(store::Slot::Store, m_context)
    , m_product(store::Slot::Product, m_context)
    , m_pc(store::Slot::Pc, m_context)
    , m_sales(store::Slot::Sales, m_context)
    , m_history(store::Slot::History, m_context)
    , m_menu_files(store::Slot::Menu, m_file_hooks)
    , m_product_files(store::Slot::Product, m_file_hooks)
{
    auto& files = m_file_hooks;
    files.post_work = [this](std::function<void()> job) { m_files_worker.post(std::move(job)); };
    files.keep_page = [this](bridge::Page& page) -> std::shared_ptr<bridge::Page> {
        if (auto* document = dynamic_cast<bridge::DocumentPage*>(&page))
            return std::make_shared<bridge::DocumentPage>(*document);
        return std::make_shared<bridge::DocumentPage>(m_bridge.current_page());
    };
    files.web = [](os::http::Endpoint const& endpoint, os::http::Request const& call) { return os::http::request(endpoint, call); };
    files.web_host = [] { return settings::server().webhost; };
    files.owner_call = [](std::string_view command) { return api::owner_call(command); };
    files.show_in_folder = [this](std::string const& path) {
        m_bridge.post_ui([this, path] {
            if (m_dialogs)
                m_dialogs->show_in_folder(path);
        });
    };
    files.temp_folder = [] { return os::temp_folder(); };

    m_context.calls = store::Calls::standard();
    auto& hooks = m_context.hooks;
    hooks.run_script = [this](bridge::Page& page, std::string const& script) { run_page_script(m_bridge, page, script); };
    hooks.open_address = open_with_desktop;
    // The order board reloads through its own command, on whichever thread
    // the order family runs; the lane never touches the board itself.
    hooks.refresh_order_board = [this](bridge::Page&) { m_bridge.queue_internal("refreshorders"); };
    hooks.poll_order_list = [this](bridge::Page&) { m_bridge.queue_internal("refreshorders"); };
}

StoreWiring::~StoreWiring() { m_files_worker.stop(); }

void StoreWiring::use_dialogs(std::unique_ptr<os::dialog::Dialogs> dialogs)
{
    m_dialogs = std::move(dialogs);
    m_file_hooks.dialogs = m_dialogs.get();
}

void StoreWiring::attach()
{
    m_files_worker.start();
    m_bridge.add_family(bridge::FamilySlot::Menu, &m_menu);
    m_bridge.add_family(bridge::FamilySlot::Store, &m_store);
    m_bridge.add_family(bridge::FamilySlot::Product, &m_product);
    m_bridge.add_family(bridge::FamilySlot::Pc, &m_pc);
    m_bridge.add_family(bridge::FamilySlot::Sales, &m_sales);
    m_bridge.add_family(bridge::FamilySlot::History, &m_history);
    m_bridge.add_family(bridge::FamilySlot::Menu, &m_menu_files);
    m_bridge.add_family(bridge::FamilySlot::Product, &m_product_files);
}

void StoreWiring::set_route_page(std::function<void(std::string_view page)> route) { m_context.hooks.route_page = std::move(route); }

void StoreWiring::set_record_page(std::function<void(std::string_view page, bool old)> record)
{
    m_context.hooks.record_page = std::move(record);
}

} // namespace tillbay::app

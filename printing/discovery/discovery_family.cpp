#include "printing/discovery/discovery_family.h"

#include "bridge/bridge.h"
#include "foundation/json_text.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "os/process.h"
#include "printing/connection_address.h"
#include "printing/local_printers.h"
#include "printing/printer_settings.h"

namespace tillbay::discovery {

namespace {

constexpr size_t max_connection_text = 1024;

void join(std::thread& thread)
{
    if (thread.joinable())
        thread.join();
}

} // namespace

SavedLink saved_link_from_settings(std::string_view target)
{
    bool kitchen = target == "k";
    SavedLink saved;
    saved.connection = settings::read_text(kitchen ? "KITCHEN" : "PRINTER", "connection", max_connection_text);
    if (saved.connection == "legacy")
        saved.connection.clear();
    printing::PrinterRecord record = kitchen ? printing::read_kitchen_record().record : printing::read_receipt_record();
    saved.description = printing::describe(record, !printing::usb_printers().empty()).text;
    return saved;
}

std::string print_links_command(uint64_t generation, std::string_view script)
{
    std::string text(1, bridge::internal_mark);
    text += "printlinks</>";
    text += std::to_string(generation);
    text += "</>";
    text += script;
    return text;
}

DiscoveryFamily::DiscoveryFamily(LocalPrinters& printers, SearchMachine machine, DiscoveryHooks hooks,
    SearchLimits limits)
    : m_printers(printers)
    , m_machine(std::move(machine))
    , m_hooks(std::move(hooks))
    , m_limits(limits)
{
    if (!m_machine.queue_pointers)
        m_machine.queue_pointers = [this] { return queue_pointers(); };
}

DiscoveryFamily::~DiscoveryFamily()
{
    m_cancel = true;
    join(m_search_thread);
    join(m_links_thread);
}

bridge::Handled DiscoveryFamily::handle(bridge::Command const& command, bridge::Page& page)
{
    std::string_view name = command.name();
    if (name == "discoverprinters")
        start_search(command, page);
    else if (name == "cancelprinterdiscovery")
        m_cancel = true;
    else if (name == "getprintlinks")
        start_print_links(command);
    else
        return bridge::Handled::No;
    return bridge::Handled::Yes;
}

void DiscoveryFamily::start_search(bridge::Command const& command, bridge::Page& page)
{
    SearchRequest request { std::string(command.arg(2)), std::string(command.arg(1)) };
    bool idle = false;
    if (!m_search_running.compare_exchange_strong(idle, true)) {
        SearchResult busy;
        busy.id = request.id;
        busy.target = request.target;
        busy.done = true;
        busy.error = search_busy_text;
        page.callback("setPrinterDiscovery", discovery_argument(busy));
        return;
    }
    // The previous worker has finished (the running flag was clear).
    join(m_search_thread);
    m_cancel = false;
    try {
        m_search_thread = os::process::start_thread(
            [this, request = std::move(request), generation = command.generation]() mutable {
                search_worker(std::move(request), generation);
            });
    } catch (std::exception const& failure) {
        m_search_running = false;
        log::bridge("PRN", std::string("search thread: ") + failure.what());
        page.status(search_failed_text);
    }
}

void DiscoveryFamily::search_worker(SearchRequest request, uint64_t generation)
{
    bool const answered = log::guarded("프린터 찾기 실패", [&] {
        auto post = [&](SearchResult const& result) {
            if (m_hooks.queue_internal)
                m_hooks.queue_internal(print_links_command(generation, discovery_script(result)));
        };
        SearchResult final_result = run_search(request, m_machine, m_limits, m_cancel, post);
        // The page may press 검색 again as soon as it sees the final answer.
        m_search_running = false;
        post(final_result);
    });
    if (!answered)
        m_search_running = false;
}

std::vector<QueuePointer> DiscoveryFamily::queue_pointers()
{
    std::vector<QueuePointer> pointers;
    auto queues = m_printers.queues();
    if (!queues.ok())
        return pointers;
    for (auto const& queue : queues.value())
        if (auto pointer = queue_pointer(queue.name, queue.device_uri))
            pointers.push_back(std::move(*pointer));
    return pointers;
}

void DiscoveryFamily::start_print_links(bridge::Command const& command)
{
    std::lock_guard guard(m_links_lock);
    m_links_askers.push_back({ command.generation, std::string(command.arg(1)) });
    // A listing already under way answers this press as well.
    if (m_links_running)
        return;
    m_links_running = true;
    join(m_links_thread);
    try {
        m_links_thread = os::process::start_thread([this] { print_links_worker(); });
    } catch (std::exception const& failure) {
        m_links_running = false;
        m_links_askers.clear();
        log::bridge("PRN", std::string("print links thread: ") + failure.what());
    }
}

bool DiscoveryFamily::print_links_running()
{
    std::lock_guard guard(m_links_lock);
    return m_links_running;
}

void DiscoveryFamily::print_links_worker()
{
    // The loop ends only when no one is waiting any more; a failure ends it
    // early, and the askers are let go.
    bool const done = log::guarded("프린터 목록 실패", [&] {
        PrintLinks links = gather_print_links(m_printers);
        while (true) {
            std::vector<Asker> askers;
            {
                std::lock_guard guard(m_links_lock);
                askers.swap(m_links_askers);
                if (askers.empty()) {
                    m_links_running = false;
                    return;
                }
            }
            for (auto const& asker : askers) {
                SavedLink saved = m_hooks.saved_link ? m_hooks.saved_link(asker.target) : SavedLink {};
                if (m_hooks.queue_internal)
                    m_hooks.queue_internal(print_links_command(asker.generation, print_links_script(asker.target, saved, links)));
            }
        }
    });
    if (done)
        return;
    std::lock_guard guard(m_links_lock);
    m_links_askers.clear();
    m_links_running = false;
}

} // namespace tillbay::discovery

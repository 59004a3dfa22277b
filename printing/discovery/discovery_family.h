#pragma once

// The printer search's commands, part of the `pc` family:
//
//   discoverprinters</>target</>id   starts a search on a worker thread; one at a time
//   cancelprinterdiscovery</>id      ends the running search at its next check
//   getprintlinks</>target           lists this PC's own printers on a worker thread
//
// The commands only start or stop workers, so they run on the UI thread.
// The workers answer through the internal command
// "\x01printlinks</>generation</>script", which the bridge runs in the page
// only while the document that asked is still shown.

#include "bridge/family.h"
#include "printing/discovery/local_printers.h"
#include "printing/discovery/print_links.h"
#include "printing/discovery/search.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tillbay::discovery {

inline constexpr char const* search_busy_text = "앞선 검색을 종료하고 있습니다. 잠시 후 다시 눌러 주세요.";

struct DiscoveryHooks {
    // Queues an internal bridge command; called from the workers.
    std::function<void(std::string)> queue_internal;
    // The saved connection and description of the receipt ("r") or kitchen
    // ("k") printer; called from the print-link worker.
    std::function<SavedLink(std::string_view target)> saved_link;
};

// The printer settings' stored connection, read from the settings file
// ("legacy" read as empty), without a description.
SavedLink saved_link_from_settings(std::string_view target);

// The internal command that carries a page callback script to the document
// of the given generation.
std::string print_links_command(uint64_t generation, std::string_view script);

class DiscoveryFamily final : public bridge::Family {
public:
    DiscoveryFamily(LocalPrinters& printers, SearchMachine machine, DiscoveryHooks hooks, SearchLimits limits = {});
    ~DiscoveryFamily() override;

    DiscoveryFamily(DiscoveryFamily const&) = delete;
    DiscoveryFamily& operator=(DiscoveryFamily const&) = delete;

    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override;

    bool search_running() const { return m_search_running.load(); }
    bool print_links_running();

private:
    void start_search(bridge::Command const& command, bridge::Page& page);
    void search_worker(SearchRequest request, uint64_t generation);
    void start_print_links(bridge::Command const& command);
    void print_links_worker();
    std::vector<QueuePointer> queue_pointers();

    LocalPrinters& m_printers;
    SearchMachine m_machine;
    DiscoveryHooks m_hooks;
    SearchLimits m_limits;

    std::atomic<bool> m_search_running { false };
    std::atomic<bool> m_cancel { false };
    std::thread m_search_thread;

    struct Asker {
        uint64_t generation = 0;
        std::string target;
    };
    std::mutex m_links_lock; // guards the two members below
    bool m_links_running = false;
    std::vector<Asker> m_links_askers;
    std::thread m_links_thread;
};

} // namespace tillbay::discovery

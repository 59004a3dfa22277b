#include "printing/discovery/search.h"

#include "foundation/log.h"
#include "printing/discovery/announcements.h"
#include "printing/discovery/scan_plan.h"
#include "printing/discovery/snmp_query.h"
#include "printing/discovery/tcp_scan.h"

namespace tillbay::discovery {

namespace {

constexpr size_t max_neighbour_rows = 8192;

class Reporter {
public:
    Reporter(SearchRequest const& request, SearchState const& state, SearchLimits const& limits,
        std::function<void(SearchResult const&)> const& progress)
        : m_request(request)
        , m_state(state)
        , m_limits(limits)
        , m_progress(progress)
    {
    }

    SearchResult snapshot() const
    {
        SearchResult result;
        result.id = m_request.id;
        result.target = m_request.target;
        result.cancelled = m_state.cancelled();
        result.limited = m_state.limited;
        result.checked = m_state.checked;
        result.total = m_state.total;
        result.items = m_state.candidates.entries();
        return result;
    }

    // A progress answer when the page has something new to see and the last
    // one is at least progress_interval old.
    void maybe_report()
    {
        if (!m_progress)
            return;
        auto now = Clock::now();
        bool news = m_state.checked != m_reported_checked || m_state.total != m_reported_total
            || m_state.candidates.changes() != m_reported_changes;
        if (!news || (m_reported && now - m_reported_at < m_limits.progress_interval))
            return;
        m_reported = true;
        m_reported_at = now;
        m_reported_checked = m_state.checked;
        m_reported_total = m_state.total;
        m_reported_changes = m_state.candidates.changes();
        m_progress(snapshot());
    }

private:
    SearchRequest const& m_request;
    SearchState const& m_state;
    SearchLimits const& m_limits;
    std::function<void(SearchResult const&)> const& m_progress;
    bool m_reported = false;
    Clock::time_point m_reported_at {};
    size_t m_reported_checked = 0, m_reported_total = 0, m_reported_changes = 0;
};

SearchResult search(SearchMachine const& machine, SearchLimits const& limits, SearchState& state, Reporter& reporter)
{
    auto finish = [&](std::string error) {
        SearchResult result = reporter.snapshot();
        result.done = true;
        result.error = std::move(error);
        return result;
    };

    auto interfaces
        = machine.interfaces ? machine.interfaces() : Result<std::vector<os::lan::Interface>>(std::vector<os::lan::Interface> {});
    if (!interfaces.ok()) {
        log::bridge("PRN", "search: " + interfaces.error().detail);
        return finish(search_start_failed_text);
    }
    state.networks = LocalNetworks::from(interfaces.value());
    if (state.networks.empty())
        return finish(no_lan_text);

    if (machine.queue_pointers) {
        for (auto const& pointer : machine.queue_pointers()) {
            Candidate* candidate = state.local_candidate(pointer.address);
            if (!candidate)
                continue;
            state.candidates.add_evidence(*candidate, QueuePoints);
            state.candidates.offer_name(*candidate, pointer.queue);
            if (pointer.port)
                state.candidates.add_known_port(*candidate, pointer.port);
        }
        state.notify();
    }
    if (state.cancelled())
        return finish({});

    run_announcements(state, limits);
    if (state.cancelled())
        return finish({});

    std::vector<uint32_t> neighbours;
    if (machine.neighbours) {
        if (auto rows = machine.neighbours(); rows.ok())
            for (auto const& row : rows.value())
                if (row.state == os::lan::NeighbourState::Known && neighbours.size() < max_neighbour_rows)
                    neighbours.push_back(row.address);
    }
    ScanPlan plan = make_scan_plan(state.networks, state.candidates, neighbours);
    state.limited = plan.limited;
    state.total = plan.pairs.size();
    reporter.maybe_report();

    bool complete = run_tcp_scan(state, plan, limits, machine.neighbours);
    if (state.cancelled())
        return finish({});
    if (!complete)
        state.limited = true;

    run_snmp_query(state, limits);
    return finish({});
}

} // namespace

SearchMachine system_machine()
{
    SearchMachine machine;
    machine.interfaces = [] { return os::lan::ipv4_interfaces(os::lan::Roots {}); };
    machine.neighbours = [] { return os::lan::ipv4_neighbours(os::lan::Roots {}, max_neighbour_rows); };
    return machine;
}

SearchResult run_search(SearchRequest const& request, SearchMachine const& machine, SearchLimits const& limits,
    std::atomic<bool> const& cancel, std::function<void(SearchResult const&)> const& progress)
{
    SearchState state;
    state.cancel = &cancel;
    Reporter reporter(request, state, limits, progress);
    state.changed = [&] { reporter.maybe_report(); };
    SearchResult found;
    if (log::guarded("프린터 찾기 실패", [&] { found = search(machine, limits, state, reporter); }))
        return found;
    SearchResult result;
    result.id = request.id;
    result.target = request.target;
    result.done = true;
    result.error = search_failed_text;
    return result;
}

} // namespace tillbay::discovery

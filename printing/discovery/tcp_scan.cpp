#include "printing/discovery/tcp_scan.h"

#include "os/discovery_socket.h"

#include <unordered_map>

namespace tillbay::discovery {

namespace {

struct Attempt {
    os::probe::Fd socket;
    Pair pair;
    Clock::time_point started;
};

// Which hosts have shown that nobody holds their address.
class AbsentHosts {
public:
    AbsentHosts(SearchLimits const& limits, NeighbourSource const& neighbours)
        : m_limits(limits)
        , m_neighbours(neighbours)
    {
    }

    void knocked(uint32_t address, Clock::time_point now) { m_first_knock.try_emplace(address, now); }

    bool absent(uint32_t address, Clock::time_point now)
    {
        auto knock = m_first_knock.find(address);
        if (knock == m_first_knock.end() || now - knock->second < m_limits.absent_after || !m_neighbours)
            return false;
        if (now - m_read_at >= m_limits.neighbour_refresh) {
            m_read_at = now;
            m_states.clear();
            if (auto rows = m_neighbours(); rows.ok())
                for (auto const& row : rows.value())
                    m_states[row.address] = row.state;
        }
        auto state = m_states.find(address);
        return state != m_states.end()
            && (state->second == os::lan::NeighbourState::Incomplete || state->second == os::lan::NeighbourState::Failed);
    }

private:
    SearchLimits const& m_limits;
    NeighbourSource const& m_neighbours;
    std::unordered_map<uint32_t, Clock::time_point> m_first_knock;
    std::unordered_map<uint32_t, os::lan::NeighbourState> m_states;
    Clock::time_point m_read_at {};
};

} // namespace

bool run_tcp_scan(SearchState& state, ScanPlan const& plan, SearchLimits const& limits,
    NeighbourSource const& neighbours)
{
    auto open = [&](Pair pair) {
        if (Candidate* candidate = state.local_candidate(pair.address)) {
            state.candidates.add_evidence(*candidate, Tcp);
            state.candidates.add_open_port(*candidate, pair.port);
        }
    };

    AbsentHosts absent(limits, neighbours);
    std::vector<Attempt> pending;
    size_t next = 0;
    auto deadline = Clock::now() + limits.scan_budget;
    while (!state.cancelled()) {
        auto now = Clock::now();
        if (now >= deadline)
            break;
        while (pending.size() < limits.max_in_flight && next < plan.pairs.size()) {
            Pair pair = plan.pairs[next++];
            if (absent.absent(pair.address, now)) {
                ++state.checked;
                continue;
            }
            absent.knocked(pair.address, now);
            auto start = os::probe::start_connect(pair.address, pair.port);
            if (start.state == os::probe::ConnectState::Connected) {
                open(pair);
                ++state.checked;
            } else if (start.state == os::probe::ConnectState::Failed) {
                ++state.checked;
            } else {
                pending.push_back({ std::move(start.socket), pair, now });
            }
        }
        if (pending.empty() && next >= plan.pairs.size())
            break;

        std::vector<os::probe::Watch> watches;
        watches.reserve(pending.size());
        for (auto const& attempt : pending)
            watches.push_back({ attempt.socket.get(), false, true });
        auto wait = std::min(limits.wait_step, std::chrono::duration_cast<Milliseconds>(deadline - now));
        if (!os::probe::wait_any(watches, static_cast<int>(std::max<int64_t>(wait.count(), 0))).ok())
            break;

        now = Clock::now();
        size_t kept = 0;
        for (size_t i = 0; i < pending.size(); ++i) {
            Attempt& attempt = pending[i];
            if (watches[i].writable || watches[i].failed) {
                if (os::probe::connect_error(attempt.socket.get()) == 0)
                    open(attempt.pair);
                ++state.checked;
            } else if (now - attempt.started >= limits.attempt_time) {
                ++state.checked;
            } else {
                if (kept != i)
                    pending[kept] = std::move(attempt);
                ++kept;
                continue;
            }
        }
        pending.resize(kept);
        state.notify();
    }
    return next >= plan.pairs.size() && pending.empty();
}

} // namespace tillbay::discovery

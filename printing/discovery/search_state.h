#pragma once

// What the phases of one printer search share: the local networks, the
// candidates found so far, the counters the page sees, the cancel flag, and
// the limits every phase keeps to.

#include "printing/discovery/candidates.h"
#include "printing/discovery/local_networks.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>

namespace tillbay::discovery {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

struct SearchLimits {
    Milliseconds announce_time { 1800 };
    size_t max_announce_datagrams = 512;
    size_t max_follow_up_queries = 64;
    size_t datagram_buffer = 16000;

    Milliseconds scan_budget { 28000 };
    size_t max_in_flight = 48;
    Milliseconds attempt_time { 350 };
    // A host whose address resolution has had no answer this long after the
    // scan first knocked on it is not on the link: its other ports are
    // counted as tried without knocking again.
    Milliseconds absent_after { 3000 };
    Milliseconds neighbour_refresh { 100 };

    Milliseconds snmp_time { 900 };
    size_t max_snmp_datagrams = 256;

    // How long one wait for the network may last, so that a cancel is seen at once.
    Milliseconds wait_step { 50 };
    Milliseconds progress_interval { 500 };
};

struct SearchState {
    LocalNetworks networks;
    CandidateSet candidates;
    size_t checked = 0;
    size_t total = 0;
    bool limited = false;
    std::atomic<bool> const* cancel = nullptr;
    // Called whenever something the page sees may have changed; the search
    // decides whether a progress answer is due.
    std::function<void()> changed;

    bool cancelled() const { return cancel && cancel->load(); }
    void notify()
    {
        if (changed)
            changed();
    }
    // The candidate for a local address, created when new; nullptr for an
    // address off the local networks or when the set is full.
    Candidate* local_candidate(uint32_t address)
    {
        return networks.is_local(address) ? candidates.at(address) : nullptr;
    }
};

} // namespace tillbay::discovery

#pragma once

// The hosts a printer search has found, with what found them. At most
// max_candidates per search: further new hosts are ignored. The first name
// given wins, except that a name from SNMP replaces any earlier one.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tillbay::discovery {

inline constexpr size_t max_candidates = 256;

// The kinds of evidence, in the order they are shown.
enum Evidence : uint8_t {
    QueuePoints = 1 << 0, // a printer queue on this PC sends to this address
    Wsd = 1 << 1,
    DnsSd = 1 << 2,
    Tcp = 1 << 3,
    Snmp = 1 << 4,
};

// The evidence tags joined by " / ", as the page shows them.
std::string evidence_text(uint8_t evidence);

struct Candidate {
    uint32_t address = 0;
    std::string name;
    uint8_t evidence = 0;
    std::set<uint16_t> known_ports; // announced (queues, service records)
    std::set<uint16_t> open_ports;  // accepted a connection during this search
    bool named_by_snmp = false;
};

// One line of the answer: a candidate and one of its listed ports (0 when it
// lists none).
struct Entry {
    uint32_t address = 0;
    uint16_t port = 0;
    std::string name;
    std::string evidence;
    bool selectable = false;
};

class CandidateSet {
public:
    // The candidate for the address, created when new; nullptr when the set
    // is full. The caller has checked that the address is local.
    Candidate* at(uint32_t address);
    Candidate* find(uint32_t address);
    Candidate const* find(uint32_t address) const;

    void add_evidence(Candidate& candidate, Evidence evidence);
    void add_known_port(Candidate& candidate, uint16_t port);
    void add_open_port(Candidate& candidate, uint16_t port);
    // A name for the candidate: kept only when it has none yet.
    void offer_name(Candidate& candidate, std::string_view name);
    // A name from SNMP: replaces any earlier one.
    void set_snmp_name(Candidate& candidate, std::string_view name);

    size_t size() const { return m_candidates.size(); }
    // Counts every change a page would see, so that progress answers are
    // sent only when there is something new.
    size_t changes() const { return m_changes; }
    // Every candidate, in the order found.
    std::deque<Candidate> const& all() const { return m_candidates; }

    // The answer's lines: candidates by address, each with its listed ports
    // in ascending order. Listed are 9100, 9101 and 9102 when known or open,
    // and any other open port except 515 and 631.
    std::vector<Entry> entries() const;

private:
    std::deque<Candidate> m_candidates; // a deque: a candidate stays where it is while others join
    size_t m_changes = 0;
};

} // namespace tillbay::discovery

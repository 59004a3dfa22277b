#include "printing/discovery/candidates.h"

#include <algorithm>
#include <array>

namespace tillbay::discovery {

namespace {

struct Tag {
    Evidence evidence;
    std::string_view text;
};
// A queue on this PC that prints to the address is told in the words of this
// PC's printing system; the others are the protocols' own names.
constexpr std::array<Tag, 5> tags = { {
    { QueuePoints, "이 PC의 인쇄 큐" },
    { Wsd, "WSD" },
    { DnsSd, "DNS-SD" },
    { Tcp, "TCP" },
    { Snmp, "SNMP" },
} };

bool is_raw_port(uint16_t port) { return port == 9100 || port == 9101 || port == 9102; }

} // namespace

std::string evidence_text(uint8_t evidence)
{
    std::string text;
    for (auto const& tag : tags) {
        if (!(evidence & tag.evidence))
            continue;
        if (!text.empty())
            text += " / ";
        text += tag.text;
    }
    return text;
}

Candidate* CandidateSet::at(uint32_t address)
{
    for (auto& candidate : m_candidates)
        if (candidate.address == address)
            return &candidate;
    if (m_candidates.size() >= max_candidates)
        return nullptr;
    m_candidates.push_back(Candidate { address });
    ++m_changes;
    return &m_candidates.back();
}

void CandidateSet::add_evidence(Candidate& candidate, Evidence evidence)
{
    if (!(candidate.evidence & evidence))
        ++m_changes;
    candidate.evidence |= evidence;
}

void CandidateSet::add_known_port(Candidate& candidate, uint16_t port)
{
    if (candidate.known_ports.insert(port).second)
        ++m_changes;
}

void CandidateSet::add_open_port(Candidate& candidate, uint16_t port)
{
    if (candidate.open_ports.insert(port).second)
        ++m_changes;
}

Candidate* CandidateSet::find(uint32_t address)
{
    for (auto& candidate : m_candidates)
        if (candidate.address == address)
            return &candidate;
    return nullptr;
}

Candidate const* CandidateSet::find(uint32_t address) const
{
    for (auto const& candidate : m_candidates)
        if (candidate.address == address)
            return &candidate;
    return nullptr;
}

void CandidateSet::offer_name(Candidate& candidate, std::string_view name)
{
    if (candidate.name.empty() && !name.empty()) {
        candidate.name = name;
        ++m_changes;
    }
}

void CandidateSet::set_snmp_name(Candidate& candidate, std::string_view name)
{
    if (name.empty())
        return;
    if (candidate.name != name)
        ++m_changes;
    candidate.name = name;
    candidate.named_by_snmp = true;
}

std::vector<Entry> CandidateSet::entries() const
{
    std::vector<Candidate const*> ordered;
    for (auto const& candidate : m_candidates)
        ordered.push_back(&candidate);
    std::sort(ordered.begin(), ordered.end(), [](auto* a, auto* b) { return a->address < b->address; });

    std::vector<Entry> entries;
    for (auto const* candidate : ordered) {
        std::set<uint16_t> listed;
        for (uint16_t port : candidate->known_ports)
            if (is_raw_port(port))
                listed.insert(port);
        for (uint16_t port : candidate->open_ports)
            if (port != 515 && port != 631)
                listed.insert(port);
        std::string evidence = evidence_text(candidate->evidence);
        if (listed.empty())
            listed.insert(0);
        for (uint16_t port : listed)
            entries.push_back({ candidate->address, port, candidate->name, evidence, port != 0 });
    }
    return entries;
}

} // namespace tillbay::discovery

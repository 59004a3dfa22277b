#include "printing/discovery/announcements.h"

#include "base/ascii.h"
#include "os/crypto.h"
#include "os/discovery_socket.h"
#include "printing/discovery/dns_message.h"
#include "printing/discovery/wsd_message.h"

#include <set>
#include <string>
#include <vector>

namespace tillbay::discovery {

namespace {

constexpr char const* wsd_default_name = "WSD 프린터";

struct Prober {
    os::probe::Fd socket;
    uint16_t query_id = 0;
    std::string message_id;
};

uint16_t new_query_id()
{
    uint16_t id = 0;
    std::array<uint8_t, 2> bytes {};
    if (os::random_bytes(bytes))
        id = static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
    if (id == 0)
        id = static_cast<uint16_t>(Clock::now().time_since_epoch().count() & 0xFFFF) | 1;
    return id;
}

std::string name_key(uint32_t responder, dns::Name const& name)
{
    std::string key = std::to_string(responder);
    for (auto const& label : name) {
        key += '.';
        key += ascii::lowered(label);
    }
    return key;
}

class Listener {
public:
    Listener(SearchState& state, SearchLimits const& limits)
        : m_state(state)
        , m_limits(limits)
    {
    }

    void dns_answer(Prober& prober, os::probe::Datagram const& datagram, std::span<uint8_t const> bytes)
    {
        auto answer = dns::read_answer(bytes, prober.query_id);
        if (!answer.ok())
            return;
        bool found = false;
        for (auto const& service : answer.value().services) {
            uint32_t address = service.address ? service.address : datagram.source;
            Candidate* candidate = m_state.local_candidate(address);
            if (!candidate)
                continue;
            m_state.candidates.add_evidence(*candidate, DnsSd);
            m_state.candidates.offer_name(*candidate, service.display_name);
            if (service.port)
                m_state.candidates.add_known_port(*candidate, service.port);
            m_asked.insert(name_key(datagram.source, service.instance));
            found = true;
        }
        for (auto const& instance : answer.value().instances) {
            if (m_follow_ups >= m_limits.max_follow_up_queries)
                break;
            if (!m_asked.insert(name_key(datagram.source, instance)).second)
                continue;
            auto query = dns::instance_query(prober.query_id, instance);
            if (os::probe::send_to(prober.socket.get(), datagram.source, dns::mdns_port, query).ok())
                ++m_follow_ups;
        }
        if (found)
            m_state.notify();
    }

    void wsd_answer(Prober& prober, os::probe::Datagram const& datagram, std::span<uint8_t const> bytes)
    {
        std::string_view document(reinterpret_cast<char const*>(bytes.data()), bytes.size());
        if (wsd::read_probe_match(document, prober.message_id) != wsd::Verdict::Match)
            return;
        Candidate* candidate = m_state.local_candidate(datagram.source);
        if (!candidate)
            return;
        m_state.candidates.add_evidence(*candidate, Wsd);
        m_state.candidates.offer_name(*candidate, wsd_default_name);
        m_state.notify();
    }

private:
    SearchState& m_state;
    SearchLimits const& m_limits;
    std::set<std::string> m_asked; // responder and instance, already answered or asked
    size_t m_follow_ups = 0;
};

} // namespace

void run_announcements(SearchState& state, SearchLimits const& limits)
{
    std::vector<Prober> probers;
    for (auto const& network : state.networks.list()) {
        auto socket = os::probe::open_udp(network.own, os::probe::Multicast::OnThisInterface);
        if (!socket.ok())
            continue;
        Prober prober { socket.release_value(), new_query_id(), wsd::new_message_id() };
        auto query = dns::printer_query(prober.query_id);
        (void)os::probe::send_to(prober.socket.get(), dns::mdns_group, dns::mdns_port, query);
        std::string probe = wsd::probe(prober.message_id);
        (void)os::probe::send_to(prober.socket.get(), wsd::group, wsd::port,
            std::span(reinterpret_cast<uint8_t const*>(probe.data()), probe.size()));
        probers.push_back(std::move(prober));
    }
    if (probers.empty())
        return;

    Listener listener(state, limits);
    std::vector<uint8_t> buffer(limits.datagram_buffer);
    size_t datagrams = 0;
    auto deadline = Clock::now() + limits.announce_time;
    while (!state.cancelled() && datagrams < limits.max_announce_datagrams) {
        auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        std::vector<os::probe::Watch> watches;
        for (auto const& prober : probers)
            watches.push_back({ prober.socket.get(), true, false });
        auto ready = os::probe::wait_any(watches, static_cast<int>(std::min(left, limits.wait_step).count()));
        if (!ready.ok())
            break;
        for (size_t i = 0; i < probers.size() && datagrams < limits.max_announce_datagrams; ++i) {
            if (!watches[i].readable)
                continue;
            // Drain what is waiting on this socket, within the datagram limit.
            while (datagrams < limits.max_announce_datagrams) {
                auto received = os::probe::receive_from(probers[i].socket.get(), buffer);
                if (!received.ok() || !received.value())
                    break;
                auto const& datagram = *received.value();
                ++datagrams;
                if (datagram.truncated || !state.networks.is_local(datagram.source))
                    continue;
                std::span<uint8_t const> bytes(buffer.data(), datagram.length);
                if (datagram.source_port == dns::mdns_port)
                    listener.dns_answer(probers[i], datagram, bytes);
                else
                    listener.wsd_answer(probers[i], datagram, bytes);
            }
        }
    }
}

} // namespace tillbay::discovery

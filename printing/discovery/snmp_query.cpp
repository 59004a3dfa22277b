#include "printing/discovery/snmp_query.h"

#include "os/crypto.h"
#include "os/discovery_socket.h"
#include "printing/discovery/snmp_message.h"

#include <array>
#include <set>
#include <vector>

namespace tillbay::discovery {

namespace {

uint32_t new_request_id()
{
    std::array<uint8_t, 4> bytes {};
    uint32_t id = 0;
    if (os::random_bytes(bytes))
        id = (uint32_t { bytes[0] } << 24) | (uint32_t { bytes[1] } << 16) | (uint32_t { bytes[2] } << 8) | bytes[3];
    else
        id = static_cast<uint32_t>(Clock::now().time_since_epoch().count());
    return (id & 0x3FFFFFFF) | 1;
}

} // namespace

void run_snmp_query(SearchState& state, SearchLimits const& limits)
{
    if (state.candidates.size() == 0)
        return;
    auto socket = os::probe::open_udp(0, os::probe::Multicast::No);
    if (!socket.ok())
        return;
    uint32_t request_id = new_request_id();
    auto request = snmp::sysdescr_request(request_id);
    for (auto const& candidate : state.candidates.all())
        (void)os::probe::send_to(socket.value().get(), candidate.address, snmp::port, request);

    std::vector<uint8_t> buffer(snmp::max_message);
    size_t datagrams = 0;
    std::set<uint32_t> answered;
    auto deadline = Clock::now() + limits.snmp_time;
    // Until every candidate has answered, or the time is up.
    while (!state.cancelled() && datagrams < limits.max_snmp_datagrams && answered.size() < state.candidates.size()) {
        auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        std::array<os::probe::Watch, 1> watch { { { socket.value().get(), true, false } } };
        if (!os::probe::wait_any(watch, static_cast<int>(std::min(left, limits.wait_step).count())).ok())
            break;
        while (datagrams < limits.max_snmp_datagrams) {
            auto received = os::probe::receive_from(socket.value().get(), buffer);
            if (!received.ok() || !received.value())
                break;
            auto const& datagram = *received.value();
            ++datagrams;
            if (datagram.truncated || datagram.source_port != snmp::port)
                continue;
            Candidate* candidate = state.candidates.find(datagram.source);
            if (!candidate)
                continue;
            auto description = snmp::read_sysdescr(std::span(buffer.data(), datagram.length), request_id);
            if (!description.ok())
                continue;
            answered.insert(candidate->address);
            state.candidates.add_evidence(*candidate, Snmp);
            state.candidates.set_snmp_name(*candidate, description.value());
            state.notify();
        }
    }
}

} // namespace tillbay::discovery

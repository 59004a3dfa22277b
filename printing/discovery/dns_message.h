#pragma once

// Multicast DNS service discovery for printers: the queries the search sends
// and the reader of the answers. Answers come from anyone on the LAN, so the
// reader trusts nothing: every length is checked against the datagram,
// names follow the DNS rules (labels of at most 63 bytes, names of at most
// 255, compression pointers only backwards and at most max_pointer_hops of
// them), and a malformed record ends the reading of the datagram with the
// records read so far.

#include "base/result.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tillbay::discovery::dns {

inline constexpr size_t min_message = 12;
inline constexpr size_t max_message = 9000;
inline constexpr int max_questions = 32;
inline constexpr int max_records = 128; // answer, authority and additional together
inline constexpr size_t max_label = 63;
inline constexpr size_t max_name = 255;
inline constexpr int max_pointer_hops = 32;

inline constexpr uint16_t mdns_port = 5353;
inline constexpr uint32_t mdns_group = 0xE00000FB; // 224.0.0.251

// A domain name as its labels, "Printer._ipp._tcp.local" as four of them.
using Name = std::vector<std::string>;

// The query for the four printer service types (PTR, class IN).
std::vector<uint8_t> printer_query(uint16_t id);
// The follow-up for one service instance (type ANY, class IN).
std::vector<uint8_t> instance_query(uint16_t id, Name const& instance);

// One printer service found in an answer.
struct Service {
    Name instance;             // "<instance>.<service>._tcp.local"
    std::string display_name;  // the TXT "ty=" value, else the instance label; cleaned for display
    uint32_t address = 0;      // from an A record for the SRV target; 0 when the answer has none
    uint16_t port = 0;
};

struct Answer {
    std::vector<Service> services;
    // Instances named by PTR records for the four service types, to ask
    // about when the answer did not carry their SRV record.
    std::vector<Name> instances;
};

enum class ReadError {
    Size = 1,
    NotOurs,        // another id, not a response, or an error code
    TooManyEntries, // more questions or records than the limits
};

// Reads one answer to a query sent with expected_id. The error's code is a
// ReadError.
Result<Answer> read_answer(std::span<uint8_t const> message, uint16_t expected_id);

// True when the names are equal, ignoring the letter case of ASCII letters.
bool same_name(Name const& a, Name const& b);

} // namespace tillbay::discovery::dns

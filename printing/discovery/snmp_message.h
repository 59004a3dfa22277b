#pragma once

// The SNMP version 1 request for a host's system description (sysDescr.0,
// community "public") and the reader of its answer. The reader walks the BER
// encoding with every length checked against what encloses it; it accepts
// only the answer to our request id with no error and the sysDescr value as
// an octet string.

#include "base/result.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tillbay::discovery::snmp {

inline constexpr uint16_t port = 161;
inline constexpr size_t max_message = 1500;

// The GetRequest for sysDescr.0; request_id is written as four bytes, so it
// must lie in 0..0x3FFFFFFF.
std::vector<uint8_t> sysdescr_request(uint32_t request_id);

// The description text (cleaned for display) from an answer to the request
// with request_id.
Result<std::string> read_sysdescr(std::span<uint8_t const> message, uint32_t request_id);

} // namespace tillbay::discovery::snmp

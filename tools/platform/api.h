#pragma once

#include "tools/platform/net.h"
#include "tools/platform/platform.h"

#include <optional>
#include <string>
#include <string_view>

namespace tillbay::platform {

// An envelope larger than this is refused; the POS never sends more than 64 KiB.
constexpr size_t k_envelope_limit = 256 * 1024;
// The whole envelope must arrive within this time after the connection opens.
constexpr int k_envelope_wait_ms = 15000;

// Serves one API connection: one envelope in, one answer out, then closed.
void serve_api_connection(Platform& platform, Conn& conn);

// The answer for one complete envelope text (exposed for tests and fuzzing).
// Empty when the connection should just be closed.
// `fault` receives the fault injected for this request, if any.
std::string answer_envelope(Platform& platform, std::string_view envelope, std::optional<Fault>& fault);

// Where the first complete JSON object of the buffer ends (one past its '}'),
// 0 when it is not complete yet, npos when the text cannot be an object.
size_t json_object_end(std::string_view buffer);

} // namespace tillbay::platform

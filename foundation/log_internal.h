#pragma once

// Pieces of the diagnostic logs that the log itself, its tests, the fuzz
// targets and the benchmark share. Nothing outside foundation/ and tests/
// should include this header.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tillbay::log::detail {

// The version of the scrubbing rules. Old logs are scrubbed again whenever the
// version stored in "logscrub.ver" differs from it.
inline constexpr std::string_view scrub_rules_version = "7";

// Limits of the bridge log.
inline constexpr size_t bridge_message_limit = 300;
inline constexpr uint64_t bridge_run_cap = 524'288;
inline constexpr long long bridge_rotate_size = 1'572'864;
inline constexpr size_t rescrub_max_file = 16'777'216;

// Limits of the transport log.
inline constexpr size_t transport_message_limit = 599;
inline constexpr uint64_t transport_run_cap = 524'288;
inline constexpr long long transport_rotate_size = 524'288;

struct RescrubbedText {
    std::string content;
    int changed_lines = 0;
};

// Scrubs every line of a bridge log's content again: the text after the time
// and the tag is run through scrub(); lines that change keep their own prefix
// and line end. Lines without two blanks stay as they are.
RescrubbedText rescrub_text(std::string_view content);

struct RescrubbedFile {
    bool ok = false;
    int changed_lines = 0;
};

// Rescrubs one log file in place. A missing file is a success with 0 lines; a
// file that cannot be read, is larger than rescrub_max_file or cannot be
// replaced is a failure, and the file then stays as it was.
RescrubbedFile rescrub_file(std::string const& path);

} // namespace tillbay::log::detail

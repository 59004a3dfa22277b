#pragma once

// The last order list the board fetched, kept per store in the per-user
// folder ("board-<storeidx>.json", readable by its owner only), so that
// during an outage of the platform, even after a restart, the board can
// still show what it last knew, marked with the time it was fetched.
//
// The file is the fetch time in milliseconds since the epoch, a line end,
// and the list text exactly as the server sent it.

#include "base/result.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::orders {

// Lists above this size are not kept (and a larger file counts as missing).
inline constexpr size_t max_kept_board = 8 * 1024 * 1024;

struct KeptBoard {
    std::string list_text;
    int64_t fetched_at_ms = 0;
};

// Empty when there is no per-user folder or the store number is not positive.
std::string kept_board_path(int storeidx);
Status keep_board(int storeidx, std::string_view list_text, int64_t fetched_at_ms);
std::optional<KeptBoard> read_kept_board(int storeidx);

} // namespace tillbay::orders

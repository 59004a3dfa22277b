#include "orders/kept_board.h"

#include "foundation/paths.h"
#include "os/fs.h"

#include <charconv>

namespace tillbay::orders {

std::string kept_board_path(int storeidx)
{
    if (storeidx <= 0)
        return {};
    auto dir = paths::user_dir();
    if (dir.empty())
        return {};
    return dir + "board-" + std::to_string(storeidx) + ".json";
}

Status keep_board(int storeidx, std::string_view list_text, int64_t fetched_at_ms)
{
    auto path = kept_board_path(storeidx);
    if (path.empty())
        return Error::from_detail("no per-user folder to keep the board in");
    if (list_text.size() > max_kept_board)
        return Error::from_detail("the list is too large to keep");
    std::string content = std::to_string(fetched_at_ms) + "\n";
    content.append(list_text);
    return os::write_file_atomic(path, content);
}

std::optional<KeptBoard> read_kept_board(int storeidx)
{
    auto path = kept_board_path(storeidx);
    if (path.empty())
        return std::nullopt;
    auto content = os::read_file(path, max_kept_board + 32);
    if (!content.ok())
        return std::nullopt;
    std::string const& text = content.value();
    auto line_end = text.find('\n');
    if (line_end == std::string::npos || line_end == 0 || line_end > 20)
        return std::nullopt;
    KeptBoard kept;
    auto [end, error] = std::from_chars(text.data(), text.data() + line_end, kept.fetched_at_ms);
    if (error != std::errc() || end != text.data() + line_end || kept.fetched_at_ms <= 0)
        return std::nullopt;
    kept.list_text = text.substr(line_end + 1);
    if (kept.list_text.empty())
        return std::nullopt;
    return kept;
}

} // namespace tillbay::orders

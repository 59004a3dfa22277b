#include "foundation/user_files.h"

#include "base/ascii.h"
#include "foundation/json_text.h"
#include "foundation/paths.h"
#include "os/fs.h"

namespace tillbay::userfiles {

namespace {

constexpr size_t k_font_sizes_read_bytes = 31;
constexpr size_t k_word_read_bytes = 15;

std::string numbered_name(char const* prefix, int storeidx)
{
    return std::string(prefix) + "-" + std::to_string(storeidx) + ".json";
}

// The first bytes of a per-user file; empty when it is missing or unreadable.
std::string read_start(std::string_view name, size_t max_bytes)
{
    auto path = paths::user_file(name);
    if (path.empty())
        return {};
    auto content = os::read_prefix(path, max_bytes);
    return content.ok() ? content.release_value() : std::string {};
}

Status replace(std::string const& path, std::string_view content, char const* failure_message)
{
    if (path.empty())
        return Error::with_message(failure_message, "no per-user folder and no program folder");
    auto written = os::write_file_atomic(path, content);
    if (!written.ok())
        return Error::with_message(failure_message, written.error().detail, written.error().code);
    return {};
}

} // namespace

std::string read_font_sizes()
{
    auto text = read_start("fontsize.txt", k_font_sizes_read_bytes);
    return text.empty() ? std::string(k_default_font_sizes) : text;
}

Status write_font_sizes(std::string_view text)
{
    std::string kept;
    for (char c : text) {
        if (kept.size() == k_max_font_sizes)
            break;
        if ((c >= '0' && c <= '9') || c == ',')
            kept.push_back(c);
    }
    if (kept.empty())
        return {};
    return replace(paths::user_file("fontsize.txt"), kept, "글자 크기를 저장하지 못했습니다");
}

bool read_fullscreen() { return read_start("fullscreen.txt", 1) == "1"; }

Status write_fullscreen(bool on)
{
    // Nobody is told when this fails: the window simply starts in window
    // mode next time. The error carries only the detail for the log.
    auto path = paths::user_file("fullscreen.txt");
    if (path.empty())
        return Error::from_detail("no per-user folder and no program folder");
    return os::write_file_atomic(path, on ? "1" : "0");
}

bool read_theme_dark() { return read_start("theme.txt", k_word_read_bytes).starts_with("dark"); }

Status write_theme(bool dark)
{
    return replace(paths::user_file("theme.txt"), dark ? "dark" : "light", "화면 밝기를 저장하지 못했습니다");
}

bool read_sound_on() { return !ascii::starts_with_ignoring_case(read_start("sound.txt", k_word_read_bytes), "off"); }

Status write_sound(bool on)
{
    return replace(paths::user_file("sound.txt"), on ? "on" : "off", "알림음 설정을 저장하지 못했습니다");
}

std::string layout_path(int storeidx) { return paths::user_file(numbered_name("layout", storeidx), "layout.json"); }

std::string history_path(int storeidx) { return paths::user_file(numbered_name("history", storeidx), "history.json"); }

std::optional<std::string> read_layout(int storeidx)
{
    auto path = layout_path(storeidx);
    if (path.empty())
        return std::nullopt;
    if (!os::file_exists(path)) {
        // Layouts were once shared by every store; the first store to ask
        // after the change takes the old file over as its own. It is moved,
        // not copied, so that it is taken over once: a layout the user later
        // deletes stays deleted.
        auto shared = paths::user_file("layout.json");
        if (!shared.empty() && shared != path && os::file_exists(shared)) {
            auto old = os::read_file(shared, k_max_layout_bytes);
            if (old.ok() && !old.value().empty())
                (void)os::rename_file(shared, path);
        }
    }
    auto content = os::read_file(path, k_max_layout_bytes);
    if (!content.ok() || content.value().empty())
        return std::nullopt;
    return content.release_value();
}

Status save_layout(int storeidx, std::string_view text)
{
    auto path = layout_path(storeidx);
    if (text.empty()) {
        if (path.empty())
            return Error::with_message("배치를 저장하지 못했습니다", "no per-user folder and no program folder");
        auto removed = os::remove_file(path);
        if (!removed.ok())
            return Error::with_message("배치를 저장하지 못했습니다", removed.error().detail, removed.error().code);
        return {};
    }
    return replace(path, text, "배치를 저장하지 못했습니다");
}

std::string history_argument(int storeidx)
{
    auto path = history_path(storeidx);
    if (!path.empty()) {
        auto content = os::read_file(path, k_history_limit_bytes - 1);
        if (content.ok() && !content.value().empty())
            return json::quote(content.value());
    }
    return "''";
}

std::string history_callback(int storeidx) { return "window.setHistory&&setHistory(" + history_argument(storeidx) + ")"; }

Status save_history(int storeidx, std::string_view text)
{
    if (text.empty())
        return {};
    return replace(history_path(storeidx), text, "영수증 이력을 저장하지 못했습니다");
}

void remove_merchant_file()
{
    auto path = paths::user_file("merchant.txt");
    if (!path.empty())
        (void)os::remove_file(path);
}

} // namespace tillbay::userfiles

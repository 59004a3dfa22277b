#pragma once

// The small per-user preference files in the per-user folder (or next to
// the executable when there is none): font sizes, full screen, theme, alert
// sound, the screen layout and the receipt history of each store, and the
// old owner file that is only ever deleted. Files are compared and copied as
// bytes. A file that cannot be read counts as missing; every write replaces
// the file through a temporary name, so a failed write keeps the old one.

#include "base/result.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tillbay::userfiles {

inline constexpr std::string_view k_default_font_sizes = "100,100,100";
inline constexpr size_t k_max_font_sizes = 24;
// Layout files of 1 to this many bytes are read; others count as missing.
inline constexpr size_t k_max_layout_bytes = 262143;
// History files below this size are answered; larger ones count as missing.
inline constexpr size_t k_history_limit_bytes = 4194304;

// "fontsize.txt": the first 31 bytes, or the default when missing or empty.
std::string read_font_sizes();
// Keeps only the digits and commas of the text, at most 24 of them, and
// writes them when any are left (nothing left writes nothing and succeeds).
// Failure: "글자 크기를 저장하지 못했습니다".
Status write_font_sizes(std::string_view text);

// "fullscreen.txt": true when its first byte is "1".
bool read_fullscreen();
// Writes "1" or "0". The caller skips a failure silently.
Status write_fullscreen(bool on);

// "theme.txt": dark only when the first 15 bytes begin with "dark".
bool read_theme_dark();
// Writes "dark" or "light". Failure: "화면 밝기를 저장하지 못했습니다".
Status write_theme(bool dark);

// "sound.txt": off only when the first 15 bytes begin with "off", in any
// letter case, for the settings page and the alert sound alike.
bool read_sound_on();
// Writes "on" or "off". Failure: "알림음 설정을 저장하지 못했습니다".
Status write_sound(bool on);

// The store's layout file, "layout-<storeidx>.json" ("layout.json" without a
// per-user folder). When the store has no file yet and the older shared
// "layout.json" of the per-user folder exists, it becomes the store's file
// (it is moved, so it is taken over once and a deleted layout stays
// deleted). Nothing when there is no readable file of 1 to 262,143 bytes.
std::optional<std::string> read_layout(int storeidx);
// Replaces the store's layout file with the text; an empty text deletes it.
// Failure: "배치를 저장하지 못했습니다".
Status save_layout(int storeidx, std::string_view text);

// The page callback answering "gethist": the store's history file as a JSON
// string when it holds 1 byte to less than 4 MiB, else an empty text.
std::string history_callback(int storeidx);
// The same answer's argument alone: the JSON string, or '' for no history.
std::string history_argument(int storeidx);
// Replaces the store's history file with the text (temporary file, flushed,
// moved over). An empty text does nothing. Failure: "영수증 이력을 저장하지
// 못했습니다", with the old file kept.
Status save_history(int storeidx, std::string_view text);

// Deletes "merchant.txt", the old owner file; a missing file is fine.
void remove_merchant_file();

// The paths, for the commands that report or copy them.
std::string layout_path(int storeidx);
std::string history_path(int storeidx);

} // namespace tillbay::userfiles

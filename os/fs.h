#pragma once

// File helpers with the errno kept. Every write that must survive a crash goes
// through write_file_atomic: a temporary file, flushed, then renamed over the
// target, so a failed write never damages the previous file.

#include "base/result.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace tillbay::os {

// Reads a whole file; fails when it is missing, unreadable or larger than max_size.
Result<std::string> read_file(std::string const& path, size_t max_size);
// Reads at most max_bytes from the start of a file.
Result<std::string> read_prefix(std::string const& path, size_t max_bytes);

bool file_exists(std::string const& path);
// -1 when the file cannot be examined.
long long file_size(std::string const& path);

// Files the program creates are readable by their owner only: the settings
// file holds keys and the PIN hash, the per-user files orders and logs.
inline constexpr unsigned private_file_mode = 0600;
inline constexpr unsigned private_dir_mode = 0700;

// Writes path + temp_suffix, flushes it to disk, renames it over path; on any
// failure the temporary file is removed and the old file stays as it was.
// A symbolic link is written through to the file it points to. An existing
// file keeps its mode and owner; a new one gets private_file_mode.
Status write_file_atomic(std::string const& path, std::string_view content, std::string_view temp_suffix = ".tmp");

// Replaces the file in place (truncate and write), for the few files the
// program rewrites without a temporary name. A new file is private.
Status write_file(std::string const& path, std::string_view content);

// Appends in one write() call (O_APPEND), so lines from several threads never
// interleave. A new file is private.
Status append_file(std::string const& path, std::string_view content);

Status rename_file(std::string const& from, std::string const& to);
Status remove_file(std::string const& path);
// Creates the folder with the mode when missing; an existing folder is
// success and keeps its mode.
Status make_dir(std::string const& path, unsigned mode = 0755);

} // namespace tillbay::os

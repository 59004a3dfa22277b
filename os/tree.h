#pragma once

// Folder trees that must never be left through a symbolic link: release and
// staging folders of the UI bundle store. Every path below a root is opened
// one component at a time with O_NOFOLLOW, so a link planted inside a folder
// can neither be read through nor make a deletion reach outside it.

#include "base/result.h"

#include <string>
#include <string_view>
#include <vector>

namespace tillbay::os::tree {

enum class Kind {
    Missing,
    File,
    Directory,
    Link,
    Other,
};

// What the path itself is (lstat: a link is reported as a link).
Kind kind_of(std::string const& path);

struct Entry {
    std::string name;
    Kind kind = Kind::Other;
};
// The entries of a real folder (not a link), without "." and "..".
Result<std::vector<Entry>> list(std::string const& dir);

// True when rel below root is a regular file reached without any link.
bool file_beneath(std::string const& root, std::string_view rel);

// SHA-256 (64 lower-case hexadecimal digits) of the regular file rel below root
// ("a/b.css"), reached without following any link.
Result<std::string> sha256_beneath(std::string const& root, std::string_view rel);

// The regular file rel below root, reached without following any link, read
// whole; fails when it is larger than max_size.
Result<std::string> read_beneath(std::string const& root, std::string_view rel, size_t max_size);

// Copies the regular file rel below src_root to dst_file (created or
// truncated, never through a link), flushes it, and returns the SHA-256 of the
// bytes copied.
Result<std::string> copy_hashing(std::string const& src_root, std::string_view rel, std::string const& dst_file);

// Creates the folders of rel_dir ("a/b") below root, refusing links.
Status make_dirs_beneath(std::string const& root, std::string_view rel_dir);

// Removes everything inside dir, never following links (a link is removed
// itself), except the top-level entry named keep (empty: keep nothing). The
// folder itself stays. A dir that is a link is refused.
Status clear_dir(std::string const& dir, std::string_view keep = {});

// Removes dir and everything inside it; a dir that is a link is refused.
Status remove_dir_tree(std::string const& dir);

// Creates a new file (failing when it exists), writes it and flushes it.
Status write_new_synced(std::string const& path, std::string_view content);

// Writes temp, flushes it, moves it over path and flushes the folder.
Status replace_synced(std::string const& path, std::string const& temp, std::string_view content);

// Opens an existing regular file for writing and flushes it to disk.
Status sync_file(std::string const& path);
Status sync_dir(std::string const& dir);

// Renames a folder to a name that must not exist yet, then flushes the parent.
Status rename_dir_noreplace(std::string const& from, std::string const& to);

} // namespace tillbay::os::tree

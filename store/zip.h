#pragma once

// A ZIP archive of stored (uncompressed) entries, in the plain layout of
// PKWARE's APPNOTE: local headers with their data, the central directory and
// the end record. No ZIP64: the archive and each entry stay below 4 GiB.

#include "base/result.h"

#include <string>
#include <string_view>
#include <vector>

namespace tillbay::store {

struct ZipEntry {
    std::string_view name; // ASCII path inside the archive, "/" between folders
    std::string_view data;
};

// The archive, entries in the order given, every one dated 1980-01-01 00:00.
// Fails (detail only) when a name is empty or longer than 65,535 bytes, or
// when the archive would need ZIP64.
Result<std::string> write_zip(std::vector<ZipEntry> const& entries);

} // namespace tillbay::store

#pragma once

// A ZIP archive of stored (uncompressed) entries, in the plain layout of
// PKWARE's APPNOTE: local headers with their data, the central directory and
// the end record. No ZIP64: the archive and each entry stay below 4 GiB.
// Every entry is dated 1980-01-01 00:00.

#include "base/result.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tillbay::store {

// Builds the archive in one buffer. An entry's data may be given whole
// (add) or written straight into the archive (begin_entry, append to the
// buffer it returns, end_entry), so a large part is never copied.
class ZipWriter {
public:
    // Fails (detail only) when the name is empty or longer than 65,535 bytes.
    Status add(std::string_view name, std::string_view data);

    std::string& begin_entry(std::string_view name);
    // The entry is what was appended since begin_entry.
    Status end_entry();

    // The archive; fails when it would need ZIP64 or an entry failed.
    Result<std::string> finish();

private:
    struct Record {
        std::string name;
        uint32_t crc = 0;
        uint32_t size = 0;
        uint32_t offset = 0;
    };

    std::string m_out;
    std::vector<Record> m_records;
    size_t m_open_data = 0; // where the open entry's data starts
    bool m_failed = false;
};

struct ZipEntry {
    std::string_view name; // ASCII path inside the archive, "/" between folders
    std::string_view data;
};

// The archive of the entries, in the order given.
Result<std::string> write_zip(std::vector<ZipEntry> const& entries);

} // namespace tillbay::store

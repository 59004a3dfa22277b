#include "store/zip.h"

#include <cstdint>
#include <limits>
#include <zlib.h>

namespace tillbay::store {

namespace {

constexpr uint16_t version_needed = 20;
constexpr uint16_t dos_time = 0;
constexpr uint16_t dos_date = (0 << 9) | (1 << 5) | 1; // 1980-01-01
constexpr uint32_t max_size = std::numeric_limits<uint32_t>::max() - 1;

void put16(std::string& out, uint16_t value)
{
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}

void put32(std::string& out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

uint32_t crc_of(std::string_view data)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes the length as a 32-bit count; feed it in pieces.
    constexpr size_t piece = 1u << 30;
    for (size_t i = 0; i < data.size(); i += piece) {
        size_t length = std::min(piece, data.size() - i);
        crc = crc32(crc, reinterpret_cast<Bytef const*>(data.data() + i), static_cast<uInt>(length));
    }
    return static_cast<uint32_t>(crc);
}

// The fields a local header and its central directory record share.
void put_common(std::string& out, ZipEntry const& entry, uint32_t crc)
{
    put16(out, version_needed);
    put16(out, 0); // flags
    put16(out, 0); // method: stored
    put16(out, dos_time);
    put16(out, dos_date);
    put32(out, crc);
    put32(out, static_cast<uint32_t>(entry.data.size())); // compressed size
    put32(out, static_cast<uint32_t>(entry.data.size())); // uncompressed size
    put16(out, static_cast<uint16_t>(entry.name.size()));
    put16(out, 0); // extra field length
}

} // namespace

Result<std::string> write_zip(std::vector<ZipEntry> const& entries)
{
    if (entries.size() > std::numeric_limits<uint16_t>::max())
        return Error::from_detail("zip: too many entries");
    size_t total = 22;
    for (auto const& entry : entries) {
        if (entry.name.empty() || entry.name.size() > std::numeric_limits<uint16_t>::max())
            return Error::from_detail("zip: bad entry name");
        total += 30 + 46 + 2 * entry.name.size() + entry.data.size();
        if (entry.data.size() > max_size || total > max_size)
            return Error::from_detail("zip: archive larger than 4 GiB");
    }

    std::string out;
    out.reserve(total);
    std::vector<uint32_t> crcs;
    std::vector<uint32_t> offsets;
    for (auto const& entry : entries) {
        offsets.push_back(static_cast<uint32_t>(out.size()));
        crcs.push_back(crc_of(entry.data));
        put32(out, 0x04034b50);
        put_common(out, entry, crcs.back());
        out.append(entry.name);
        out.append(entry.data);
    }
    auto directory_offset = static_cast<uint32_t>(out.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        put32(out, 0x02014b50);
        put16(out, version_needed); // version made by: MS-DOS attributes, 2.0
        put_common(out, entries[i], crcs[i]);
        put16(out, 0); // comment length
        put16(out, 0); // disk number
        put16(out, 0); // internal attributes
        put32(out, 0); // external attributes
        put32(out, offsets[i]);
        out.append(entries[i].name);
    }
    auto directory_size = static_cast<uint32_t>(out.size() - directory_offset);
    put32(out, 0x06054b50);
    put16(out, 0); // this disk
    put16(out, 0); // disk with the directory
    put16(out, static_cast<uint16_t>(entries.size()));
    put16(out, static_cast<uint16_t>(entries.size()));
    put32(out, directory_size);
    put32(out, directory_offset);
    put16(out, 0); // comment length
    return out;
}

} // namespace tillbay::store

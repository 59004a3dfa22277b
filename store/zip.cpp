#include "store/zip.h"

#include <algorithm>
#include <limits>
#include <zlib.h>

namespace tillbay::store {

namespace {

constexpr uint16_t version_needed = 20;
constexpr uint16_t dos_time = 0;
constexpr uint16_t dos_date = (0 << 9) | (1 << 5) | 1; // 1980-01-01
constexpr size_t max_offset = std::numeric_limits<uint32_t>::max() - 1;

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

void patch32(std::string& out, size_t at, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out[at++] = static_cast<char>((value >> shift) & 0xFF);
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

// The fields a local header and its central directory record share, from
// the version needed to the extra field's length.
void put_common(std::string& out, uint32_t crc, uint32_t size, size_t name_length)
{
    put16(out, version_needed);
    put16(out, 0); // flags
    put16(out, 0); // method: stored
    put16(out, dos_time);
    put16(out, dos_date);
    put32(out, crc);
    put32(out, size); // compressed size
    put32(out, size); // uncompressed size
    put16(out, static_cast<uint16_t>(name_length));
    put16(out, 0); // extra field length
}

bool valid_name(std::string_view name) { return !name.empty() && name.size() <= std::numeric_limits<uint16_t>::max(); }

} // namespace

Status ZipWriter::add(std::string_view name, std::string_view data)
{
    begin_entry(name).append(data);
    return end_entry();
}

std::string& ZipWriter::begin_entry(std::string_view name)
{
    if (!valid_name(name))
        m_failed = true;
    m_records.push_back({ std::string(name), 0, 0, static_cast<uint32_t>(std::min(m_out.size(), max_offset)) });
    put32(m_out, 0x04034b50);
    put_common(m_out, 0, 0, name.size()); // CRC and sizes follow in end_entry
    m_out.append(name);
    m_open_data = m_out.size();
    return m_out;
}

Status ZipWriter::end_entry()
{
    auto& record = m_records.back();
    size_t size = m_out.size() - m_open_data;
    if (m_failed || m_out.size() > max_offset) {
        m_failed = true;
        return Error::from_detail("zip: bad entry name or archive larger than 4 GiB");
    }
    record.size = static_cast<uint32_t>(size);
    record.crc = crc_of(std::string_view(m_out).substr(m_open_data, size));
    size_t header = record.offset;
    patch32(m_out, header + 14, record.crc);
    patch32(m_out, header + 18, record.size);
    patch32(m_out, header + 22, record.size);
    return {};
}

Result<std::string> ZipWriter::finish()
{
    if (m_failed || m_records.size() > std::numeric_limits<uint16_t>::max())
        return Error::from_detail("zip: bad entry name, too many entries or archive larger than 4 GiB");
    auto directory_offset = m_out.size();
    for (auto const& record : m_records) {
        put32(m_out, 0x02014b50);
        put16(m_out, version_needed); // version made by: MS-DOS attributes, 2.0
        put_common(m_out, record.crc, record.size, record.name.size());
        put16(m_out, 0); // comment length
        put16(m_out, 0); // disk number
        put16(m_out, 0); // internal attributes
        put32(m_out, 0); // external attributes
        put32(m_out, record.offset);
        m_out.append(record.name);
    }
    auto directory_size = m_out.size() - directory_offset;
    if (m_out.size() + 22 > max_offset)
        return Error::from_detail("zip: archive larger than 4 GiB");
    put32(m_out, 0x06054b50);
    put16(m_out, 0); // this disk
    put16(m_out, 0); // disk with the directory
    put16(m_out, static_cast<uint16_t>(m_records.size()));
    put16(m_out, static_cast<uint16_t>(m_records.size()));
    put32(m_out, static_cast<uint32_t>(directory_size));
    put32(m_out, static_cast<uint32_t>(directory_offset));
    put16(m_out, 0); // comment length
    return std::move(m_out);
}

Result<std::string> write_zip(std::vector<ZipEntry> const& entries)
{
    ZipWriter zip;
    for (auto const& entry : entries)
        (void)zip.add(entry.name, entry.data);
    return zip.finish();
}

} // namespace tillbay::store

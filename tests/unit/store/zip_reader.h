#pragma once

// A strict reader of the archives write_zip makes, for the tests: it walks
// the central directory from the end record and checks every local header
// against it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tillbay::test {

struct ZipPart {
    std::string name;
    std::string data;
    uint32_t crc = 0;
    uint16_t method = 0xFFFF;
    uint16_t flags = 0xFFFF;
    uint16_t time = 0xFFFF;
    uint16_t date = 0xFFFF;
    uint16_t version_needed = 0;
};

inline uint32_t le(std::string_view bytes, size_t at, int width)
{
    uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<size_t>(i)]);
    return value;
}

inline std::optional<std::vector<ZipPart>> read_zip(std::string_view zip)
{
    if (zip.size() < 22 || le(zip, zip.size() - 22, 4) != 0x06054b50)
        return std::nullopt;
    size_t end = zip.size() - 22;
    uint32_t count = le(zip, end + 10, 2);
    uint32_t directory_size = le(zip, end + 12, 4);
    size_t at = le(zip, end + 16, 4);
    if (at + directory_size != end || le(zip, end + 8, 2) != count)
        return std::nullopt;
    std::vector<ZipPart> parts;
    for (uint32_t i = 0; i < count; ++i) {
        if (at + 46 > end || le(zip, at, 4) != 0x02014b50)
            return std::nullopt;
        uint32_t name_length = le(zip, at + 28, 2);
        uint32_t size = le(zip, at + 24, 4);
        uint32_t local = le(zip, at + 42, 4);
        if (le(zip, at + 20, 4) != size || le(zip, at + 30, 2) != 0 || le(zip, at + 32, 2) != 0)
            return std::nullopt;
        ZipPart part;
        part.name = std::string(zip.substr(at + 46, name_length));
        part.crc = le(zip, at + 16, 4);
        // The local header must repeat what the directory says.
        if (local + 30 > zip.size() || le(zip, local, 4) != 0x04034b50
            || zip.substr(local + 6, 20) != zip.substr(at + 8, 20) || le(zip, local + 28, 2) != 0
            || zip.substr(local + 30, name_length) != part.name)
            return std::nullopt;
        part.version_needed = static_cast<uint16_t>(le(zip, local + 4, 2));
        part.flags = static_cast<uint16_t>(le(zip, local + 6, 2));
        part.method = static_cast<uint16_t>(le(zip, local + 8, 2));
        part.time = static_cast<uint16_t>(le(zip, local + 10, 2));
        part.date = static_cast<uint16_t>(le(zip, local + 12, 2));
        size_t data = local + 30 + name_length;
        if (data + size > at)
            return std::nullopt;
        part.data = std::string(zip.substr(data, size));
        parts.push_back(std::move(part));
        at += 46 + name_length;
    }
    return parts;
}

} // namespace tillbay::test

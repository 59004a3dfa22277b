#include "printing/discovery/dns_message.h"

#include "base/ascii.h"
#include "printing/discovery/display_text.h"

#include <array>
#include <optional>
#include <string_view>

namespace tillbay::discovery::dns {

namespace {

constexpr uint16_t type_a = 1;
constexpr uint16_t type_ptr = 12;
constexpr uint16_t type_txt = 16;
constexpr uint16_t type_srv = 33;
constexpr uint16_t type_any = 255;
constexpr uint16_t class_in = 1;
constexpr size_t min_srv_data = 7;

constexpr std::array<std::string_view, 4> service_labels = { "_pdl-datastream", "_ipp", "_ipps", "_printer" };

void put16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value & 0xFF));
}

void put_header(std::vector<uint8_t>& out, uint16_t id, uint16_t questions)
{
    put16(out, id);
    put16(out, 0); // a standard query
    put16(out, questions);
    put16(out, 0);
    put16(out, 0);
    put16(out, 0);
}

void put_name(std::vector<uint8_t>& out, Name const& name)
{
    for (auto const& label : name) {
        size_t length = std::min(label.size(), max_label);
        out.push_back(static_cast<uint8_t>(length));
        out.insert(out.end(), label.begin(), label.begin() + static_cast<std::ptrdiff_t>(length));
    }
    out.push_back(0);
}

// True for "<service>._tcp.local" with one of the four printer services.
bool is_service_type(Name const& name, size_t first)
{
    if (name.size() != first + 3)
        return false;
    if (!ascii::equals_ignoring_case(name[first + 1], "_tcp") || !ascii::equals_ignoring_case(name[first + 2], "local"))
        return false;
    for (auto service : service_labels)
        if (ascii::equals_ignoring_case(name[first], service))
            return true;
    return false;
}

bool is_instance_name(Name const& name) { return name.size() == 4 && is_service_type(name, 1); }

class Reader {
public:
    explicit Reader(std::span<uint8_t const> message)
        : m_message(message)
    {
    }

    std::optional<uint16_t> u16(size_t at) const
    {
        if (at + 2 > m_message.size())
            return std::nullopt;
        return static_cast<uint16_t>((m_message[at] << 8) | m_message[at + 1]);
    }
    std::optional<uint32_t> u32(size_t at) const
    {
        auto high = u16(at), low = u16(at + 2);
        if (!high || !low)
            return std::nullopt;
        return (static_cast<uint32_t>(*high) << 16) | *low;
    }

    // Reads the name at offset; end becomes the offset after the name's
    // bytes in place (after its first pointer, if any).
    std::optional<Name> name(size_t offset, size_t& end) const
    {
        Name labels;
        size_t wire_length = 1;
        size_t at = offset;
        std::optional<size_t> after;
        int hops = 0;
        while (true) {
            if (at >= m_message.size())
                return std::nullopt;
            uint8_t length = m_message[at];
            if ((length & 0xC0) == 0xC0) {
                if (at + 1 >= m_message.size() || ++hops > max_pointer_hops)
                    return std::nullopt;
                size_t target = static_cast<size_t>(((length & 0x3F) << 8) | m_message[at + 1]);
                // Only backwards: a pointer to itself or ahead could loop.
                if (target >= at)
                    return std::nullopt;
                if (!after)
                    after = at + 2;
                at = target;
                continue;
            }
            if (length & 0xC0)
                return std::nullopt; // extended label types are not used here
            if (length == 0) {
                end = after.value_or(at + 1);
                return labels;
            }
            wire_length += length + 1u;
            if (wire_length > max_name || at + 1 + length > m_message.size())
                return std::nullopt;
            labels.emplace_back(reinterpret_cast<char const*>(m_message.data() + at + 1), length);
            at += 1 + length;
        }
    }

    size_t size() const { return m_message.size(); }
    std::span<uint8_t const> bytes(size_t at, size_t length) const { return m_message.subspan(at, length); }

private:
    std::span<uint8_t const> m_message;
};

struct Srv {
    Name instance;
    Name target;
    uint16_t port = 0;
};

// The value of the last "ty=" string of a TXT record's data.
std::optional<std::string> printer_type(std::span<uint8_t const> data)
{
    std::optional<std::string> value;
    size_t at = 0;
    while (at < data.size()) {
        size_t length = data[at];
        if (at + 1 + length > data.size())
            break;
        std::string_view text(reinterpret_cast<char const*>(data.data() + at + 1), length);
        if (text.substr(0, 3) == "ty=")
            value = std::string(text.substr(3));
        at += 1 + length;
    }
    return value;
}

} // namespace

bool same_name(Name const& a, Name const& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!ascii::equals_ignoring_case(a[i], b[i]))
            return false;
    return true;
}

std::vector<uint8_t> printer_query(uint16_t id)
{
    std::vector<uint8_t> out;
    put_header(out, id, static_cast<uint16_t>(service_labels.size()));
    for (auto service : service_labels) {
        put_name(out, { std::string(service), "_tcp", "local" });
        put16(out, type_ptr);
        put16(out, class_in);
    }
    return out;
}

std::vector<uint8_t> instance_query(uint16_t id, Name const& instance)
{
    std::vector<uint8_t> out;
    put_header(out, id, 1);
    put_name(out, instance);
    put16(out, type_any);
    put16(out, class_in);
    return out;
}

Result<Answer> read_answer(std::span<uint8_t const> message, uint16_t expected_id)
{
    if (message.size() < min_message || message.size() > max_message)
        return Error::from_detail("dns: answer size", static_cast<int>(ReadError::Size));
    Reader reader(message);
    uint16_t id = *reader.u16(0), flags = *reader.u16(2);
    uint16_t questions = *reader.u16(4);
    int records = *reader.u16(6) + *reader.u16(8) + *reader.u16(10);
    bool response = flags & 0x8000;
    if (id != expected_id || !response || (flags & 0x000F) != 0)
        return Error::from_detail("dns: not an answer to our query", static_cast<int>(ReadError::NotOurs));
    if (questions > max_questions || records > max_records)
        return Error::from_detail("dns: too many entries", static_cast<int>(ReadError::TooManyEntries));

    std::vector<std::pair<Name, uint32_t>> addresses;
    std::vector<std::pair<Name, std::string>> types;
    std::vector<Srv> srvs;
    Answer answer;

    size_t at = min_message;
    bool intact = true;
    for (int q = 0; q < questions && intact; ++q) {
        size_t end = 0;
        if (!reader.name(at, end) || end + 4 > reader.size())
            intact = false;
        else
            at = end + 4;
    }
    for (int r = 0; r < records && intact; ++r) {
        size_t end = 0;
        auto owner = reader.name(at, end);
        if (!owner || end + 10 > reader.size()) {
            intact = false;
            break;
        }
        uint16_t type = *reader.u16(end);
        uint16_t klass = *reader.u16(end + 2) & 0x7FFF; // the top bit is mDNS's cache-flush bit
        uint16_t length = *reader.u16(end + 8);
        size_t data = end + 10;
        if (data + length > reader.size()) {
            intact = false;
            break;
        }
        at = data + length;
        if (klass != class_in)
            continue;
        if (type == type_a && length == 4) {
            addresses.emplace_back(std::move(*owner), *reader.u32(data));
        } else if (type == type_txt) {
            if (auto value = printer_type(reader.bytes(data, length)))
                types.emplace_back(std::move(*owner), std::move(*value));
        } else if (type == type_srv && length >= min_srv_data) {
            size_t target_end = 0;
            auto target = reader.name(data + 6, target_end);
            if (!target || target_end > data + length) {
                intact = false;
                break;
            }
            if (is_instance_name(*owner))
                srvs.push_back({ std::move(*owner), std::move(*target), *reader.u16(data + 4) });
        } else if (type == type_ptr) {
            size_t target_end = 0;
            auto target = reader.name(data, target_end);
            if (!target || target_end > data + length) {
                intact = false;
                break;
            }
            if (is_service_type(*owner, 0) && is_instance_name(*target)
                && same_name(Name(target->begin() + 1, target->end()), *owner))
                answer.instances.push_back(std::move(*target));
        }
    }

    for (auto& srv : srvs) {
        Service service;
        service.port = srv.port;
        for (auto const& [name, address] : addresses)
            if (same_name(name, srv.target)) {
                service.address = address;
                break;
            }
        for (auto const& [name, type] : types)
            if (same_name(name, srv.instance))
                service.display_name = display_text(type);
        if (service.display_name.empty())
            service.display_name = display_text(srv.instance[0]);
        service.instance = std::move(srv.instance);
        answer.services.push_back(std::move(service));
    }
    return answer;
}

} // namespace tillbay::discovery::dns

#include "printing/discovery/snmp_message.h"

#include "printing/discovery/display_text.h"

#include <array>
#include <optional>

namespace tillbay::discovery::snmp {

namespace {

constexpr uint8_t tag_integer = 0x02;
constexpr uint8_t tag_octet_string = 0x04;
constexpr uint8_t tag_null = 0x05;
constexpr uint8_t tag_oid = 0x06;
constexpr uint8_t tag_sequence = 0x30;
constexpr uint8_t tag_get_request = 0xA0;
constexpr uint8_t tag_get_response = 0xA2;

constexpr std::string_view community = "public";
// 1.3.6.1.2.1.1.1.0 in BER.
constexpr std::array<uint8_t, 8> sysdescr_oid = { 0x2B, 6, 1, 2, 1, 1, 1, 0 };

void put_length(std::vector<uint8_t>& out, size_t length)
{
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<uint8_t>(length >> 8));
        out.push_back(static_cast<uint8_t>(length & 0xFF));
    }
}

std::vector<uint8_t> tlv(uint8_t tag, std::vector<uint8_t> const& content)
{
    std::vector<uint8_t> out { tag };
    put_length(out, content.size());
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

std::vector<uint8_t> joined(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (auto const& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// One element of a BER encoding: its tag and content, inside a window.
struct Element {
    uint8_t tag = 0;
    std::span<uint8_t const> content;
};

class Cursor {
public:
    explicit Cursor(std::span<uint8_t const> window)
        : m_window(window)
    {
    }

    // The next element, definite lengths of at most two length bytes only.
    std::optional<Element> next()
    {
        if (m_at + 2 > m_window.size())
            return std::nullopt;
        uint8_t tag = m_window[m_at];
        if ((tag & 0x1F) == 0x1F)
            return std::nullopt; // multi-byte tags are not part of SNMPv1
        size_t length = m_window[m_at + 1];
        size_t header = 2;
        if (length & 0x80) {
            size_t bytes = length & 0x7F;
            if (bytes == 0 || bytes > 2 || m_at + 2 + bytes > m_window.size())
                return std::nullopt;
            length = 0;
            for (size_t i = 0; i < bytes; ++i)
                length = (length << 8) | m_window[m_at + 2 + i];
            header += bytes;
        }
        if (length > m_window.size() - m_at - header)
            return std::nullopt;
        Element element { tag, m_window.subspan(m_at + header, length) };
        m_at += header + length;
        return element;
    }

private:
    std::span<uint8_t const> m_window;
    size_t m_at = 0;
};

std::optional<int64_t> integer(std::optional<Element> const& element)
{
    if (!element || element->tag != tag_integer || element->content.empty() || element->content.size() > 8)
        return std::nullopt;
    int64_t value = (element->content[0] & 0x80) ? -1 : 0;
    for (uint8_t byte : element->content)
        value = static_cast<int64_t>((static_cast<uint64_t>(value) << 8) | byte);
    return value;
}

Error refused(char const* why) { return Error::from_detail(std::string("snmp: ") + why); }

} // namespace

std::vector<uint8_t> sysdescr_request(uint32_t request_id)
{
    request_id &= 0x3FFFFFFF;
    std::vector<uint8_t> id_bytes = { static_cast<uint8_t>(request_id >> 24), static_cast<uint8_t>(request_id >> 16),
        static_cast<uint8_t>(request_id >> 8), static_cast<uint8_t>(request_id) };
    auto varbind = tlv(tag_sequence,
        joined({ tlv(tag_oid, std::vector<uint8_t>(sysdescr_oid.begin(), sysdescr_oid.end())), tlv(tag_null, {}) }));
    auto pdu = tlv(tag_get_request,
        joined({ tlv(tag_integer, id_bytes), tlv(tag_integer, { 0 }), tlv(tag_integer, { 0 }),
            tlv(tag_sequence, varbind) }));
    return tlv(tag_sequence,
        joined({ tlv(tag_integer, { 0 }), tlv(tag_octet_string, std::vector<uint8_t>(community.begin(), community.end())),
            pdu }));
}

Result<std::string> read_sysdescr(std::span<uint8_t const> message, uint32_t request_id)
{
    if (message.size() > max_message)
        return refused("answer too long");
    Cursor outer(message);
    auto whole = outer.next();
    if (!whole || whole->tag != tag_sequence)
        return refused("not a message");
    Cursor fields(whole->content);
    auto version = integer(fields.next());
    if (!version || *version != 0)
        return refused("not version 1");
    auto name = fields.next();
    if (!name || name->tag != tag_octet_string
        || std::string_view(reinterpret_cast<char const*>(name->content.data()), name->content.size()) != community)
        return refused("another community");
    auto pdu = fields.next();
    if (!pdu || pdu->tag != tag_get_response)
        return refused("not a response");
    Cursor pdu_fields(pdu->content);
    auto id = integer(pdu_fields.next());
    auto error_status = integer(pdu_fields.next());
    auto error_index = integer(pdu_fields.next());
    if (!id || *id != static_cast<int64_t>(request_id & 0x3FFFFFFF))
        return refused("another request");
    if (!error_status || *error_status != 0 || !error_index)
        return refused("error status");
    auto bindings = pdu_fields.next();
    if (!bindings || bindings->tag != tag_sequence)
        return refused("no bindings");
    Cursor binding_list(bindings->content);
    auto binding = binding_list.next();
    if (!binding || binding->tag != tag_sequence)
        return refused("no binding");
    Cursor binding_fields(binding->content);
    auto oid = binding_fields.next();
    if (!oid || oid->tag != tag_oid || !std::equal(oid->content.begin(), oid->content.end(), sysdescr_oid.begin(),
                                                   sysdescr_oid.end()))
        return refused("another object");
    auto value = binding_fields.next();
    if (!value || value->tag != tag_octet_string)
        return refused("not a text");
    return display_text(std::string_view(reinterpret_cast<char const*>(value->content.data()), value->content.size()));
}

} // namespace tillbay::discovery::snmp

// The readers of what the LAN answers: DNS-SD, WS-Discovery and SNMP. Each
// gets well-formed answers as real responders send them and hostile ones.

#include "printing/discovery/display_text.h"
#include "printing/discovery/dns_message.h"
#include "printing/discovery/snmp_message.h"
#include "printing/discovery/wsd_message.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tillbay::discovery;

namespace {

// Builds DNS answers record by record.
class DnsBuilder {
public:
    DnsBuilder(uint16_t id, uint16_t flags = 0x8400) { put16(id), put16(flags), put16(0), put16(0), put16(0), put16(0); }

    size_t name(std::vector<std::string> const& labels)
    {
        size_t at = bytes.size();
        for (auto const& label : labels) {
            bytes.push_back(static_cast<uint8_t>(label.size()));
            bytes.insert(bytes.end(), label.begin(), label.end());
        }
        bytes.push_back(0);
        return at;
    }
    void pointer(size_t to)
    {
        bytes.push_back(static_cast<uint8_t>(0xC0 | (to >> 8)));
        bytes.push_back(static_cast<uint8_t>(to & 0xFF));
    }
    void record_header(uint16_t type, uint16_t klass, uint16_t length)
    {
        put16(type), put16(klass), put16(0), put16(120), put16(length);
        ++records;
        bytes[7] = static_cast<uint8_t>(records);
    }
    void a(std::vector<std::string> const& owner, uint32_t address)
    {
        name(owner);
        record_header(1, 0x8001, 4);
        put16(static_cast<uint16_t>(address >> 16)), put16(static_cast<uint16_t>(address));
    }
    void srv(std::vector<std::string> const& owner, uint16_t port, std::vector<std::string> const& target)
    {
        name(owner);
        std::vector<uint8_t> data { 0, 0, 0, 0, static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port) };
        size_t length = data.size() + 1;
        for (auto const& label : target)
            length += label.size() + 1;
        record_header(33, 1, static_cast<uint16_t>(length));
        bytes.insert(bytes.end(), data.begin(), data.end());
        name(target);
    }
    void txt(std::vector<std::string> const& owner, std::vector<std::string> const& strings)
    {
        name(owner);
        size_t length = 0;
        for (auto const& s : strings)
            length += s.size() + 1;
        record_header(16, 1, static_cast<uint16_t>(length));
        for (auto const& s : strings) {
            bytes.push_back(static_cast<uint8_t>(s.size()));
            bytes.insert(bytes.end(), s.begin(), s.end());
        }
    }
    void ptr(std::vector<std::string> const& owner, std::vector<std::string> const& target)
    {
        name(owner);
        size_t length = 1;
        for (auto const& label : target)
            length += label.size() + 1;
        record_header(12, 1, static_cast<uint16_t>(length));
        name(target);
    }
    void put16(uint16_t v)
    {
        bytes.push_back(static_cast<uint8_t>(v >> 8));
        bytes.push_back(static_cast<uint8_t>(v));
    }

    std::vector<uint8_t> bytes;
    int records = 0;
};

std::vector<std::string> const instance { "Kitchen TP80", "_pdl-datastream", "_tcp", "local" };
std::vector<std::string> const host { "kitchen", "local" };

TEST(DnsReader, QueryAsksForTheFourPrinterServices)
{
    auto query = dns::printer_query(0x1234);
    ASSERT_GE(query.size(), 12u);
    EXPECT_EQ(query[0], 0x12);
    EXPECT_EQ(query[5], 4); // four questions
    std::string text(query.begin(), query.end());
    for (char const* service : { "\x0f_pdl-datastream\x04_tcp\x05local", "\x04_ipp\x04_tcp", "\x05_ipps\x04_tcp",
             "\x08_printer\x04_tcp" })
        EXPECT_NE(text.find(service), std::string::npos) << service;
}

TEST(DnsReader, ServiceWithAddressAndPrinterType)
{
    DnsBuilder b(0x0101);
    b.srv(instance, 9100, host);
    b.txt(instance, { "txtvers=1", "ty=First", "ty=TILLBAY TP-80 주방" });
    b.a(host, 0x0A630015);
    auto answer = dns::read_answer(b.bytes, 0x0101);
    ASSERT_TRUE(answer.ok());
    ASSERT_EQ(answer.value().services.size(), 1u);
    auto const& service = answer.value().services[0];
    EXPECT_EQ(service.port, 9100);
    EXPECT_EQ(service.address, 0x0A630015u);
    EXPECT_EQ(service.display_name, "TILLBAY TP-80 주방"); // the last ty= string counts
}

TEST(DnsReader, WithoutTxtTheInstanceLabelNamesItAndCompressionIsFollowed)
{
    DnsBuilder b(7);
    size_t owner_at = b.bytes.size();
    b.name(instance);
    b.record_header(33, 1, 6 + 2);
    for (uint8_t byte : { 0, 0, 0, 0, 0x23, 0x8C })
        b.bytes.push_back(byte);
    b.pointer(owner_at + 1 + instance[0].size()); // the target points into the owner: "_pdl-datastream._tcp.local"
    auto answer = dns::read_answer(b.bytes, 7);
    ASSERT_TRUE(answer.ok());
    ASSERT_EQ(answer.value().services.size(), 1u);
    EXPECT_EQ(answer.value().services[0].display_name, "Kitchen TP80");
    EXPECT_EQ(answer.value().services[0].port, 9100);
    EXPECT_EQ(answer.value().services[0].address, 0u); // no A record: the caller uses the source
}

TEST(DnsReader, PointerRecordsNameInstancesToAskAbout)
{
    DnsBuilder b(9);
    b.ptr({ "_ipp", "_tcp", "local" }, { "Front Desk", "_ipp", "_tcp", "local" });
    b.ptr({ "_ipp", "_tcp", "local" }, { "Elsewhere", "_http", "_tcp", "local" }); // not under the asked type
    b.ptr({ "_http", "_tcp", "local" }, { "Web", "_http", "_tcp", "local" });
    auto answer = dns::read_answer(b.bytes, 9);
    ASSERT_TRUE(answer.ok());
    ASSERT_EQ(answer.value().instances.size(), 1u);
    EXPECT_EQ(answer.value().instances[0][0], "Front Desk");
    auto follow_up = dns::instance_query(9, answer.value().instances[0]);
    EXPECT_EQ(follow_up[follow_up.size() - 3], 255); // type ANY
}

TEST(DnsReader, RefusesWhatIsNotAnAnswerToOurQuery)
{
    DnsBuilder good(5);
    good.srv(instance, 9100, host);
    struct Case {
        char const* what;
        std::vector<uint8_t> bytes;
        uint16_t id;
    };
    auto with = [&](size_t at, uint8_t value) {
        auto copy = good.bytes;
        copy[at] = value;
        return copy;
    };
    std::vector<Case> cases = {
        { "another id", good.bytes, 6 },
        { "a query, not a response", with(2, 0x00), 5 },
        { "an error code", with(3, 0x03), 5 },
        { "too many questions", with(5, 33), 5 },
        { "too many records", with(7, 129), 5 },
        { "too short", std::vector<uint8_t>(11, 0), 5 },
        { "too long", std::vector<uint8_t>(9001, 0), 5 },
    };
    for (auto const& c : cases)
        EXPECT_FALSE(dns::read_answer(c.bytes, c.id).ok()) << c.what;
}

TEST(DnsReader, MalformedRecordsEndTheReadingWithoutHarm)
{
    // A pointer loop, a forward pointer, an over-long label, and a record
    // length beyond the datagram: each ends the reading, keeping what came before.
    std::vector<std::vector<uint8_t>> tails = {
        { 0xC0, 12 },                 // points at itself
        { 0xC0, 0xFF },               // points ahead
        { 64, 'a' },                  // label longer than 63
        { 0x80, 1 },                  // extended label type
    };
    for (auto const& tail : tails) {
        DnsBuilder b(3);
        b.bytes.insert(b.bytes.end(), tail.begin(), tail.end());
        b.bytes.insert(b.bytes.end(), 10, 0);
        b.bytes[7] = 1;
        auto answer = dns::read_answer(b.bytes, 3);
        ASSERT_TRUE(answer.ok());
        EXPECT_TRUE(answer.value().services.empty());
    }
    DnsBuilder b(3);
    b.srv(instance, 9100, host);
    b.name(host);
    b.record_header(1, 1, 200); // claims more data than there is
    auto answer = dns::read_answer(b.bytes, 3);
    ASSERT_TRUE(answer.ok());
    EXPECT_EQ(answer.value().services.size(), 1u);
}

TEST(DnsReader, NamesFromTheLanAreCleanedForDisplay)
{
    DnsBuilder b(4);
    b.srv(instance, 9100, host);
    b.txt(instance, { std::string("ty=Bad\x01\xff Name\xe2\x80") });
    auto answer = dns::read_answer(b.bytes, 4);
    ASSERT_TRUE(answer.ok());
    EXPECT_EQ(answer.value().services[0].display_name, "Bad Name");
    EXPECT_EQ(display_text(std::string(300, 'x')).size(), max_display_name);
    EXPECT_EQ(display_text("  가나 \x7f"), "가나");
}

std::string probe_match(std::string const& relates, std::string const& types, std::string const& prolog = {})
{
    return "<?xml version=\"1.0\"?>" + prolog
        + "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\"><s:Header><a:RelatesTo>" + relates
        + "</a:RelatesTo></s:Header><s:Body><d:ProbeMatches><d:ProbeMatch><d:Types>" + types
        + "</d:Types><d:XAddrs>http://10.0.0.5:5357/?a=1&amp;b=2</d:XAddrs></d:ProbeMatch></d:ProbeMatches></s:Body>"
          "</s:Envelope>";
}

TEST(WsdReader, ProbeCarriesTheMessageId)
{
    std::string id = wsd::new_message_id();
    EXPECT_EQ(id.size(), 9u + 36u);
    EXPECT_EQ(id.substr(0, 9), "urn:uuid:");
    EXPECT_EQ(id.find_first_of("abcdef", 9), std::string::npos); // upper case
    EXPECT_NE(wsd::new_message_id(), id);
    std::string probe = wsd::probe(id);
    EXPECT_NE(probe.find("<a:MessageID>" + id + "</a:MessageID>"), std::string::npos);
    EXPECT_NE(probe.find("<d:Types>p:PrintDevice</d:Types>"), std::string::npos);
}

std::string nested(int depth)
{
    std::string open, close;
    for (int i = 0; i < depth; ++i) {
        open += "<x>";
        close += "</x>";
    }
    return open + close;
}

TEST(WsdReader, Verdicts)
{
    std::string const id = "urn:uuid:0A0B0C0D-0000-4000-8000-000000000001";
    struct Case {
        char const* what;
        std::string document;
        wsd::Verdict verdict;
    };
    std::vector<Case> cases = {
        { "a printer", probe_match(id, "wprt:PrintDevice"), wsd::Verdict::Match },
        { "several types", probe_match(" " + id + "\n", "wsdp:Device  x:PrintBasic"), wsd::Verdict::Match },
        { "a scanner", probe_match(id, "wscn:ScanDeviceType"), wsd::Verdict::NotOurs },
        { "another probe", probe_match("urn:uuid:other", "wprt:PrintDevice"), wsd::Verdict::NotOurs },
        { "a doctype", probe_match(id, "wprt:PrintDevice", "<!DOCTYPE x>"), wsd::Verdict::Refused },
        { "an entity", probe_match(id, "wprt:PrintDevice", "<!DOCTYPE x [<!ENTITY e \"PrintDevice\">]>"),
            wsd::Verdict::Refused },
        { "an undeclared entity", probe_match(id, "wprt:&e;"), wsd::Verdict::Refused },
        { "unclosed", probe_match(id, "wprt:PrintDevice").substr(0, 200), wsd::Verdict::Malformed },
        { "mismatched tags", "<a><b></a></b>", wsd::Verdict::Malformed },
        { "too large", probe_match(id, "wprt:PrintDevice") + std::string(wsd::max_document, ' '), wsd::Verdict::Malformed },
        { "too deep", nested(40), wsd::Verdict::Malformed },
    };
    for (auto const& c : cases)
        EXPECT_EQ(wsd::read_probe_match(c.document, id), c.verdict) << c.what;
}

TEST(SnmpReader, RequestIsTheStandardEncoding)
{
    auto request = snmp::sysdescr_request(0x01020304);
    std::vector<uint8_t> expected = { 0x30, 0x29, 0x02, 0x01, 0x00, 0x04, 0x06, 'p', 'u', 'b', 'l', 'i', 'c', 0xA0, 0x1C,
        0x02, 0x04, 0x01, 0x02, 0x03, 0x04, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x0E, 0x30, 0x0C, 0x06, 0x08,
        0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x01, 0x00, 0x05, 0x00 };
    EXPECT_EQ(request, expected);
}

std::vector<uint8_t> response(uint32_t id, std::string const& text, uint8_t pdu = 0xA2, uint8_t status = 0,
    std::string const& community = "public")
{
    auto tlv = [](uint8_t tag, std::vector<uint8_t> content) {
        std::vector<uint8_t> out { tag };
        if (content.size() >= 128) {
            out.push_back(0x81);
        }
        out.push_back(static_cast<uint8_t>(content.size()));
        out.insert(out.end(), content.begin(), content.end());
        return out;
    };
    auto cat = [](std::initializer_list<std::vector<uint8_t>> parts) {
        std::vector<uint8_t> out;
        for (auto const& p : parts)
            out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    auto varbind = tlv(0x30,
        cat({ tlv(0x06, { 0x2B, 6, 1, 2, 1, 1, 1, 0 }), tlv(0x04, std::vector<uint8_t>(text.begin(), text.end())) }));
    auto body = tlv(pdu,
        cat({ tlv(0x02, { uint8_t(id >> 24), uint8_t(id >> 16), uint8_t(id >> 8), uint8_t(id) }), tlv(0x02, { status }),
            tlv(0x02, { 0 }), tlv(0x30, varbind) }));
    return tlv(0x30, cat({ tlv(0x02, { 0 }), tlv(0x04, std::vector<uint8_t>(community.begin(), community.end())), body }));
}

TEST(SnmpReader, ReadsOnlyTheAnswerToOurRequest)
{
    auto good = snmp::read_sysdescr(response(77, "TILLBAY TP-80"), 77);
    ASSERT_TRUE(good.ok());
    EXPECT_EQ(good.value(), "TILLBAY TP-80");
    EXPECT_EQ(snmp::read_sysdescr(response(77, std::string(200, 'x')), 77).value().size(), 200u);

    EXPECT_FALSE(snmp::read_sysdescr(response(78, "x"), 77).ok()) << "another request";
    EXPECT_FALSE(snmp::read_sysdescr(response(77, "x", 0xA0), 77).ok()) << "a request";
    EXPECT_FALSE(snmp::read_sysdescr(response(77, "x", 0xA2, 2), 77).ok()) << "an error status";
    EXPECT_FALSE(snmp::read_sysdescr(response(77, "x", 0xA2, 0, "private"), 77).ok()) << "another community";
    auto cut = response(77, "TILLBAY");
    cut.resize(cut.size() - 3);
    EXPECT_FALSE(snmp::read_sysdescr(cut, 77).ok()) << "cut short";
    auto lying = response(77, "TILLBAY");
    lying[1] = 0x84; // a four-byte length
    EXPECT_FALSE(snmp::read_sysdescr(lying, 77).ok()) << "an over-long length form";
}

} // namespace

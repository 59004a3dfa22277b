#include "printing/connection_address.h"

#include <gtest/gtest.h>

using namespace tillbay::printing;

namespace {

std::string const identity_lower(64, 'a');
std::string const identity_mixed = "ABCDEF0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789";

struct AddressCase {
    std::string text;
    bool valid;
    AddressKind kind = AddressKind::None;
    std::string field = {};
};

TEST(ConnectionAddress, Grammar)
{
    std::vector<AddressCase> const cases {
        { "none", true, AddressKind::None },
        { "legacy", true, AddressKind::Legacy },
        { "inherit", true, AddressKind::Inherit },
        { "", false },
        { "NONE", false },
        { "printer", false },
        { "tcp|192.168.0.50|9100", true, AddressKind::Tcp, "192.168.0.50" },
        { "tcp|1.0.0.0|1", true, AddressKind::Tcp, "1.0.0.0" },
        { "tcp|223.255.255.255|65535", true, AddressKind::Tcp, "223.255.255.255" },
        { "tcp|0.1.2.3|9100", false },
        { "tcp|224.0.0.1|9100", false },
        { "tcp|192.168.0.50|0", false },
        { "tcp|192.168.0.50|65536", false },
        { "tcp|192.168.0.50|09100", false },
        { "tcp|192.168.0.256|9100", false },
        { "tcp|192.168.0|9100", false },
        { "tcp|192.168.010.5|9100", false },
        { "tcp|printer.local|9100", false },
        { "tcp|192.168.0.50", false },
        { "tcp|192.168.0.50|9100|x", false },
        { "com|COM3|9600|8|N|1|none|v1", true, AddressKind::Com, "COM3" },
        { "com|COM4096|115200|7|E|2|rtscts|v1", true, AddressKind::Com, "COM4096" },
        { "com|ttyUSB0|19200|8|O|1|xonxoff|v1", true, AddressKind::Com, "ttyUSB0" },
        { "com|COM3|9600|8|N|1|none|v2", false },
        { "com|COM3|4800|8|N|1|none|v1", false },
        { "com|COM0|9600|8|N|1|none|v1", false },
        { "com|COM4097|9600|8|N|1|none|v1", false },
        { "com|COM3|9600|6|N|1|none|v1", false },
        { "com|COM3|9600|8|M|1|none|v1", false },
        { "com|COM3|9600|8|N|3|none|v1", false },
        { "com|COM3|9600|8|N|1|dsr|v1", false },
        { "com|/dev/ttyS0|9600|8|N|1|none|v1", false },
        { "com|COM3|9600|8|N|1|none", false },
        { "usb|" + identity_lower, true, AddressKind::Usb, identity_lower },
        { "usb|" + identity_mixed, true, AddressKind::Usb, "abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789" },
        { "usb|" + identity_lower.substr(1), false },
        { "usb|" + identity_lower.substr(1) + "g", false },
        { "queue|Receipt", true, AddressKind::Queue, "Receipt" },
        { "queue|%EC%98%81%EC%88%98%EC%A6%9D%20printer", true, AddressKind::Queue, "영수증 printer" },
        { "queue|a%2fb%2Fc", true, AddressKind::Queue, "a/b/c" },
        { "queue|", false },
        { "queue|%", false },
        { "queue|%4", false },
        { "queue|%zz", false },
        { "queue|%0A", false },
        { "queue|%7F", false },
        { "queue|%C3%28", false },
        { "queue|%FF", false },
        { "queue|" + std::string(511, 'q'), true, AddressKind::Queue, std::string(511, 'q') },
        { "queue|" + std::string(512, 'q'), false },
        { "tcp|192.168.0.50|9100\n", false },
        { "queue|\xEC\x98\x81", false },
        { "a|b|c|d|e|f|g|h|i|j", false },
        { "abcdefghijklmnop|x", false },
        { std::string(1024, 'n'), false },
    };
    for (auto const& c : cases) {
        auto parsed = parse_address(c.text);
        EXPECT_EQ(parsed.has_value(), c.valid) << c.text;
        if (!parsed || !c.valid)
            continue;
        EXPECT_EQ(parsed->kind, c.kind) << c.text;
        EXPECT_EQ(parsed->text, c.field) << c.text;
    }
}

TEST(ConnectionAddress, FieldsOfNetworkAndSerialAddresses)
{
    auto tcp = parse_address("tcp|10.0.0.7|9101");
    ASSERT_TRUE(tcp);
    EXPECT_EQ(tcp->port, 9101);
    auto com = parse_address("com|COM3|38400|7|E|2|rtscts|v1");
    ASSERT_TRUE(com);
    EXPECT_EQ(com->baud, 38400);
    EXPECT_EQ(com->data_bits, 7);
    EXPECT_EQ(com->parity, 'E');
    EXPECT_EQ(com->stop_bits, 2);
    EXPECT_EQ(com->flow, "rtscts");
    EXPECT_EQ(serial_device_name("COM1"), "ttyS0");
    EXPECT_EQ(serial_device_name("COM3"), "ttyS2");
    EXPECT_EQ(serial_device_name("ttyUSB1"), "ttyUSB1");
}

TEST(ConnectionAddress, UsbIdentityIsStoredInLowerCase)
{
    EXPECT_EQ(stored_address("usb|" + identity_mixed), "usb|abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789");
    EXPECT_EQ(stored_address("tcp|192.168.0.50|9100"), "tcp|192.168.0.50|9100");
    EXPECT_EQ(stored_address("queue|A%20B"), "queue|A%20B");
}

struct DescribeCase {
    std::string connection;
    std::string name;
    bool usb_present;
    std::string text;
    int kind;
};

TEST(ConnectionAddress, Describe)
{
    std::vector<DescribeCase> const cases {
        { "", "", true, "USB 프린터 (직접 연결)", 1 },
        { "", "", false, "보낼 프린터를 찾지 못했습니다", 0 },
        { "", "영수증", false, "인쇄 큐 \"영수증\"", 3 },
        { "tcp|192.168.0.50|9100", "", false, "LAN 192.168.0.50:9100", 2 },
        { "com|COM3|9600|8|N|1|none|v1", "", false, "COM3 / 9600 / 8N1", 2 },
        { "usb|" + identity_mixed, "", false, "USB 개별 장치 abcdef01", 2 },
        { "queue|Kitchen%20Epson", "", false, "인쇄 큐: Kitchen Epson", 2 },
        { "inherit", "", false, "영수증 프린터와 같음", 2 },
        { "none", "", false, "프린터 없음 — 영수증·주문표를 인쇄하지 않습니다", 2 },
        { "legacy", "", false, "기존 프린터 설정", 2 },
        { "tcp|999.1.1.1|9100", "", false, "연결 설정을 확인해 주세요", 0 },
    };
    for (auto const& c : cases) {
        PrinterRecord record;
        record.connection = c.connection;
        record.name = c.name;
        auto description = describe(record, c.usb_present);
        EXPECT_EQ(description.text, c.text) << c.connection;
        EXPECT_EQ(description.kind, c.kind) << c.connection;
    }
    PrinterRecord none;
    none.connection = "none";
    EXPECT_TRUE(printer_is_none(none));
    none.connection = "tcp|192.168.0.50|9100";
    EXPECT_FALSE(printer_is_none(none));
}

} // namespace

#include "printing/connection_address.h"

#include "base/ascii.h"
#include "foundation/settings.h"
#include "printing/utf8_text.h"

#include <cstdio>
#include <vector>

namespace tillbay::printing {

namespace {

std::vector<std::string_view> split_bars(std::string_view text)
{
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (true) {
        size_t bar = text.find('|', start);
        fields.push_back(text.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start));
        if (bar == std::string_view::npos)
            return fields;
        start = bar + 1;
    }
}

// Decimal digits only, without a leading zero (except "0" itself), at
// most max_digits of them; -1 otherwise.
long plain_number(std::string_view text, size_t max_digits)
{
    if (text.empty() || text.size() > max_digits || (text.size() > 1 && text[0] == '0'))
        return -1;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

bool is_ipv4(std::string_view text)
{
    std::vector<std::string_view> numbers;
    size_t start = 0;
    while (true) {
        size_t dot = text.find('.', start);
        numbers.push_back(text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    if (numbers.size() != 4)
        return false;
    for (size_t i = 0; i < 4; ++i) {
        long value = plain_number(numbers[i], 3);
        if (value < 0 || value > 255)
            return false;
        if (i == 0 && (value < 1 || value > 223))
            return false;
    }
    return true;
}

bool is_serial_port(std::string_view port)
{
    if (port.starts_with("COM")) {
        long n = plain_number(port.substr(3), 4);
        return n >= 1 && n <= 4096;
    }
    for (std::string_view prefix : { "ttyUSB", "ttyACM", "ttyS" }) {
        if (port.starts_with(prefix))
            return plain_number(port.substr(prefix.size()), 4) >= 0;
    }
    return false;
}

bool is_hex_identity(std::string_view text)
{
    if (text.size() != 64)
        return false;
    for (char c : text) {
        if (ascii::hex_digit_value(c) < 0)
            return false;
    }
    return true;
}

std::optional<std::string> decode_queue_name(std::string_view encoded)
{
    std::string name;
    for (size_t i = 0; i < encoded.size(); ++i) {
        unsigned char byte = static_cast<unsigned char>(encoded[i]);
        if (encoded[i] == '%') {
            int high = i + 1 < encoded.size() ? ascii::hex_digit_value(encoded[i + 1]) : -1;
            int low = i + 2 < encoded.size() ? ascii::hex_digit_value(encoded[i + 2]) : -1;
            if (high < 0 || low < 0)
                return std::nullopt;
            byte = static_cast<unsigned char>(high * 16 + low);
            i += 2;
        }
        if (byte < 32 || byte == 127)
            return std::nullopt;
        name.push_back(static_cast<char>(byte));
        if (name.size() > max_queue_name_bytes)
            return std::nullopt;
    }
    if (name.empty() || !is_valid_utf8(name))
        return std::nullopt;
    return name;
}

} // namespace

std::optional<ParsedAddress> parse_address(std::string_view text)
{
    if (text.empty() || text.size() > max_address_bytes)
        return std::nullopt;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 32 || byte > 126)
            return std::nullopt;
    }
    auto fields = split_bars(text);
    if (fields.size() > max_address_fields || fields[0].size() > max_kind_bytes)
        return std::nullopt;
    std::string_view kind = fields[0];
    ParsedAddress address;
    if (fields.size() == 1) {
        if (kind == "none")
            address.kind = AddressKind::None;
        else if (kind == "legacy")
            address.kind = AddressKind::Legacy;
        else if (kind == "inherit")
            address.kind = AddressKind::Inherit;
        else
            return std::nullopt;
        return address;
    }
    if (fields[1].size() > max_field_bytes)
        return std::nullopt;
    address.text = std::string(fields[1]);
    if (kind == "tcp") {
        if (fields.size() != 3 || !is_ipv4(fields[1]))
            return std::nullopt;
        long port = plain_number(fields[2], 5);
        if (port < 1 || port > 65535)
            return std::nullopt;
        address.kind = AddressKind::Tcp;
        address.port = static_cast<int>(port);
        return address;
    }
    if (kind == "com") {
        if (fields.size() != 8 || !is_serial_port(fields[1]))
            return std::nullopt;
        long baud = plain_number(fields[2], 6);
        if (baud != 9600 && baud != 19200 && baud != 38400 && baud != 57600 && baud != 115200)
            return std::nullopt;
        long data_bits = plain_number(fields[3], 1);
        long stop_bits = plain_number(fields[5], 1);
        if ((data_bits != 7 && data_bits != 8) || (stop_bits != 1 && stop_bits != 2))
            return std::nullopt;
        if (fields[4].size() != 1 || std::string_view("NEO").find(fields[4][0]) == std::string_view::npos)
            return std::nullopt;
        if (fields[6] != "none" && fields[6] != "rtscts" && fields[6] != "xonxoff")
            return std::nullopt;
        if (fields[7] != "v1")
            return std::nullopt;
        address.kind = AddressKind::Com;
        address.baud = static_cast<int>(baud);
        address.data_bits = static_cast<int>(data_bits);
        address.parity = fields[4][0];
        address.stop_bits = static_cast<int>(stop_bits);
        address.flow = std::string(fields[6]);
        return address;
    }
    if (kind == "usb") {
        if (fields.size() != 2 || !is_hex_identity(fields[1]))
            return std::nullopt;
        address.kind = AddressKind::Usb;
        address.text = ascii::lowered(fields[1]);
        return address;
    }
    if (kind == "queue") {
        if (fields.size() != 2)
            return std::nullopt;
        auto name = decode_queue_name(fields[1]);
        if (!name)
            return std::nullopt;
        address.kind = AddressKind::Queue;
        address.text = std::move(*name);
        return address;
    }
    return std::nullopt;
}

std::string serial_device_name(std::string_view port_field)
{
    if (port_field.starts_with("COM")) {
        long n = plain_number(port_field.substr(3), 4);
        return "ttyS" + std::to_string(n > 0 ? n - 1 : 0);
    }
    return std::string(port_field);
}

std::string stored_address(std::string_view text)
{
    auto parsed = parse_address(text);
    if (parsed && parsed->kind == AddressKind::Usb)
        return "usb|" + parsed->text;
    return std::string(text);
}

bool save_address(SaveTarget target, std::string_view text)
{
    auto parsed = parse_address(text);
    if (!parsed)
        return false;
    if (target == SaveTarget::Receipt && parsed->kind == AddressKind::Inherit)
        return false;
    std::string stored = stored_address(text);
    return settings::write_profile(target == SaveTarget::Receipt ? "PRINTER" : "KITCHEN", "connection", stored);
}

Description describe(PrinterRecord const& record, bool usb_printer_present)
{
    Description out;
    if (record.connection.empty()) {
        if (!record.name.empty()) {
            out.text = "인쇄 큐 \"" + record.name + "\"";
            out.kind = 3;
        } else if (usb_printer_present) {
            out.text = "USB 프린터 (직접 연결)";
            out.kind = 1;
        } else {
            out.text = "보낼 프린터를 찾지 못했습니다";
            out.kind = 0;
        }
        return out;
    }
    auto parsed = parse_address(record.connection);
    if (!parsed)
        return { "연결 설정을 확인해 주세요", 0 };
    out.kind = 2;
    char buffer[640];
    switch (parsed->kind) {
    case AddressKind::Tcp:
        std::snprintf(buffer, sizeof buffer, "LAN %s:%d", parsed->text.c_str(), parsed->port);
        out.text = buffer;
        break;
    case AddressKind::Com:
        std::snprintf(buffer, sizeof buffer, "%s / %d / %d%c%d", parsed->text.c_str(), parsed->baud, parsed->data_bits,
            parsed->parity, parsed->stop_bits);
        out.text = buffer;
        break;
    case AddressKind::Usb:
        out.text = "USB 개별 장치 " + parsed->text.substr(0, 8);
        break;
    case AddressKind::Queue:
        out.text = "인쇄 큐: " + parsed->text;
        break;
    case AddressKind::Inherit:
        out.text = "영수증 프린터와 같음";
        break;
    case AddressKind::None:
        out.text = "프린터 없음 — 영수증·주문표를 인쇄하지 않습니다";
        break;
    case AddressKind::Legacy:
        out.text = "기존 프린터 설정";
        break;
    }
    out.text = cut_utf8(out.text, max_name_bytes);
    return out;
}

bool printer_is_none(PrinterRecord const& record)
{
    auto parsed = parse_address(record.connection);
    return parsed && parsed->kind == AddressKind::None;
}

} // namespace tillbay::printing

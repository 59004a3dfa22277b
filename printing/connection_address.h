#pragma once

// The connection address: the printable-ASCII text that says how a
// printer's bytes reach it. Fields are separated by "|"; the first is the
// kind:
//
//   none                                   no printer
//   legacy                                 the print queue named in the record (or the first USB printer)
//   inherit                                kitchen only: whatever the receipt printer uses
//   tcp|192.168.0.50|9100                  network printer
//   com|COM3|9600|8|N|1|none|v1            serial printer (port, baud, data bits, parity, stop bits, flow, format)
//   usb|<64 hexadecimal digits>            one USB printer, by its device identity
//   queue|<percent-encoded name>           one print queue of the spooler

#include "printing/printer_settings.h"

#include <optional>
#include <string>
#include <string_view>

namespace tillbay::printing {

inline constexpr size_t max_address_bytes = 1023;
inline constexpr size_t max_address_fields = 9;
inline constexpr size_t max_kind_bytes = 15;
inline constexpr size_t max_field_bytes = 511;
inline constexpr size_t max_queue_name_bytes = 511;

enum class AddressKind {
    None,
    Legacy,
    Inherit,
    Tcp,
    Com,
    Usb,
    Queue,
};

struct ParsedAddress {
    AddressKind kind = AddressKind::None;
    // The IPv4 address, the serial port name, the USB identity (lower
    // case) or the decoded queue name.
    std::string text;
    int port = 0;
    int baud = 0;
    int data_bits = 0;
    int stop_bits = 0;
    char parity = 'N';
    std::string flow; // "none", "rtscts" or "xonxoff"
};

// Nothing when the text is not a valid address.
std::optional<ParsedAddress> parse_address(std::string_view text);

// The serial device name of a port field: "COM3" is "ttyS2"; a tty name
// ("ttyUSB0", "ttyACM1", "ttyS0") stands for itself.
std::string serial_device_name(std::string_view port_field);

// The form an address is stored in: a USB identity in lower case.
std::string stored_address(std::string_view text);

enum class SaveTarget {
    Receipt,
    Kitchen,
};
// Writes the address as `connection` of PRINTER or KITCHEN. False, with
// nothing written, for an invalid address, for "inherit" on the receipt
// printer, or when the file cannot be written.
bool save_address(SaveTarget target, std::string_view text);

// What the settings page shows for a printer, and how it is reached:
// 0 nothing usable, 1 the first USB printer found directly, 2 a configured
// connection address, 3 a print queue named by `name`.
struct Description {
    std::string text;
    int kind = 0;
};
Description describe(PrinterRecord const& record, bool usb_printer_present);

// The connection's kind is "none".
bool printer_is_none(PrinterRecord const& record);

} // namespace tillbay::printing

#pragma once

// Receipt printers as the machine offers them: a network printer's TCP port,
// a serial port, a USB printer device, and the lists of the serial ports and
// USB printers this PC has. The printing subsystem runs the delivery (status
// request, write, drain) and words the messages; this layer only opens,
// writes and reads, with the errno or the program's codes kept:
// 10060 for a network time-out, 10054 for a connection the printer dropped,
// 258 for a device write that did not finish in time.

#include "base/result.h"

#include <functional>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tillbay::os::printer_port {

inline constexpr int code_net_timeout = 10060;
inline constexpr int code_net_reset = 10054;
inline constexpr int code_device_timeout = 258;

struct WriteOutcome {
    size_t written = 0;
    int code = 0; // 0 when every byte went; else the program's code or errno
    bool ok() const { return code == 0; }
};

enum class Flow {
    None,
    RtsCts,
    XonXoff,
};

struct SerialSettings {
    int baud = 9600;
    int data_bits = 8;
    char parity = 'N'; // 'N', 'E' or 'O'
    int stop_bits = 1;
    Flow flow = Flow::None;
};

// One open printer connection; closed when it goes.
class Port {
public:
    virtual ~Port() = default;

    // Writes every byte before timeout_ms has passed. A network port also
    // waits until the printer has taken the bytes (nothing left unacknowledged
    // in the socket), so that a printer that stops reading is a time-out, not
    // a success.
    virtual WriteOutcome write_all(std::string_view bytes, int timeout_ms) = 0;

    // The same for the last bytes of a document. A network port ends its
    // sending side right behind them: a printer acknowledges the end of the
    // connection at once, where it may hold back the acknowledgement of
    // plain data for tens of milliseconds.
    virtual WriteOutcome write_last(std::string_view bytes, int timeout_ms) { return write_all(bytes, timeout_ms); }

    // Runs inside write_all the moment the last byte is in the system's hands
    // (a network port then still waits for the printer's acknowledgement,
    // which a printer may hold back for tens of milliseconds). From then on
    // the document arrives even when the program is killed.
    void set_handed_notice(std::function<void()> notice) { m_handed = std::move(notice); }

protected:
    void handed()
    {
        if (auto notice = std::move(m_handed)) {
            m_handed = nullptr;
            notice();
        }
    }

public:

    // What the printer sends back within timeout_ms, at most max bytes; empty
    // when nothing came. Fails when the connection cannot be read.
    virtual Result<std::string> read_some(size_t max, int timeout_ms) = 0;

    // Whether the printer can answer on this connection at all.
    virtual bool can_answer() const = 0;

    // Waits until the output queue is empty, looking every poll_ms, for at
    // most limit_ms, then settle_ms more. Only a serial port has such a queue;
    // the others succeed at once.
    virtual Status drain(int limit_ms, int poll_ms, int settle_ms) = 0;

    // After the last byte of a document: a network port ends its sending
    // side and waits, at most limit_ms, for the printer to close the
    // connection, so that a printer that drops the line instead is seen
    // (the error's code is then 10054). A printer that keeps the connection
    // open past the wait has acknowledged every byte and counts as done.
    // Devices succeed at once.
    virtual Status end_document(int limit_ms) = 0;

    // The end of a delivery: a network port shuts down its sending side
    // before closing, so the printer sees the end of the document; a device
    // that could not drain drops what is left instead of holding the close.
    virtual void finish(bool drained) = 0;

private:
    std::function<void()> m_handed;
};

// A non-blocking connect to an IPv4 address, waited for up to timeout_ms.
// The error's code is the program's code (10060 time-out, 10061 refused, ...).
Result<std::unique_ptr<Port>> open_tcp(std::string_view ipv4, int port, int timeout_ms);

// Opens a serial port for reading and writing, not shared with other
// programs. The error's code is errno.
Result<std::unique_ptr<Port>> open_serial(std::string const& device_path);
// Applies the line settings, DTR on and RTS on (or in handshake mode with
// RTS/CTS). The error's code is errno.
Status configure_serial(Port& port, SerialSettings const& settings);

// Opens a USB printer device for writing (and reading, when it is a
// character device that can answer). The error's code is errno.
Result<std::unique_ptr<Port>> open_usb(std::string const& device_path);

// True when the errno of a failed open means "busy or not allowed" rather
// than "no such device".
bool is_busy_or_denied(int code);

// A USB printer the usblp driver has: /sys/class/usbmisc/lp* with its
// interface folder resolved (it names the USB port, so it stays when lpN
// renumbers after a replug), its device node and its IEEE 1284 device id.
struct UsbPrinterDevice {
    std::string interface_path;
    std::string device_path;
    std::string ieee1284_id;
};
std::vector<UsbPrinterDevice> usb_printer_devices();

// A serial port that is really there: ttyS* with a UART behind it, ttyUSB*
// and ttyACM*. name is the device name ("ttyUSB0"); description is its
// /dev/serial/by-id name, else the USB product text, when there is one.
struct SerialPortDevice {
    std::string name;
    std::string device_path;
    std::string description;
};
std::vector<SerialPortDevice> serial_port_devices();

// The device node of a serial port name ("ttyS0" → "/dev/ttyS0").
std::string serial_device_path(std::string_view name);

// Tests point the enumerations at a made-up sysfs tree and device folder.
// Empty texts restore "/sys" and "/dev".
void set_device_roots_for_testing(std::string sysfs_root, std::string dev_root);

} // namespace tillbay::os::printer_port

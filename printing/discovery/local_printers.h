#pragma once

// The printers attached to this PC, as the printer set-up lists them: print
// queues, USB printers and serial ports. An interface, so that the listing
// can come from the printing subsystem's own enumerations, and tests can
// give a listing of their own.

#include "base/result.h"
#include "os/discovery_local.h"

#include <string>
#include <vector>

namespace tillbay::discovery {

struct LocalQueue {
    std::string name;
    std::string device_uri;
    std::string make_and_model;
};

struct UsbPrinterLink {
    std::string identity; // 64 lower-case hexadecimal digits
    std::string name;
};

struct SerialPortLink {
    std::string port; // "COM1", "ttyUSB0"
    std::string name;
};

class LocalPrinters {
public:
    virtual ~LocalPrinters() = default;
    // Fails when the print system cannot be asked.
    virtual Result<std::vector<LocalQueue>> queues() = 0;
    virtual std::vector<UsbPrinterLink> usb_printers() = 0;
    virtual std::vector<SerialPortLink> serial_ports() = 0;
};

// The listing from the machine: CUPS, usblp and the serial ports under the
// given roots.
class SystemLocalPrinters final : public LocalPrinters {
public:
    explicit SystemLocalPrinters(os::local::Roots roots = {})
        : m_roots(std::move(roots))
    {
    }
    Result<std::vector<LocalQueue>> queues() override;
    std::vector<UsbPrinterLink> usb_printers() override;
    std::vector<SerialPortLink> serial_ports() override;

private:
    os::local::Roots m_roots;
};

} // namespace tillbay::discovery

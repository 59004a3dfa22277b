#pragma once

// The printers attached to this PC, as the printer search lists them: the
// CUPS destinations, the usblp printers and the serial ports.

#include "base/result.h"

#include <string>
#include <vector>

namespace tillbay::os::local {

struct Roots {
    std::string sys = "/sys";
    std::string dev = "/dev";
};

struct Queue {
    std::string name;           // the destination's name ("name/instance" for an instance)
    std::string device_uri;     // "socket://192.168.0.50:9100", "usb://...", empty when unknown
    std::string make_and_model; // the driver's make and model, empty when unknown
};
// Every destination the CUPS scheduler offers. Fails when the scheduler
// cannot be asked.
Result<std::vector<Queue>> cups_queues();

struct UsbPrinter {
    std::string identity;    // lower-case SHA-256 of the interface's resolved sysfs path
    std::string name;        // "MFG MDL" from the IEEE 1284 id, else "USB 프린터"
    std::string device_path; // /dev/usb/lpN
};
// The usblp printers: <sys>/class/usbmisc/lp*, in name order.
std::vector<UsbPrinter> usb_printers(Roots const& roots);

struct SerialPort {
    std::string port;   // "COMn" for /dev/ttyS(n-1), else the tty name ("ttyUSB0")
    std::string name;   // the /dev/serial/by-id name, else the USB product, else empty
    std::string device; // /dev/ttyUSB0
};
// The serial ports present: <sys>/class/tty entries backed by a device
// (ttyS ports only when the UART is there), named from <dev>/serial/by-id.
std::vector<SerialPort> serial_ports(Roots const& roots);

} // namespace tillbay::os::local

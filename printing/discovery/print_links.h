#pragma once

// The quick listing of this PC's own printers for the printer set-up:
// window.setPrintLinks&&setPrintLinks({...}) with the saved connection of
// the printer being set up, the print queues worth offering (virtual
// printers, fax and screen-sharing queues left out), the USB printers and
// the serial ports.

#include "printing/discovery/local_printers.h"

#include <string>
#include <string_view>
#include <vector>

namespace tillbay::discovery {

// The saved connection of the receipt or kitchen printer and its
// description, as the printer settings give them.
struct SavedLink {
    std::string connection;
    std::string description;
};

struct PrintLinks {
    std::vector<LocalQueue> queues; // offered queues only
    bool queue_error = false;       // the print system could not be asked
    std::vector<UsbPrinterLink> usb;
    std::vector<SerialPortLink> serial;
};

// True for a queue that is not a real printer worth offering: PDF and
// document writers, fax, remote-desktop and screen-capture queues, queues
// that print to a file.
bool is_virtual_queue(LocalQueue const& queue);

// How the queue reaches its printer: "USB", "직렬/병렬", "네트워크",
// "공유 프린터", or else the device URI without any user name or password.
std::string queue_kind(std::string_view device_uri);

// The device URI as it may be shown: without a user name or password.
std::string shown_uri(std::string_view device_uri);

PrintLinks gather_print_links(LocalPrinters& printers);

// target is "k" for the kitchen printer, anything else the receipt printer.
std::string print_links_script(std::string_view target, SavedLink const& saved, PrintLinks const& links);

} // namespace tillbay::discovery

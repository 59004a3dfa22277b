#include "printing/discovery/local_printers.h"

namespace tillbay::discovery {

Result<std::vector<LocalQueue>> SystemLocalPrinters::queues()
{
    auto found = TRY(os::local::cups_queues());
    std::vector<LocalQueue> queues;
    for (auto& queue : found)
        queues.push_back({ std::move(queue.name), std::move(queue.device_uri), std::move(queue.make_and_model) });
    return queues;
}

std::vector<UsbPrinterLink> SystemLocalPrinters::usb_printers()
{
    std::vector<UsbPrinterLink> links;
    for (auto& printer : os::local::usb_printers(m_roots))
        links.push_back({ std::move(printer.identity), std::move(printer.name) });
    return links;
}

std::vector<SerialPortLink> SystemLocalPrinters::serial_ports()
{
    std::vector<SerialPortLink> links;
    for (auto& port : os::local::serial_ports(m_roots))
        links.push_back({ std::move(port.port), std::move(port.name) });
    return links;
}

} // namespace tillbay::discovery

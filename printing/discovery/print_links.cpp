#include "printing/discovery/print_links.h"

#include "foundation/json_text.h"
#include "printing/discovery/display_text.h"
#include "printing/local_printers.h"

#include <set>

namespace tillbay::discovery {

std::string shown_uri(std::string_view device_uri)
{
    return display_text(printing::uri_without_credentials(device_uri), 1023);
}

PrintLinks gather_print_links(LocalPrinters& printers)
{
    PrintLinks links;
    auto queues = printers.queues();
    if (queues.ok()) {
        for (auto& queue : queues.value())
            // A name that is not clean text could not be shown nor chosen as it is.
            if (!queue.name.empty() && display_text(queue.name, 511) == queue.name && !printing::is_unsuitable_queue(queue.name, queue.make_and_model, queue.device_uri))
                links.queues.push_back(std::move(queue));
    } else {
        links.queue_error = true;
    }
    links.usb = printers.usb_printers();
    std::set<std::string> seen;
    for (auto& port : printers.serial_ports()) {
        port.name = display_text(port.name);
        if (!port.port.empty() && seen.insert(port.port).second)
            links.serial.push_back(std::move(port));
    }
    return links;
}

std::string print_links_script(std::string_view target, SavedLink const& saved, PrintLinks const& links)
{
    std::string queues, usb, serial, details;
    for (auto const& queue : links.queues) {
        if (!queues.empty()) {
            queues += ",";
            details += ",";
        }
        queues += json::quote(queue.name);
        details += "{name:" + json::quote(queue.name) + ",kind:" + json::quote(display_text(printing::queue_kind(queue.device_uri), 1023))
            + ",uri:" + json::quote(shown_uri(queue.device_uri))
            + ",model:" + json::quote(display_text(queue.make_and_model)) + "}";
    }
    for (auto const& printer : links.usb) {
        if (!usb.empty())
            usb += ",";
        usb += "{id:" + json::quote(printer.identity) + ",name:" + json::quote(display_text(printer.name)) + "}";
    }
    for (auto const& port : links.serial) {
        if (!serial.empty())
            serial += ",";
        serial += "{port:" + json::quote(port.port) + ",name:" + json::quote(port.name) + "}";
    }
    return "window.setPrintLinks&&setPrintLinks({target:" + json::quote(target) + ",saved:" + json::quote(saved.connection)
        + ",description:" + json::quote(saved.description) + ",queues:[" + queues + "],usb:[" + usb + "],com:[" + serial
        + "],queueError:" + (links.queue_error ? "true" : "false") + ",queueInfo:[" + details + "]})";
}

} // namespace tillbay::discovery

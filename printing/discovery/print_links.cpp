#include "printing/discovery/print_links.h"

#include "base/ascii.h"
#include "foundation/json_text.h"
#include "printing/discovery/display_text.h"

#include <array>
#include <set>

namespace tillbay::discovery {

namespace {

constexpr std::array<std::string_view, 12> virtual_words = { "pdf", "xps", "onenote", "fax", "팩스", "anydesk",
    "teamviewer", "send to", "snagit", "foxit", "adobe", "microsoft print" };
constexpr std::array<std::string_view, 4> virtual_uri_starts = { "file:", "cups-pdf:", "cups-brf:", "/dev/null" };
constexpr std::array<std::string_view, 12> network_schemes = { "socket", "ipp", "ipps", "lpd", "http", "https",
    "dnssd", "implicitclass", "ipp14", "hp", "beh", "snmp" };

bool contains_ignoring_case(std::string_view text, std::string_view word)
{
    return ascii::lowered(text).find(word) != std::string::npos;
}

std::string scheme_of(std::string_view uri)
{
    size_t colon = uri.find(':');
    return colon == std::string_view::npos ? std::string {} : ascii::lowered(uri.substr(0, colon));
}

} // namespace

bool is_virtual_queue(LocalQueue const& queue)
{
    for (auto word : virtual_words)
        if (contains_ignoring_case(queue.name, word) || contains_ignoring_case(queue.make_and_model, word))
            return true;
    std::string uri = ascii::lowered(queue.device_uri);
    for (auto start : virtual_uri_starts)
        if (uri.substr(0, start.size()) == start)
            return true;
    return scheme_of(uri).find("fax") != std::string::npos;
}

std::string shown_uri(std::string_view device_uri)
{
    size_t separator = device_uri.find("://");
    if (separator == std::string_view::npos)
        return display_text(device_uri);
    size_t authority = separator + 3;
    size_t end = device_uri.find_first_of("/?#", authority);
    size_t at = device_uri.substr(authority, end == std::string_view::npos ? std::string_view::npos : end - authority)
                    .rfind('@');
    std::string shown(device_uri.substr(0, authority));
    shown += device_uri.substr(at == std::string_view::npos ? authority : authority + at + 1);
    return display_text(shown, 1023);
}

std::string queue_kind(std::string_view device_uri)
{
    std::string scheme = scheme_of(device_uri);
    if (scheme == "usb")
        return "USB";
    if (scheme == "serial" || scheme == "parallel")
        return "직렬/병렬";
    if (scheme == "smb")
        return "공유 프린터";
    for (auto network : network_schemes)
        if (scheme == network)
            return "네트워크";
    return shown_uri(device_uri);
}

PrintLinks gather_print_links(LocalPrinters& printers)
{
    PrintLinks links;
    auto queues = printers.queues();
    if (queues.ok()) {
        for (auto& queue : queues.value())
            // A name that is not clean text could not be shown nor chosen as it is.
            if (!queue.name.empty() && display_text(queue.name, 511) == queue.name && !is_virtual_queue(queue))
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
        details += "{name:" + json::quote(queue.name) + ",kind:" + json::quote(queue_kind(queue.device_uri))
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

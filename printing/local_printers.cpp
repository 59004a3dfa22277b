#include "printing/local_printers.h"

#include "base/ascii.h"
#include "os/crypto.h"
#include "os/printer_port.h"
#include "os/spooler.h"
#include "printing/utf8_text.h"

namespace tillbay::printing {

namespace {

bool contains_ignoring_case(std::string_view text, std::string_view word)
{
    if (word.size() > text.size())
        return false;
    for (size_t i = 0; i + word.size() <= text.size(); ++i) {
        if (ascii::equals_ignoring_case(text.substr(i, word.size()), word))
            return true;
    }
    return false;
}

// One field of an IEEE 1284 device id ("KEY:value;" pairs).
std::string id_field(std::string_view id, std::initializer_list<std::string_view> keys)
{
    size_t at = 0;
    while (at < id.size()) {
        size_t end = id.find(';', at);
        std::string_view pair = id.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        size_t colon = pair.find(':');
        if (colon != std::string_view::npos) {
            std::string_view key = pair.substr(0, colon);
            while (!key.empty() && key.front() == ' ')
                key.remove_prefix(1);
            for (auto wanted : keys) {
                if (ascii::equals_ignoring_case(key, wanted)) {
                    std::string value(pair.substr(colon + 1));
                    while (!value.empty() && value.back() == ' ')
                        value.pop_back();
                    return value;
                }
            }
        }
        if (end == std::string_view::npos)
            break;
        at = end + 1;
    }
    return {};
}

} // namespace

std::string uri_without_credentials(std::string_view uri)
{
    size_t separator = uri.find("://");
    if (separator == std::string_view::npos)
        return std::string(uri);
    size_t authority = separator + 3;
    size_t end = uri.find_first_of("/?#", authority);
    std::string_view host_part = uri.substr(authority, end == std::string_view::npos ? std::string_view::npos : end - authority);
    size_t at = host_part.rfind('@');
    std::string out(uri.substr(0, authority));
    out += uri.substr(at == std::string_view::npos ? authority : authority + at + 1);
    return out;
}

std::string queue_kind(std::string_view uri)
{
    size_t colon = uri.find(':');
    std::string scheme = colon == std::string_view::npos ? std::string {} : ascii::lowered(uri.substr(0, colon));
    if (scheme == "usb")
        return "USB";
    if (scheme == "serial" || scheme == "parallel")
        return "직렬/병렬";
    if (scheme == "smb")
        return "공유 프린터";
    for (std::string_view network : { "socket", "ipp", "ipps", "lpd", "http", "https", "dnssd", "implicitclass", "ipp14",
             "hp", "beh", "snmp" }) {
        if (scheme == network)
            return "네트워크";
    }
    return uri_without_credentials(uri);
}

bool is_unsuitable_queue(std::string_view name, std::string_view driver, std::string_view uri)
{
    for (std::string_view word : { "PDF", "XPS", "OneNote", "Fax", "팩스", "AnyDesk", "TeamViewer", "Send To", "Snagit",
             "Foxit", "Adobe", "Microsoft Print" }) {
        if (contains_ignoring_case(name, word) || contains_ignoring_case(driver, word))
            return true;
    }
    for (std::string_view word : { "PORTPROMPT", "nul", "SHRFAX", "XPSPort", "OneNote", "FILE:", "cups-pdf:", "cups-brf:" }) {
        if (contains_ignoring_case(uri, word))
            return true;
    }
    // Fax back ends ("fax:", "faxmodem:") and queues that print into nothing.
    size_t colon = uri.find(':');
    return (colon != std::string_view::npos && contains_ignoring_case(uri.substr(0, colon), "fax"))
        || ascii::starts_with_ignoring_case(uri, "/dev/null");
}

Result<std::vector<QueueEntry>> print_queues()
{
    auto queues = TRY(os::spooler::queues());
    std::vector<QueueEntry> out;
    for (auto const& queue : queues) {
        if (is_unsuitable_queue(queue.name, queue.make_model, queue.device_uri))
            continue;
        out.push_back({ without_controls(queue.name), queue_kind(without_controls(queue.device_uri)) });
    }
    return out;
}

std::string queue_lines(std::vector<QueueEntry> const& queues, size_t max_bytes)
{
    std::string out;
    for (auto const& queue : queues) {
        std::string line = queue.name + "\t" + queue.kind + "\n";
        if (out.size() + line.size() > max_bytes)
            break;
        out += line;
    }
    return out;
}

std::string usb_identity(std::string_view interface_path) { return os::sha256_hex(interface_path); }

std::string usb_printer_name(std::string_view ieee1284_id)
{
    std::string maker = without_controls(id_field(ieee1284_id, { "MFG", "MANUFACTURER" }));
    std::string model = without_controls(id_field(ieee1284_id, { "MDL", "MODEL" }));
    if (!maker.empty() && !model.empty() && !ascii::starts_with_ignoring_case(model, maker))
        return cut_utf8(maker + " " + model, 127);
    if (!model.empty())
        return cut_utf8(model, 127);
    if (!maker.empty())
        return cut_utf8(maker, 127);
    return "USB 프린터";
}

std::vector<UsbPrinter> usb_printers()
{
    std::vector<UsbPrinter> out;
    for (auto const& device : os::printer_port::usb_printer_devices())
        out.push_back({ usb_identity(device.interface_path), usb_printer_name(device.ieee1284_id), device.device_path });
    return out;
}

std::optional<std::string> usb_device_path(std::string_view identity)
{
    for (auto const& printer : usb_printers()) {
        if (ascii::equals_ignoring_case(printer.identity, identity))
            return printer.device_path;
    }
    return std::nullopt;
}

std::string usb_printer_lines(std::vector<UsbPrinter> const& printers)
{
    std::string out;
    for (auto const& printer : printers)
        out += printer.identity + "\t" + printer.name + "\n";
    return out;
}

std::vector<SerialPort> serial_ports()
{
    std::vector<SerialPort> out;
    for (auto const& device : os::printer_port::serial_port_devices()) {
        SerialPort port;
        if (device.name.starts_with("ttyS")) {
            port.port = "COM" + std::to_string(std::stol(device.name.substr(4)) + 1);
            // The page already says it is a serial port; the name adds the device.
            port.name = device.name;
        } else {
            port.port = device.name;
            std::string description = without_controls(device.description);
            port.name = description.empty() ? "USB 직렬 포트 (" + device.name + ")" : description + " (" + device.name + ")";
        }
        out.push_back(std::move(port));
    }
    return out;
}

} // namespace tillbay::printing

#include "os/discovery_local.h"

#include "os/crypto.h"

#include <cups/cups.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace tillbay::os::local {

namespace {

constexpr size_t max_attribute_bytes = 1024;
constexpr size_t max_entries = 512;
constexpr char const* usb_printer_default_name = "USB 프린터";

std::string read_attribute(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::string text(max_attribute_bytes, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    return text;
}

std::string without_controls(std::string_view text)
{
    std::string out;
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 32 && c != 127)
            out += c;
    return out;
}

std::vector<std::string> entries(std::string const& folder)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return names;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        names.push_back(name);
        if (names.size() >= max_entries)
            break;
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::string resolved(std::string const& path)
{
    char buffer[PATH_MAX];
    if (!::realpath(path.c_str(), buffer))
        return {};
    return buffer;
}

bool exists(std::string const& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// One field of an IEEE 1284 device id ("MFG:Acme;MDL:T-100;..."), looked up
// under its short and long key.
std::string id_field(std::string_view id, std::string_view short_key, std::string_view long_key)
{
    size_t start = 0;
    while (start < id.size()) {
        size_t end = id.find(';', start);
        if (end == std::string_view::npos)
            end = id.size();
        std::string_view pair = id.substr(start, end - start);
        size_t colon = pair.find(':');
        if (colon != std::string_view::npos) {
            std::string_view key = pair.substr(0, colon);
            while (!key.empty() && key.front() == ' ')
                key.remove_prefix(1);
            if (key == short_key || key == long_key)
                return without_controls(pair.substr(colon + 1));
        }
        start = end + 1;
    }
    return {};
}

// The digits at the end of a tty name, or -1.
long trailing_number(std::string_view name, std::string_view prefix)
{
    if (name.substr(0, prefix.size()) != prefix || name.size() == prefix.size() || name.size() > prefix.size() + 6)
        return -1;
    long value = 0;
    for (char c : name.substr(prefix.size())) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string usb_product_above(std::string path)
{
    for (int level = 0; level < 5 && !path.empty() && path != "/"; ++level) {
        std::string product = read_attribute(path + "/product");
        if (!product.empty())
            return without_controls(product);
        path = path.substr(0, path.rfind('/'));
    }
    return {};
}

} // namespace

Result<std::vector<Queue>> cups_queues()
{
    cups_dest_t* dests = nullptr;
    int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    if (count == 0 && cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE)
        return Error::from_detail(std::string("cupsGetDests2: ") + cupsLastErrorString(), cupsLastError());
    std::vector<Queue> queues;
    for (int i = 0; i < count && queues.size() < max_entries; ++i) {
        cups_dest_t const& dest = dests[i];
        Queue queue;
        queue.name = dest.name ? dest.name : "";
        if (dest.instance)
            queue.name += std::string("/") + dest.instance;
        if (char const* uri = cupsGetOption("device-uri", dest.num_options, dest.options))
            queue.device_uri = uri;
        if (char const* model = cupsGetOption("printer-make-and-model", dest.num_options, dest.options))
            queue.make_and_model = model;
        queues.push_back(std::move(queue));
    }
    cupsFreeDests(count, dests);
    return queues;
}

std::vector<UsbPrinter> usb_printers(Roots const& roots)
{
    std::vector<UsbPrinter> printers;
    std::string folder = roots.sys + "/class/usbmisc";
    for (std::string const& name : entries(folder)) {
        if (trailing_number(name, "lp") < 0)
            continue;
        std::string interface = resolved(folder + "/" + name + "/device");
        if (interface.empty())
            continue;
        UsbPrinter printer;
        printer.identity = os::sha256_hex(interface);
        std::string id = read_attribute(interface + "/ieee1284_id");
        std::string maker = id_field(id, "MFG", "MANUFACTURER");
        std::string model = id_field(id, "MDL", "MODEL");
        printer.name = maker.empty() ? model : (model.empty() ? maker : maker + " " + model);
        if (printer.name.empty())
            printer.name = usb_printer_default_name;
        printer.device_path = roots.dev + "/usb/" + name;
        printers.push_back(std::move(printer));
    }
    return printers;
}

std::vector<SerialPort> serial_ports(Roots const& roots)
{
    // The by-id names first: each link names the tty it points at.
    std::vector<std::pair<std::string, std::string>> by_id; // tty name, by-id name
    std::string by_id_folder = roots.dev + "/serial/by-id";
    for (std::string const& link : entries(by_id_folder)) {
        std::string target = resolved(by_id_folder + "/" + link);
        if (!target.empty())
            by_id.emplace_back(target.substr(target.rfind('/') + 1), without_controls(link));
    }

    std::vector<SerialPort> ports;
    std::set<std::string> seen;
    std::string folder = roots.sys + "/class/tty";
    for (std::string const& name : entries(folder)) {
        long uart = trailing_number(name, "ttyS");
        bool usb = trailing_number(name, "ttyUSB") >= 0 || trailing_number(name, "ttyACM") >= 0;
        if (uart < 0 && !usb)
            continue;
        std::string entry = folder + "/" + name;
        if (!exists(entry + "/device"))
            continue;
        // Every ttyS line exists whether or not a UART answers; type 0 is "no port here".
        if (uart >= 0) {
            std::string type = read_attribute(entry + "/type");
            if (type.empty() || type == "0" || uart >= 4096)
                continue;
        }
        SerialPort port;
        port.port = uart >= 0 ? "COM" + std::to_string(uart + 1) : name;
        if (!seen.insert(port.port).second)
            continue;
        port.device = roots.dev + "/" + name;
        for (auto const& [tty, id_name] : by_id)
            if (tty == name)
                port.name = id_name;
        if (port.name.empty() && usb)
            port.name = usb_product_above(resolved(entry + "/device"));
        ports.push_back(std::move(port));
    }
    // The COM ports first, by number, then the USB ones by name.
    auto com_number = [](SerialPort const& port) { return port.port.rfind("COM", 0) == 0 ? std::stol(port.port.substr(3)) : LONG_MAX; };
    std::stable_sort(ports.begin(), ports.end(), [&](auto const& a, auto const& b) { return com_number(a) < com_number(b); });
    return ports;
}

} // namespace tillbay::os::local

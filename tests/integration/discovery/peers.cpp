#include "tests/integration/discovery/peers.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace tillbay::test {

namespace {

void write(std::string const& path, std::string const& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string folder_for(Lan& lan, std::string const& name)
{
    std::string folder = lan.folder() + "/" + name;
    std::filesystem::create_directories(folder);
    return folder;
}

} // namespace

bool wait_for_text(std::string const& path, std::string const& text, int timeout_ms)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        if (content.str().find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

Process start_avahi(Lan& lan, std::string const& ns, std::string const& host_name, std::string const& service_xml)
{
    std::string folder = folder_for(lan, "avahi-" + host_name);
    std::filesystem::create_directories(folder + "/services");
    write(folder + "/services/printer.service", service_xml);
    write(folder + "/avahi-daemon.conf",
        "[server]\nhost-name=" + host_name
            + "\ndomain-name=local\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=eth0\nenable-dbus=no\n"
              "ratelimit-interval-usec=1000000\nratelimit-burst=1000\n"
              "[wide-area]\nenable-wide-area=no\n[publish]\npublish-workstation=no\npublish-hinfo=no\n"
              "[reflector]\nenable-reflector=no\n[rlimits]\n");
    std::string script = "mount -t tmpfs tbd /run && mkdir -p /run/avahi-daemon && mount --bind " + folder
        + "/services /etc/avahi/services && exec avahi-daemon -f " + folder
        + "/avahi-daemon.conf --no-drop-root --no-chroot --no-rlimits --debug";
    std::string log = folder + "/log";
    Process process = lan.spawn(ns, { "unshare", "-m", "sh", "-c", script }, {}, log);
    wait_for_text(log, "Server startup complete");
    wait_for_text(log, "successfully established", 5000);
    return process;
}

Process start_snmpd(Lan& lan, std::string const& ns, std::string const& address, std::string const& description)
{
    std::string folder = folder_for(lan, "snmpd-" + address);
    write(folder + "/snmpd.conf",
        "agentaddress udp:" + address + ":161\nrocommunity public default\nsysdescr " + description
            + "\nsysservices 72\n");
    std::string log = folder + "/log";
    Process process = lan.spawn(ns,
        { "snmpd", "-f", "-Lo", "-C", "-c", folder + "/snmpd.conf", "-p", folder + "/snmpd.pid", "-M", "/nonexistent" },
        { "SNMP_PERSISTENT_DIR=" + folder, "MIBS=" }, log);
    wait_for_text(log, "NET-SNMP version");
    return process;
}

Process start_printer(Lan& lan, std::string const& ns, std::string const& address)
{
    std::string folder = folder_for(lan, "printer-" + address);
    std::string log = folder + "/log";
    Process process = lan.spawn(ns,
        { build_path("tools/printer/tillbay-printer"), "--bind", address, "--port", "9100", "--jobs", folder + "/jobs" },
        {}, log);
    wait_for_text(log, "listening on");
    return process;
}

Process start_listener(Lan& lan, std::string const& ns, std::string const& address, int port)
{
    Process process = lan.spawn(ns,
        { "socat", "TCP-LISTEN:" + std::to_string(port) + ",bind=" + address + ",fork,reuseaddr", "/dev/null" });
    // socat says nothing when it listens: look for the socket.
    for (int i = 0; i < 100; ++i) {
        std::string out;
        lan.exec(ns, { "ss", "-ltnH", "sport = :" + std::to_string(port) }, &out);
        if (!out.empty())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return process;
}

Process start_wsd_responder(Lan& lan, std::string const& ns, std::string const& address, bool doctype)
{
    std::string folder = folder_for(lan, "wsd-" + address);
    std::string log = folder + "/log";
    std::vector<std::string> argv { build_path("tests/integration/discovery/tb-wsd-responder"), "--address", address };
    if (doctype)
        argv.push_back("--doctype");
    Process process = lan.spawn(ns, argv, {}, log);
    wait_for_text(log, "ready");
    return process;
}

Process start_cupsd(Lan& lan, std::string const& ns, std::string* socket)
{
    std::string folder = folder_for(lan, "cups");
    for (char const* sub : { "root", "spool", "cache", "state", "tmp", "log" })
        std::filesystem::create_directories(folder + "/" + sub);
    *socket = folder + "/cups.sock";
    write(folder + "/root/cupsd.conf",
        "Listen " + *socket
            + "\nBrowsing No\nWebInterface No\nDefaultAuthType None\nLogLevel warn\n"
              "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
              "<Location /admin>\n  Order allow,deny\n  Allow all\n</Location>\n"
              "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n");
    write(folder + "/root/cups-files.conf",
        "ServerRoot " + folder + "/root\nRequestRoot " + folder + "/spool\nCacheDir " + folder + "/cache\nStateDir "
            + folder + "/state\nTempDir " + folder + "/tmp\nErrorLog " + folder + "/log/error_log\nAccessLog "
            + folder + "/log/access_log\nPageLog " + folder + "/log/page_log\nSystemGroup root\nFileDevice No\n");
    ::chmod(folder.c_str(), 0755);
    Process process = lan.spawn(ns,
        { "cupsd", "-f", "-c", folder + "/root/cupsd.conf", "-s", folder + "/root/cups-files.conf" }, {},
        folder + "/log/stdout");
    for (int i = 0; i < 200 && !std::filesystem::exists(*socket); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return process;
}

bool add_raw_queue(Lan& lan, std::string const& ns, std::string const& socket, std::string const& name,
    std::string const& device_uri)
{
    std::string out;
    int status = lan.exec(ns, { "lpadmin", "-h", socket, "-p", name, "-v", device_uri, "-m", "raw", "-E" }, &out);
    return status == 0;
}

} // namespace tillbay::test

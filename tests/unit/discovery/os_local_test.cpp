// The machine readers of the printer search against made-up sysfs, dev and
// procfs trees: interface kinds, the ARP table text, usblp printers and
// serial ports.

#include "os/discovery_lan.h"
#include "os/crypto.h"
#include "os/discovery_local.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace tillbay::os;
namespace fs = std::filesystem;

namespace {

class Tree {
public:
    Tree() : root(fs::temp_directory_path() / ("tbd-tree-" + std::to_string(::getpid())))
    {
        fs::remove_all(root);
    }
    ~Tree() { fs::remove_all(root); }
    void file(std::string const& path, std::string const& text)
    {
        fs::create_directories((root / path).parent_path());
        std::ofstream(root / path) << text;
    }
    void folder(std::string const& path) { fs::create_directories(root / path); }
    void link(std::string const& path, std::string const& target)
    {
        fs::create_directories((root / path).parent_path());
        fs::create_directory_symlink(target, root / path);
    }
    std::string operator()(std::string const& path) const { return (root / path).string(); }
    fs::path root;
};

TEST(LanReaders, InterfaceKindFromSysfs)
{
    Tree t;
    t.file("sys/class/net/eth0/type", "1\n");
    t.file("sys/class/net/wlan0/type", "1\n");
    t.folder("sys/class/net/wlan0/wireless");
    t.file("sys/class/net/tun0/type", "65534\n");
    lan::Roots roots { t("sys"), t("proc") };
    EXPECT_EQ(lan::interface_kind("eth0", roots), lan::InterfaceKind::Ethernet);
    EXPECT_EQ(lan::interface_kind("wlan0", roots), lan::InterfaceKind::Wireless);
    EXPECT_EQ(lan::interface_kind("tun0", roots), lan::InterfaceKind::Other);
    EXPECT_EQ(lan::interface_kind("missing", roots), lan::InterfaceKind::Other);
    EXPECT_EQ(lan::interface_kind("../../etc", roots), lan::InterfaceKind::Other);
}

TEST(LanReaders, ProcArpRows)
{
    std::string text = "IP address       HW type     Flags       HW address            Mask     Device\n"
                       "192.168.0.1      0x1         0x2         00:11:22:33:44:55     *        eth0\n"
                       "192.168.0.77     0x1         0x0         00:00:00:00:00:00     *        eth0\n"
                       "not-an-address   0x1         0x2         00:11:22:33:44:55     *        eth0\n"
                       "192.168.0.9      0x1         0x6         00:11:22:33:44:66     *        eth0\n";
    auto rows = lan::parse_proc_arp(text, 10);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].address, 0xC0A80001u);
    EXPECT_EQ(rows[0].state, lan::NeighbourState::Known);
    EXPECT_EQ(rows[1].state, lan::NeighbourState::Incomplete);
    EXPECT_EQ(rows[2].state, lan::NeighbourState::Known);
    EXPECT_EQ(lan::parse_proc_arp(text, 1).size(), 1u);
}

TEST(LocalReaders, UsbPrintersFromUsblp)
{
    Tree t;
    t.file("sys/devices/usb1/1-1/1-1:1.0/ieee1284_id", "MFG:EPSON;CMD:ESCPOS;MDL:TM-T82\x01;CLS:PRINTER;");
    t.folder("sys/devices/usb1/1-3/1-3:1.0");
    t.link("sys/class/usbmisc/lp0/device", t("sys/devices/usb1/1-1/1-1:1.0"));
    t.link("sys/class/usbmisc/lp1/device", t("sys/devices/usb1/1-3/1-3:1.0"));
    t.folder("sys/class/usbmisc/hiddev0");
    auto printers = local::usb_printers({ t("sys"), t("dev") });
    ASSERT_EQ(printers.size(), 2u);
    EXPECT_EQ(printers[0].name, "EPSON TM-T82");
    EXPECT_EQ(printers[0].device_path, t("dev") + "/usb/lp0");
    EXPECT_EQ(printers[0].identity.size(), 64u);
    EXPECT_EQ(printers[0].identity, sha256_hex(fs::canonical(t("sys/devices/usb1/1-1/1-1:1.0")).string()));
    EXPECT_EQ(printers[1].name, "USB 프린터");
}

TEST(LocalReaders, SerialPortsThatArePresent)
{
    Tree t;
    t.folder("sys/class/tty/ttyS0/device");
    t.file("sys/class/tty/ttyS0/type", "4\n");
    t.folder("sys/class/tty/ttyS1/device");
    t.file("sys/class/tty/ttyS1/type", "0\n"); // no UART behind it
    t.folder("sys/class/tty/tty0");            // a console, no device
    t.file("sys/devices/usb1/1-2/product", "USB-Serial Controller\n");
    t.folder("sys/devices/usb1/1-2/1-2:1.0/ttyUSB0");
    t.link("sys/class/tty/ttyUSB0/device", t("sys/devices/usb1/1-2/1-2:1.0/ttyUSB0"));
    t.folder("sys/class/tty/ttyACM0/device");
    t.file("dev/ttyACM0", "");
    fs::create_directories(t.root / "dev/serial/by-id");
    fs::create_symlink(t("dev/ttyACM0"), t.root / "dev/serial/by-id/usb-Acme_Receipt_Printer-if00");
    auto ports = local::serial_ports({ t("sys"), t("dev") });
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0].port, "COM1");
    EXPECT_EQ(ports[0].name, "");
    EXPECT_EQ(ports[1].port, "ttyACM0");
    EXPECT_EQ(ports[1].name, "usb-Acme_Receipt_Printer-if00");
    EXPECT_EQ(ports[2].port, "ttyUSB0");
    EXPECT_EQ(ports[2].name, "USB-Serial Controller");
}

} // namespace

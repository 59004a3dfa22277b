// A USB printer as the usblp driver shows it, made up in the test's own
// folders: /sys/class/usbmisc/lp0 linked into a USB interface folder with
// its IEEE 1284 id, and /dev/usb/lp0 a FIFO the test reads (or holds
// without reading). The identity is the SHA-256 of the interface folder,
// so it stays when lp0 becomes lp3; the name comes from the 1284 id; a
// write that stalls times out after five seconds.

#include "printer_peer.h"

#include "os/crypto.h"
#include "os/printer_port.h"
#include "printing/connection_address.h"
#include "printing/delivery.h"
#include "printing/local_printers.h"
#include "printing/test_pages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace tillbay;
using namespace tillbay::printing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr char const* interface_folder = "devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0";

class UsbPrinterFolders : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = printing_test::make_dir("tb-usb");
        m_sys = m_dir + "/sys";
        m_dev = m_dir + "/dev";
        fs::create_directories(m_dev + "/usb");
        add_printer("lp0", "MFG:EPSON;CMD:ESC/POS;MDL:TM-T20II;CLS:PRINTER;DES:EPSON TM-T20II;");
        ASSERT_EQ(::mkfifo((m_dev + "/usb/lp0").c_str(), 0600), 0);
        os::printer_port::set_device_roots_for_testing(m_sys, m_dev);
    }
    void TearDown() override
    {
        os::printer_port::set_device_roots_for_testing("", "");
        printing_test::remove_tree(m_dir);
    }

    void add_printer(std::string const& lp, std::string const& ieee1284_id)
    {
        std::string interface = m_sys + "/" + interface_folder;
        fs::create_directories(interface + "/usbmisc/" + lp);
        std::ofstream(interface + "/ieee1284_id") << ieee1284_id << "\n";
        fs::create_directory_symlink("../..", interface + "/usbmisc/" + lp + "/device");
        fs::create_directories(m_sys + "/class/usbmisc");
        fs::create_directory_symlink(std::string("../../") + interface_folder + "/usbmisc/" + lp, m_sys + "/class/usbmisc/" + lp);
    }
    std::string identity() const { return os::sha256_hex(fs::canonical(m_sys + "/" + interface_folder).string()); }

    std::string m_dir, m_sys, m_dev;
};

// Reads the FIFO until it has size bytes or the time is up.
std::string read_fifo(int fd, size_t size)
{
    std::string got;
    char buffer[4096];
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (got.size() < size && std::chrono::steady_clock::now() < deadline) {
        pollfd p { fd, POLLIN, 0 };
        if (::poll(&p, 1, 100) <= 0)
            continue;
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

TEST_F(UsbPrinterFolders, IdentityAndNameSurviveRenumbering)
{
    auto printers = usb_printers();
    ASSERT_EQ(printers.size(), 1u);
    EXPECT_EQ(printers[0].identity, identity());
    EXPECT_EQ(printers[0].identity.size(), 64u);
    EXPECT_EQ(printers[0].name, "EPSON TM-T20II");
    EXPECT_EQ(printers[0].device_path, m_dev + "/usb/lp0");
    EXPECT_EQ(usb_printer_lines(printers), identity() + "\tEPSON TM-T20II\n");

    // Replugged: the same interface now shows up as lp3.
    fs::remove(m_sys + "/class/usbmisc/lp0");
    fs::remove_all(m_sys + "/" + interface_folder + "/usbmisc/lp0");
    add_printer("lp3", "MFG:EPSON;MDL:TM-T20II;");
    auto again = usb_printers();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].identity, identity());
    EXPECT_EQ(again[0].device_path, m_dev + "/usb/lp3");
    EXPECT_EQ(usb_device_path(identity()), m_dev + "/usb/lp3");

    struct NameCase {
        std::string id;
        std::string name;
    };
    for (auto const& c : std::vector<NameCase> { { "MANUFACTURER:Bixolon;MODEL:SRP-350III;", "Bixolon SRP-350III" },
             { "MFG:EPSON;MDL:EPSON TM-T88V;", "EPSON TM-T88V" }, { "CLS:PRINTER;", "USB 프린터" }, { "", "USB 프린터" },
             { "MDL:Receipt\x01;", "Receipt" } })
        EXPECT_EQ(usb_printer_name(c.id), c.name) << c.id;
}

TEST_F(UsbPrinterFolders, DeliveryByIdentityInEitherCase)
{
    int reader = ::open((m_dev + "/usb/lp0").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    PrinterRecord record;
    auto page = build_test_page(record);
    ASSERT_TRUE(page.ok());
    std::string upper = identity();
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    auto sent = send_now({ "usb|" + upper, "" }, page.value().bytes);
    ASSERT_TRUE(sent.ok()) << sent.error().message;
    EXPECT_EQ(read_fifo(reader, page.value().bytes.size()), page.value().bytes)
        << "a FIFO cannot answer: no status question goes to it";

    // The older route without an address or a name takes the first USB printer.
    auto legacy = send_now({ "", "" }, "\x1b@legacy\n");
    ASSERT_TRUE(legacy.ok()) << legacy.error().message;
    EXPECT_EQ(read_fifo(reader, 9), "\x1b@legacy\n");
    ::close(reader);

    auto missing = send_now({ "usb|" + std::string(64, '0'), "" }, page.value().bytes);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().message, "선택한 USB 프린터가 없습니다. 연결을 확인하거나 장치를 다시 선택하세요");
    auto unplugged = send_now({ "usb|" + identity(), "" }, page.value().bytes);
    ASSERT_FALSE(unplugged.ok()) << "nobody reads the FIFO: the device is not there";
    EXPECT_EQ(unplugged.error().message, "USB 열기 실패 (6) — 장치 연결과 포트 번호를 확인하세요");
}

TEST_F(UsbPrinterFolders, AWriteThatStallsTimesOutAfterFiveSeconds)
{
    int reader = ::open((m_dev + "/usb/lp0").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_GT(::fcntl(reader, F_SETPIPE_SZ, 4096), 0);
    std::string document = "\x1b@";
    while (document.size() < 20000)
        document += "0123456789 ABCDEFGHIJ\n";
    auto started = std::chrono::steady_clock::now();
    auto sent = send_now({ "usb|" + identity(), "" }, document);
    auto took = std::chrono::steady_clock::now() - started;
    ::close(reader);
    ASSERT_FALSE(sent.ok());
    EXPECT_EQ(sent.error().message, "USB 전송 실패 (258) — 일부 전송됨. 출력 여부 확인 후 재인쇄하세요");
    EXPECT_GE(took, 5s);
    EXPECT_LT(took, 7s);
}

TEST_F(UsbPrinterFolders, SavedIdentityInUpperCaseIsStoredInLowerCase)
{
    std::string upper = identity();
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(stored_address("usb|" + upper), "usb|" + identity());
    PrinterRecord record;
    record.connection = "usb|" + upper;
    EXPECT_EQ(describe(record, true).text, "USB 개별 장치 " + identity().substr(0, 8));
}

} // namespace

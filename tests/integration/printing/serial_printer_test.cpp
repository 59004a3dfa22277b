// A serial printer on a socat pseudo-terminal pair: the program opens one
// end as "ttyUSB0" (the device folder points at the test's own), the test
// plays the printer on the other end, answering status requests the way
// tillbay-printer does. The bytes arrive with the configured line settings;
// a printer out of paper refuses the job; a port held by XOFF stalls the
// write until its deadline; the ports this PC has are listed from a
// made-up sysfs tree.

#include "printer_peer.h"

#include "os/printer_port.h"
#include "printing/delivery.h"
#include "printing/local_printers.h"
#include "printing/test_pages.h"
#include "tools/printer/printer_status.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <fstream>
#include <filesystem>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace tillbay;
using namespace tillbay::printing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// The printer's end of the line: reads everything, answers status requests.
class SerialPrinter {
public:
    // With xoff, the printer sends XOFF together with its last status
    // answer, and never XON: the line is held before the document starts.
    SerialPrinter(std::string const& path, printer::PaperReport report, bool answers = true, bool xoff = false)
        : m_report(report)
        , m_answers(answers)
        , m_xoff(xoff)
    {
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd >= 0) {
            termios tio {};
            ::tcgetattr(m_fd, &tio);
            ::cfmakeraw(&tio);
            ::tcsetattr(m_fd, TCSANOW, &tio);
        }
        m_thread = std::thread([this] { run(); });
    }
    ~SerialPrinter()
    {
        m_stop = true;
        m_thread.join();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool opened() const { return m_fd >= 0; }
    void send(std::string const& bytes) { [[maybe_unused]] auto n = ::write(m_fd, bytes.data(), bytes.size()); }
    // The job's bytes once size of them have come, or what came in time.
    std::string job(size_t size, std::chrono::milliseconds wait = 10s)
    {
        e2e::wait_for([&] { return received_size() >= size; }, wait);
        std::lock_guard guard(m_lock);
        return m_job;
    }
    size_t received_size()
    {
        std::lock_guard guard(m_lock);
        return m_job.size();
    }
    int questions() const { return m_questions; }

private:
    void run()
    {
        char buffer[4096];
        while (!m_stop) {
            pollfd p { m_fd, POLLIN, 0 };
            if (::poll(&p, 1, 50) <= 0)
                continue;
            ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                continue;
            std::string job = m_requests.take(std::string_view(buffer, static_cast<size_t>(n)), [&](int request) {
                ++m_questions;
                if (m_answers)
                    send(std::string(1, printer::status_answer(m_report, request)) + (m_xoff && request == 4 ? "\x13" : ""));
            });
            std::lock_guard guard(m_lock);
            m_job += job;
        }
    }

    int m_fd = -1;
    printer::PaperReport m_report;
    bool m_answers;
    bool m_xoff;
    printer::StatusRequests m_requests;
    std::mutex m_lock;
    std::string m_job;
    std::atomic<int> m_questions { 0 };
    std::atomic<bool> m_stop { false };
    std::thread m_thread;
};

class SerialLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = printing_test::make_dir("tb-serial");
        fs::create_directories(m_dir + "/dev");
        fs::create_directories(m_dir + "/sys");
        m_socat = e2e::Child::start({ "socat", "-d", "-d", "pty,raw,echo=0,link=" + m_dir + "/dev/ttyUSB0",
                                        "pty,raw,echo=0,link=" + m_dir + "/dev/peer" },
            {}, m_dir + "/socat.log");
        ASSERT_TRUE(e2e::wait_for([&] { return fs::exists(m_dir + "/dev/ttyUSB0") && fs::exists(m_dir + "/dev/peer"); }, 5s))
            << e2e::read_text(m_dir + "/socat.log");
        os::printer_port::set_device_roots_for_testing(m_dir + "/sys", m_dir + "/dev");
    }
    void TearDown() override
    {
        os::printer_port::set_device_roots_for_testing("", "");
        m_socat.stop();
        printing_test::remove_tree(m_dir);
    }

    std::string peer() const { return m_dir + "/dev/peer"; }
    std::string port() const { return m_dir + "/dev/ttyUSB0"; }

    std::string m_dir;
    e2e::Child m_socat;
};

Result<Document> test_page()
{
    PrinterRecord record;
    record.width = 58;
    return build_test_page(record);
}

TEST_F(SerialLine, DocumentArrivesWithTheConfiguredLineSettings)
{
    SerialPrinter printer(peer(), printer::PaperReport::Ok);
    ASSERT_TRUE(printer.opened());
    auto page = test_page();
    ASSERT_TRUE(page.ok());
    auto sent = send_now({ "com|ttyUSB0|19200|7|O|2|rtscts|v1", "" }, page.value().bytes);
    ASSERT_TRUE(sent.ok()) << sent.error().message;
    EXPECT_EQ(printer.job(page.value().bytes.size()), page.value().bytes);
    EXPECT_EQ(printer.questions(), 3) << "asked for the printer, its offline cause and its paper";

    // The line keeps what the program set while socat holds the pair open;
    // a pseudo-terminal keeps the speed, the stop bits and the flow control
    // (its driver always reads eight data bits without parity).
    int fd = ::open(port().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios tio {};
    ASSERT_EQ(::tcgetattr(fd, &tio), 0);
    ::close(fd);
    EXPECT_EQ(::cfgetospeed(&tio), B19200);
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_TRUE(tio.c_cflag & CRTSCTS);
    EXPECT_FALSE(tio.c_iflag & IXON);

    auto second = send_now({ "com|ttyUSB0|9600|8|N|1|xonxoff|v1", "" }, "\x1b@again\n");
    ASSERT_TRUE(second.ok()) << second.error().message;
    ASSERT_EQ(::tcgetattr(fd = ::open(port().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK), &tio), 0);
    ::close(fd);
    EXPECT_EQ(::cfgetospeed(&tio), B9600);
    EXPECT_FALSE(tio.c_cflag & (CSTOPB | CRTSCTS));
    EXPECT_TRUE(tio.c_iflag & IXON);
    EXPECT_TRUE(tio.c_iflag & IXOFF);
}

TEST_F(SerialLine, PrinterWithoutPaperRefusesAndASilentOneStillPrints)
{
    auto page = test_page();
    {
        SerialPrinter printer(peer(), printer::PaperReport::PaperOut);
        auto sent = send_now({ "com|ttyUSB0|9600|8|N|1|none|v1", "" }, page.value().bytes);
        ASSERT_FALSE(sent.ok());
        EXPECT_EQ(sent.error().message, "프린터에 용지가 없습니다. 용지를 넣은 뒤 다시 인쇄하세요");
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(printer.received_size(), 0u);
    }
    SerialPrinter silent(peer(), printer::PaperReport::Ok, false);
    auto sent = send_now({ "com|ttyUSB0|9600|8|N|1|none|v1", "" }, page.value().bytes);
    ASSERT_TRUE(sent.ok()) << sent.error().message;
    EXPECT_EQ(silent.job(page.value().bytes.size()), page.value().bytes);
    EXPECT_EQ(silent.questions(), 1) << "a printer that does not answer is asked once";
}

TEST_F(SerialLine, PortFaults)
{
    auto page = test_page();
    auto missing = send_now({ "com|ttyUSB7|9600|8|N|1|none|v1", "" }, page.value().bytes);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().message, "COM 열기 실패 (2) — 장치 연결과 포트 번호를 확인하세요");

    int holder = ::open(port().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    auto busy = send_now({ "com|ttyUSB0|9600|8|N|1|none|v1", "" }, page.value().bytes);
    ::close(holder);
    ASSERT_FALSE(busy.ok());
    EXPECT_EQ(busy.error().message, "COM 열기 실패 (16) — 다른 프로그램 사용 중이거나 접근 권한이 없습니다");
}

TEST_F(SerialLine, PrinterHoldingXoffStallsTheWriteUntilItsDeadline)
{
    SerialPrinter printer(peer(), printer::PaperReport::Ok, true, true);
    std::string document = "\x1b@";
    while (document.size() < 32000)
        document += "0123456789 가나다라마바사 ABCDEFGHIJ\n";
    auto started = std::chrono::steady_clock::now();
    auto sent = send_now({ "com|ttyUSB0|9600|8|N|1|xonxoff|v1", "" }, document);
    auto took = std::chrono::steady_clock::now() - started;
    ASSERT_FALSE(sent.ok());
    EXPECT_EQ(sent.error().message, "COM 전송 실패 (258)") << "held before the first byte: nothing was sent";
    EXPECT_EQ(printer.received_size(), 0u);
    EXPECT_GE(took, 5s);
    EXPECT_LT(took, 8s);
}

TEST_F(SerialLine, PortsOfThisPc)
{
    std::string sys = m_dir + "/sys";
    auto make = [](std::string const& path, std::string const& text) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path) << text;
    };
    make(sys + "/devices/platform/serial8250/tty/ttyS0/type", "4\n");
    make(sys + "/devices/platform/serial8250/tty/ttyS1/type", "0\n");
    make(sys + "/devices/pci0000:00/usb1/1-1/product", "USB-Serial Controller\n");
    make(sys + "/devices/pci0000:00/usb1/1-1/manufacturer", "Prolific\n");
    fs::create_directories(sys + "/devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0");
    fs::create_directories(sys + "/class/tty/ttyACM0");
    fs::create_directories(sys + "/class/tty/tty5");
    fs::create_directory_symlink("../../devices/platform/serial8250/tty/ttyS0", sys + "/class/tty/ttyS0");
    fs::create_directory_symlink("../../devices/platform/serial8250/tty/ttyS1", sys + "/class/tty/ttyS1");
    fs::create_directory_symlink("../../..", sys + "/devices/platform/serial8250/tty/ttyS0/device");
    fs::create_directory_symlink("../../..", sys + "/devices/platform/serial8250/tty/ttyS1/device");
    fs::create_directory_symlink("../../devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0", sys + "/class/tty/ttyUSB0");
    fs::create_directory_symlink("../..", sys + "/devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0/device");

    auto ports = serial_ports();
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].port, "COM1");
    EXPECT_EQ(ports[0].name, "ttyS0");
    EXPECT_EQ(ports[1].port, "ttyUSB0");
    EXPECT_EQ(ports[1].name, "Prolific USB-Serial Controller (ttyUSB0)");
}

} // namespace

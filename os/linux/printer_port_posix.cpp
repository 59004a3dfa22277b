#include "os/printer_port.h"

#include "os/net.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <cstddef>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace tillbay::os::printer_port {

namespace {

using Clock = std::chrono::steady_clock;

std::mutex g_roots_lock;
std::string g_sysfs_root = "/sys";
std::string g_dev_root = "/dev";

std::string sysfs_root()
{
    std::lock_guard lock(g_roots_lock);
    return g_sysfs_root;
}

std::string dev_root()
{
    std::lock_guard lock(g_roots_lock);
    return g_dev_root;
}

int remaining_ms(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(std::min<long long>(left, INT_MAX)) : 0;
}

Error errno_error(std::string const& what, int saved)
{
    return Error::from_detail(what + ": " + std::strerror(saved), saved);
}

// Waits for the descriptor; true when it is ready (or reports an error the
// next call will see), false when the time ran out.
bool wait_ready(int fd, short events, int timeout_ms)
{
    pollfd p { fd, events, 0 };
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        int rc = ::poll(&p, 1, remaining_ms(deadline));
        if (rc < 0 && errno == EINTR)
            continue;
        return rc != 0;
    }
}

Result<std::string> read_ready(int fd, size_t max, int timeout_ms, bool socket)
{
    std::string out;
    if (!wait_ready(fd, POLLIN, timeout_ms))
        return out;
    out.resize(max);
    for (;;) {
        ssize_t n = socket ? ::recv(fd, out.data(), max, 0) : ::read(fd, out.data(), max);
        if (n >= 0) {
            out.resize(static_cast<size_t>(n));
            return out;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            out.clear();
            return out;
        }
        return errno_error("read", errno);
    }
}

// A network printer's socket.
class TcpPort final : public Port {
public:
    explicit TcpPort(net::Fd fd)
        : m_fd(std::move(fd))
    {
        // Status questions are a few bytes each: they leave at once.
        (void)net::set_no_delay(m_fd.get());
    }
    ~TcpPort() override { finish(true); }

    WriteOutcome write_all(std::string_view bytes, int timeout_ms) override { return write(bytes, timeout_ms, false); }

    WriteOutcome write_last(std::string_view bytes, int timeout_ms) override { return write(bytes, timeout_ms, true); }

    Result<std::string> read_some(size_t max, int timeout_ms) override
    {
        // The answer is acknowledged at once, so that a printer holding its
        // next answer until then (small packets wait for the previous one's
        // acknowledgement) sends it without the usual delay.
        quick_ack();
        auto answer = read_ready(m_fd.get(), max, timeout_ms, true);
        quick_ack();
        return answer;
    }

    bool can_answer() const override { return true; }

    Status drain(int, int, int) override { return {}; }

    Status end_document(int limit_ms) override
    {
        ::shutdown(m_fd.get(), SHUT_WR);
        auto deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
        char scrap[256];
        while (wait_ready(m_fd.get(), POLLIN, remaining_ms(deadline))) {
            ssize_t n = ::recv(m_fd.get(), scrap, sizeof scrap, MSG_DONTWAIT);
            if (n == 0)
                return {};
            if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
                return Error::from_detail(std::string("recv: ") + std::strerror(errno), net::program_code(errno));
            if (remaining_ms(deadline) == 0)
                break;
        }
        return {};
    }

    void finish(bool) override
    {
        if (!m_fd.valid())
            return;
        ::shutdown(m_fd.get(), SHUT_WR);
        // Whatever the printer sent and nobody read would turn the close
        // into a reset; read it away first.
        char scrap[256];
        while (::recv(m_fd.get(), scrap, sizeof scrap, MSG_DONTWAIT) > 0) { }
        m_fd.reset();
    }

private:
    void quick_ack()
    {
        int one = 1;
        ::setsockopt(m_fd.get(), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    }

    WriteOutcome write(std::string_view bytes, int timeout_ms, bool last)
    {
        WriteOutcome outcome;
        auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        unsigned long long const before = m_sent;
        while (outcome.written < bytes.size()) {
            ssize_t n = ::send(m_fd.get(), bytes.data() + outcome.written, bytes.size() - outcome.written, MSG_NOSIGNAL);
            if (n > 0) {
                outcome.written += static_cast<size_t>(n);
                m_sent += static_cast<unsigned long long>(n);
                continue;
            }
            if (n == 0) {
                outcome.code = code_net_reset;
                return outcome;
            }
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                outcome.code = net::program_code(errno);
                return outcome;
            }
            if (remaining_ms(deadline) == 0) {
                outcome.code = code_net_timeout;
                return outcome;
            }
            // A printer that reads slowly gets a new try every 100 ms at most.
            wait_ready(m_fd.get(), POLLOUT, std::min(100, remaining_ms(deadline)));
        }
        handed();
        if (last)
            ::shutdown(m_fd.get(), SHUT_WR);
        // Every byte is in the socket; the document has arrived once the
        // printer has acknowledged all of it. A reset empties the socket's
        // queue, so what counts is what the printer acknowledged. On
        // loopback or a LAN that takes well under a millisecond: the first
        // looks come quickly, then every 5 ms.
        auto pause = std::chrono::microseconds(50);
        for (;;) {
            auto acknowledged = bytes_acknowledged();
            if (!acknowledged) {
                int queued = 0;
                if (::ioctl(m_fd.get(), SIOCOUTQ, &queued) != 0 || queued <= 0)
                    return outcome;
            } else if (*acknowledged >= m_sent) {
                return outcome;
            }
            size_t delivered = acknowledged && *acknowledged > before ? static_cast<size_t>(*acknowledged - before) : 0;
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(m_fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error != 0) {
                outcome.written = std::min(outcome.written, delivered);
                outcome.code = net::program_code(error);
                return outcome;
            }
            if (remaining_ms(deadline) == 0) {
                outcome.written = std::min(outcome.written, delivered);
                outcome.code = code_net_timeout;
                return outcome;
            }
            std::this_thread::sleep_for(std::min<std::chrono::microseconds>(pause, std::chrono::milliseconds(remaining_ms(deadline))));
            pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(5));
        }
    }

    // The bytes the printer has acknowledged on this connection, when the
    // system tells.
    std::optional<unsigned long long> bytes_acknowledged() const
    {
        tcp_info info {};
        socklen_t length = sizeof info;
        if (::getsockopt(m_fd.get(), IPPROTO_TCP, TCP_INFO, &info, &length) != 0
            || length < offsetof(tcp_info, tcpi_bytes_acked) + sizeof info.tcpi_bytes_acked)
            return std::nullopt;
        return info.tcpi_bytes_acked;
    }

    net::Fd m_fd;
    unsigned long long m_sent = 0; // every byte sent on this connection
};

// A serial port or a USB printer device.
class DevicePort final : public Port {
public:
    DevicePort(net::Fd fd, bool serial, bool readable)
        : m_fd(std::move(fd))
        , m_serial(serial)
        , m_readable(readable)
    {
    }
    ~DevicePort() override { finish(true); }

    int fd() const { return m_fd.get(); }

    WriteOutcome write_all(std::string_view bytes, int timeout_ms) override
    {
        WriteOutcome outcome;
        auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        while (outcome.written < bytes.size()) {
            if (remaining_ms(deadline) == 0) {
                outcome.code = code_device_timeout;
                return outcome;
            }
            ssize_t n = ::write(m_fd.get(), bytes.data() + outcome.written, bytes.size() - outcome.written);
            if (n > 0) {
                outcome.written += static_cast<size_t>(n);
                continue;
            }
            if (n == 0) {
                outcome.code = EIO;
                return outcome;
            }
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                outcome.code = errno;
                return outcome;
            }
            wait_ready(m_fd.get(), POLLOUT, remaining_ms(deadline));
        }
        return outcome;
    }

    Result<std::string> read_some(size_t max, int timeout_ms) override
    {
        if (!m_readable)
            return std::string {};
        return read_ready(m_fd.get(), max, timeout_ms, false);
    }

    bool can_answer() const override { return m_readable; }

    Status end_document(int) override { return {}; }

    Status drain(int limit_ms, int poll_ms, int settle_ms) override
    {
        if (!m_serial)
            return {};
        auto deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
        for (;;) {
            int queued = 0;
            if (::ioctl(m_fd.get(), TIOCOUTQ, &queued) != 0)
                return errno_error("ioctl(TIOCOUTQ)", errno);
            if (queued <= 0)
                break;
            if (remaining_ms(deadline) == 0)
                return Error::from_detail("output queue still holds " + std::to_string(queued) + " bytes", code_device_timeout);
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(poll_ms, remaining_ms(deadline))));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(settle_ms));
        return {};
    }

    void finish(bool drained) override
    {
        if (!m_fd.valid())
            return;
        // A port stalled by flow control would hold close() until the
        // driver gives up; what is left is dropped instead.
        if (m_serial && !drained)
            ::tcflush(m_fd.get(), TCOFLUSH);
        m_fd.reset();
    }

private:
    net::Fd m_fd;
    bool m_serial = false;
    bool m_readable = false;
};

speed_t baud_constant(int baud)
{
    switch (baud) {
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B0;
    }
}

std::string read_small_file(std::string const& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string text(1024, '\0');
    ssize_t n = ::read(fd, text.data(), text.size());
    ::close(fd);
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    return text;
}

std::string resolved(std::string const& path)
{
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real)
        return {};
    std::string out(real);
    std::free(real);
    return out;
}

// A device folder has a handful of entries; a bound keeps a strange one from
// holding the listing.
constexpr size_t max_folder_entries = 512;

std::vector<std::string> folder_names(std::string const& folder)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return names;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(std::move(name));
        if (names.size() >= max_folder_entries)
            break;
    }
    ::closedir(dir);
    return names;
}

// "lp3" → 3 with prefix "lp"; -1 when the name is not the prefix and digits.
long numbered(std::string_view name, std::string_view prefix)
{
    if (!name.starts_with(prefix) || name.size() == prefix.size() || name.size() > prefix.size() + 6)
        return -1;
    long value = 0;
    for (char c : name.substr(prefix.size())) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// The product text of the USB device above a sysfs folder: the nearest
// folder upwards, at most three levels, that has a "product" file.
std::string usb_product(std::string folder)
{
    for (int level = 0; level < 4 && !folder.empty(); ++level) {
        std::string product = read_small_file(folder + "/product");
        if (!product.empty()) {
            std::string maker = read_small_file(folder + "/manufacturer");
            return maker.empty() ? product : maker + " " + product;
        }
        auto slash = folder.rfind('/');
        if (slash == std::string::npos || slash == 0)
            break;
        folder.resize(slash);
    }
    return {};
}

} // namespace

bool is_busy_or_denied(int code) { return code == EACCES || code == EPERM || code == EBUSY || code == EWOULDBLOCK; }

Result<std::unique_ptr<Port>> open_tcp(std::string_view ipv4, int port, int timeout_ms)
{
    auto outcome = net::connect_tcp(ipv4, port, timeout_ms);
    if (!outcome.socket.valid()) {
        int error = outcome.resolved ? outcome.last_error : EINVAL;
        return Error::from_detail("connect " + std::string(ipv4) + ":" + std::to_string(port) + ": " + std::strerror(error),
            net::program_code(error));
    }
    return std::unique_ptr<Port>(new TcpPort(std::move(outcome.socket)));
}

Result<std::unique_ptr<Port>> open_serial(std::string const& device_path)
{
    net::Fd fd(::open(device_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid())
        return errno_error("open " + device_path, errno);
    // The port is not shared: another program holding it makes this open
    // fail as busy, and nobody else gets in while the document goes out.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        return errno_error("flock " + device_path, errno == EWOULDBLOCK ? EBUSY : errno);
    ::ioctl(fd.get(), TIOCEXCL);
    return std::unique_ptr<Port>(new DevicePort(std::move(fd), true, true));
}

Status configure_serial(Port& port, SerialSettings const& settings)
{
    auto* device = dynamic_cast<DevicePort*>(&port);
    if (!device)
        return Error::from_detail("not a serial port", EINVAL);
    int fd = device->fd();
    termios tio {};
    if (::tcgetattr(fd, &tio) != 0)
        return errno_error("tcgetattr", errno);
    speed_t speed = baud_constant(settings.baud);
    if (speed == B0)
        return Error::from_detail("unsupported baud rate " + std::to_string(settings.baud), EINVAL);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
    tio.c_cflag |= (settings.data_bits == 7 ? CS7 : CS8) | CLOCAL | CREAD;
    tio.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY | IGNPAR | PARMRK);
    if (settings.parity == 'E' || settings.parity == 'O') {
        tio.c_cflag |= PARENB;
        if (settings.parity == 'O')
            tio.c_cflag |= PARODD;
        tio.c_iflag |= INPCK;
    }
    if (settings.stop_bits == 2)
        tio.c_cflag |= CSTOPB;
    if (settings.flow == Flow::RtsCts)
        tio.c_cflag |= CRTSCTS;
    if (settings.flow == Flow::XonXoff)
        tio.c_iflag |= IXON | IXOFF;
    tio.c_cc[VSTART] = 0x11;
    tio.c_cc[VSTOP] = 0x13;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0)
        return errno_error("tcsetattr", errno);
    // DTR on, and RTS on unless the handshake drives it. A port without
    // modem lines (a pseudo-terminal) refuses this, which does no harm.
    int lines = TIOCM_DTR | (settings.flow == Flow::RtsCts ? 0 : TIOCM_RTS);
    ::ioctl(fd, TIOCMBIS, &lines);
    return {};
}

Result<std::unique_ptr<Port>> open_usb(std::string const& device_path)
{
    struct stat st {};
    bool character = ::stat(device_path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
    if (character) {
        net::Fd fd(::open(device_path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
        if (fd.valid())
            return std::unique_ptr<Port>(new DevicePort(std::move(fd), false, true));
    }
    net::Fd fd(::open(device_path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid())
        return errno_error("open " + device_path, errno);
    return std::unique_ptr<Port>(new DevicePort(std::move(fd), false, false));
}

std::vector<UsbPrinterDevice> usb_printer_devices()
{
    std::string root = sysfs_root();
    std::string dev = dev_root();
    std::string folder = root + "/class/usbmisc";
    std::vector<std::pair<long, UsbPrinterDevice>> found;
    for (auto const& name : folder_names(folder)) {
        long number = numbered(name, "lp");
        if (number < 0)
            continue;
        UsbPrinterDevice device;
        device.interface_path = resolved(folder + "/" + name + "/device");
        if (device.interface_path.empty())
            continue;
        device.device_path = dev + "/usb/" + name;
        device.ieee1284_id = read_small_file(folder + "/" + name + "/device/ieee1284_id");
        found.emplace_back(number, std::move(device));
    }
    std::sort(found.begin(), found.end(), [](auto const& a, auto const& b) { return a.first < b.first; });
    std::vector<UsbPrinterDevice> out;
    for (auto& entry : found)
        out.push_back(std::move(entry.second));
    return out;
}

std::vector<SerialPortDevice> serial_port_devices()
{
    std::string root = sysfs_root();
    std::string folder = root + "/class/tty";
    // The stable names udev gives: /dev/serial/by-id/<name> → ../../ttyUSB0.
    std::vector<std::pair<std::string, std::string>> by_id; // tty name, by-id name
    std::string by_id_folder = dev_root() + "/serial/by-id";
    for (auto const& link : folder_names(by_id_folder)) {
        std::string target = resolved(by_id_folder + "/" + link);
        if (!target.empty())
            by_id.emplace_back(target.substr(target.rfind('/') + 1), link);
    }
    struct Entry {
        int kind;
        long number;
        SerialPortDevice device;
    };
    std::vector<Entry> found;
    for (auto const& name : folder_names(folder)) {
        int kind = -1;
        long number = -1;
        if ((number = numbered(name, "ttyS")) >= 0)
            kind = 0;
        else if ((number = numbered(name, "ttyUSB")) >= 0)
            kind = 1;
        else if ((number = numbered(name, "ttyACM")) >= 0)
            kind = 2;
        if (kind < 0)
            continue;
        std::string entry = folder + "/" + name;
        // Every ttyS name exists whether or not a UART is behind it; the
        // serial core reports "type" 0 for one that is not there.
        if (kind == 0) {
            std::string type = read_small_file(entry + "/type");
            if (type.empty() || type == "0")
                continue;
        }
        std::string device_folder = resolved(entry + "/device");
        if (device_folder.empty())
            continue;
        SerialPortDevice device;
        device.name = name;
        device.device_path = serial_device_path(name);
        for (auto const& [tty, id_name] : by_id) {
            if (tty == name)
                device.description = id_name;
        }
        if (kind != 0 && device.description.empty())
            device.description = usb_product(device_folder);
        found.push_back({ kind, number, std::move(device) });
    }
    std::sort(found.begin(), found.end(),
        [](Entry const& a, Entry const& b) { return a.kind != b.kind ? a.kind < b.kind : a.number < b.number; });
    std::vector<SerialPortDevice> out;
    for (auto& entry : found)
        out.push_back(std::move(entry.device));
    return out;
}

std::string serial_device_path(std::string_view name) { return dev_root() + "/" + std::string(name); }

void set_device_roots_for_testing(std::string sysfs, std::string dev)
{
    std::lock_guard lock(g_roots_lock);
    g_sysfs_root = sysfs.empty() ? "/sys" : std::move(sysfs);
    g_dev_root = dev.empty() ? "/dev" : std::move(dev);
}

} // namespace tillbay::os::printer_port

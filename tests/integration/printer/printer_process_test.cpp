// The real tillbay-printer binary over real TCP: each test starts its own
// printer on a free loopback port, talks to it as a POS would (plain sockets,
// or socat as an outside client), and reads back the stored job files.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;

namespace {

std::string printer_binary()
{
    char const* build = getenv("TB_BUILD_DIR");
    return std::string(build ? build : ".") + "/tools/printer/tillbay-printer";
}

std::string read_file(fs::path const& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(fs::path const& path, std::string const& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/tb-printer-XXXXXX";
        m_path = mkdtemp(pattern);
    }
    ~TempDir() { fs::remove_all(m_path); }
    fs::path const& path() const { return m_path; }

private:
    fs::path m_path;
};

// A running tillbay-printer with its standard output read line by line.
class Printer {
public:
    explicit Printer(std::vector<std::string> args)
    {
        int out[2];
        if (pipe(out) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::string binary = printer_binary();
        std::vector<char*> argv { binary.data() };
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, binary.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        m_out = out[0];
        std::string line = next_line(5s);
        auto at = line.find("listening on 127.0.0.1:");
        if (at != std::string::npos)
            m_port = std::stoi(line.substr(at + 23));
    }

    ~Printer()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0)
            close(m_out);
    }

    int port() const { return m_port; }

    // The next line of output, or "" when none comes in time.
    std::string next_line(std::chrono::milliseconds timeout)
    {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (true) {
            auto newline = m_buffer.find('\n');
            if (newline != std::string::npos) {
                std::string line = m_buffer.substr(0, newline);
                m_buffer.erase(0, newline + 1);
                return line;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0)
                return {};
            pollfd fd { m_out, POLLIN, 0 };
            if (poll(&fd, 1, static_cast<int>(left)) <= 0)
                continue;
            char chunk[4096];
            ssize_t got = read(m_out, chunk, sizeof chunk);
            if (got <= 0)
                return {};
            m_buffer.append(chunk, static_cast<size_t>(got));
        }
    }

    // The next "job ..." line, skipping other output.
    std::string next_job(std::chrono::milliseconds timeout = 5s)
    {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            std::string line = next_line(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
            if (line.rfind("job ", 0) == 0)
                return line;
        }
        return {};
    }

    // SIGTERM must end the printer promptly and cleanly.
    int stop()
    {
        kill(m_pid, SIGTERM);
        int status = -1;
        for (int i = 0; i < 100; ++i) {
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(20ms);
        }
        return -1;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_port = 0;
    std::string m_buffer;
};

int connect_to(int port, int* error = nullptr)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (error)
            *error = errno;
        close(fd);
        return -1;
    }
    return fd;
}

bool send_all(int fd, std::string const& bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// Sends a whole job the way the POS does: connect, send, shut down the sending side.
void send_job(int port, std::string const& bytes)
{
    int fd = connect_to(port);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(send_all(fd, bytes));
    shutdown(fd, SHUT_WR);
    char byte;
    [[maybe_unused]] auto ignored = recv(fd, &byte, 1, 0);
    close(fd);
}

// A receipt as the POS builds it: Korean text in code page 949 ("영수증",
// "김치찌개", "합계"), sizes, bold, line spacing, feed, drawer pulse and cut.
std::string const korean_job = "\x1b@\x1b" "3\x1e\x1b" "a\x01\x1b!\x30" "\xbf\xb5\xbc\xf6\xc1\xf5\n\x1b!\x00\x1b" "a\x00"
                               "\xb1\xe8\xc4\xa1\xc2\xee\xb0\xb3  2  16,000\n\x1b" "E\x01\xc7\xd5\xb0\xe8 16,000\x1b" "E\x00\n"
                               "\x1b" "d\x03\x1bp\x01\x19\xfa\x1dVB\x00"s;
std::string const korean_text = "[initialise][line spacing 30][align center][print mode 0x30 (size 2x2)]영수증\n"
                                "[print mode 0x00 (normal)][align left]김치찌개  2  16,000\n[bold on]합계 16,000[bold off]\n"
                                "[feed 3 lines][drawer pulse pin 5 on 50 ms off 500 ms][cut partial after feed 0]\n";

} // namespace

TEST(PrinterProcess, KoreanReceiptFromSocatIsStoredAndDecoded)
{
    TempDir jobs;
    Printer printer({ "--port", "0", "--jobs", jobs.path().string() });
    ASSERT_GT(printer.port(), 0);

    fs::path source = jobs.path() / "source.prn";
    write_file(source, korean_job);
    std::string command = "socat -u FILE:" + source.string() + " TCP:127.0.0.1:" + std::to_string(printer.port());
    ASSERT_EQ(system(command.c_str()), 0);
    fs::remove(source);

    std::string line = printer.next_job();
    EXPECT_EQ(line.rfind("job 0001: " + std::to_string(korean_job.size()) + " bytes from 127.0.0.1:", 0), 0u) << line;
    EXPECT_EQ(read_file(jobs.path() / "0001.bin"), korean_job);
    EXPECT_EQ(read_file(jobs.path() / "0001.txt"), korean_text);
    std::string html = read_file(jobs.path() / "0001.html");
    EXPECT_NE(html.find(">영수증</span>"), std::string::npos);
    EXPECT_NE(html.find("김치찌개"), std::string::npos);
    EXPECT_NE(html.find("class=\"cut\""), std::string::npos);
    EXPECT_NE(html.find("핀 5"), std::string::npos);
    EXPECT_EQ(printer.stop(), 0);
}

TEST(PrinterProcess, JobsAreNumberedOnAcrossRunsAndNothingIsOverwritten)
{
    TempDir jobs;
    write_file(jobs.path() / "0007.bin", "old");
    Printer printer({ "--port", "0", "--jobs", jobs.path().string() });
    ASSERT_GT(printer.port(), 0);
    send_job(printer.port(), "first\n");
    EXPECT_EQ(printer.next_job().rfind("job 0008:", 0), 0u);
    send_job(printer.port(), "second\n");
    EXPECT_EQ(printer.next_job().rfind("job 0009:", 0), 0u);
    // A connection that sends nothing (a port probe) is not a job.
    int probe = connect_to(printer.port());
    close(probe);
    send_job(printer.port(), "third\n");
    EXPECT_EQ(printer.next_job().rfind("job 0010:", 0), 0u);
    EXPECT_EQ(read_file(jobs.path() / "0007.bin"), "old");
    EXPECT_EQ(read_file(jobs.path() / "0009.txt"), "second\n");
    EXPECT_FALSE(fs::exists(jobs.path() / "0011.bin"));
    EXPECT_EQ(printer.stop(), 0);
}

TEST(PrinterProcess, GarbageJobIsStoredAndThePrinterKeepsServing)
{
    TempDir jobs;
    Printer printer({ "--port", "0", "--jobs", jobs.path().string() });
    ASSERT_GT(printer.port(), 0);
    std::mt19937 random(1234);
    std::string garbage(256 * 1024, '\0');
    for (auto& byte : garbage)
        byte = static_cast<char>(random());
    send_job(printer.port(), garbage);
    ASSERT_NE(printer.next_job(10s), "");
    EXPECT_EQ(read_file(jobs.path() / "0001.bin"), garbage);
    std::string text = read_file(jobs.path() / "0001.txt");
    EXPECT_NE(text.find("[hex "), std::string::npos);
    EXPECT_TRUE(fs::exists(jobs.path() / "0001.html"));

    send_job(printer.port(), korean_job);
    ASSERT_NE(printer.next_job(), "");
    EXPECT_EQ(read_file(jobs.path() / "0002.txt"), korean_text);
    EXPECT_EQ(printer.stop(), 0);
}

TEST(PrinterProcess, RefuseModeRefusesEveryConnection)
{
    TempDir jobs;
    Printer printer({ "--port", "0", "--jobs", jobs.path().string(), "--refuse" });
    ASSERT_GT(printer.port(), 0);
    int error = 0;
    EXPECT_EQ(connect_to(printer.port(), &error), -1);
    EXPECT_EQ(error, ECONNREFUSED);
    EXPECT_EQ(printer.stop(), 0);
}

TEST(PrinterProcess, StopAfterStallsTheSenderAndKeepsWhatWasRead)
{
    TempDir jobs;
    Printer printer({ "--port", "0", "--jobs", jobs.path().string(), "--stop-after", "100", "--hold-ms", "20000" });
    ASSERT_GT(printer.port(), 0);
    int fd = connect_to(printer.port());
    ASSERT_GE(fd, 0);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    std::string big(8 * 1024 * 1024, 'x');
    size_t sent = 0;
    // Send until the connection has taken nothing for a whole second, as the
    // POS's send deadline would see it.
    while (sent < big.size()) {
        pollfd writable { fd, POLLOUT, 0 };
        if (poll(&writable, 1, 1000) <= 0)
            break;
        ssize_t n = send(fd, big.data() + sent, big.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN)
            break;
        if (n > 0)
            sent += static_cast<size_t>(n);
    }
    EXPECT_LT(sent, big.size());
    std::string line = printer.next_job();
    EXPECT_NE(line.find("100 bytes"), std::string::npos) << line;
    EXPECT_EQ(read_file(jobs.path() / "0001.bin"), std::string(100, 'x'));
    close(fd);
    EXPECT_EQ(printer.stop(), 0);
}

TEST(PrinterProcess, CloseEarlyResetsTheSenderAndKeepsWhatWasRead)
{
    TempDir jobs;
    Printer printer({ "--port", "0", "--jobs", jobs.path().string(), "--close-early", "100" });
    ASSERT_GT(printer.port(), 0);
    int fd = connect_to(printer.port());
    ASSERT_GE(fd, 0);
    std::string big(8 * 1024 * 1024, 'y');
    bool failed = false;
    int error = 0;
    size_t sent = 0;
    while (sent < big.size()) {
        ssize_t n = send(fd, big.data() + sent, std::min<size_t>(64 * 1024, big.size() - sent), MSG_NOSIGNAL);
        if (n <= 0) {
            failed = true;
            error = errno;
            break;
        }
        sent += static_cast<size_t>(n);
    }
    close(fd);
    EXPECT_TRUE(failed);
    EXPECT_TRUE(error == ECONNRESET || error == EPIPE) << strerror(error);
    std::string line = printer.next_job();
    EXPECT_NE(line.find("100 bytes"), std::string::npos) << line;
    EXPECT_EQ(read_file(jobs.path() / "0001.bin"), std::string(100, 'y'));
    EXPECT_EQ(printer.stop(), 0);
}

TEST(PrinterProcess, PauseEndsAJobWhileTheConnectionStaysOpen)
{
    TempDir jobs;
    Printer printer({ "--port", "0", "--jobs", jobs.path().string(), "--idle-ms", "200" });
    ASSERT_GT(printer.port(), 0);
    int fd = connect_to(printer.port());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(send_all(fd, "one\n"));
    EXPECT_NE(printer.next_job(3s).find("(idle)"), std::string::npos);
    ASSERT_TRUE(send_all(fd, "two\n"));
    EXPECT_NE(printer.next_job(3s), "");
    close(fd);
    EXPECT_EQ(read_file(jobs.path() / "0001.txt"), "one\n");
    EXPECT_EQ(read_file(jobs.path() / "0002.txt"), "two\n");
    EXPECT_EQ(printer.stop(), 0);
}

TEST(PrinterProcess, DecodesADumpFileWithoutTheNetwork)
{
    TempDir dir;
    fs::path dump = dir.path() / "print.dump";
    // The POS appends every document to the dump file: a drawer pulse, then a receipt.
    write_file(dump, "\x1bp\x00\x19\xfa"s + korean_job);
    std::string command = printer_binary() + " --decode " + dump.string() + " --jobs " + (dir.path() / "jobs").string() + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        out.append(chunk, got);
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(out, "[drawer pulse pin 2 on 50 ms off 500 ms]" + korean_text);
    EXPECT_EQ(read_file(dir.path() / "jobs" / "0001.txt"), out);

    // The same file named by the POS's own variable.
    std::string from_env = "TILLBAY_PRINT_DUMP=" + dump.string() + " " + printer_binary() + " --decode-dump --format html";
    FILE* html_pipe = popen(from_env.c_str(), "r");
    ASSERT_NE(html_pipe, nullptr);
    std::string html;
    while ((got = fread(chunk, 1, sizeof chunk, html_pipe)) > 0)
        html.append(chunk, got);
    EXPECT_EQ(pclose(html_pipe), 0);
    EXPECT_NE(html.find("김치찌개"), std::string::npos);
    EXPECT_NE(html.find("핀 2"), std::string::npos);

    std::string missing = printer_binary() + " --decode " + (dir.path() / "nope").string() + " 2>/dev/null";
    EXPECT_NE(system(missing.c_str()), 0);
}

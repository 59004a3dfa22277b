#include "tools/printer/printer_server.h"

#include "os/fs.h"
#include "tools/printer/escpos_decoder.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace tillbay::printer {

namespace {

using Clock = std::chrono::steady_clock;

// More simultaneous connections than a shop's POS ever opens; beyond this a
// new connection is closed at once instead of growing without bound.
constexpr size_t max_connections = 64;
constexpr size_t read_chunk = 64 * 1024;
// Receive buffer of the stop-reading mode: small, so that a client's send
// stalls soon after the printer stops reading, as with a real jammed printer.
constexpr int stalled_receive_buffer = 4096;

int g_signal_pipe[2] = { -1, -1 };

void on_signal(int)
{
    int saved = errno;
    char byte = 1;
    [[maybe_unused]] auto ignored = write(g_signal_pipe[1], &byte, 1);
    errno = saved;
}

std::string errno_text(int error)
{
    return std::string(strerror(error));
}

void set_nonblocking(int fd)
{
    int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// Closing with unread data or a zero linger sends a reset, which is what a
// printer that drops the line looks like to the sender.
void close_with_reset(int fd)
{
    linger option { 1, 0 };
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    close(fd);
}

std::string address_text(sockaddr_storage const& address)
{
    char host[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        auto const& v4 = reinterpret_cast<sockaddr_in const&>(address);
        inet_ntop(AF_INET, &v4.sin_addr, host, sizeof host);
        return std::string(host) + ":" + std::to_string(ntohs(v4.sin_port));
    }
    if (address.ss_family == AF_INET6) {
        auto const& v6 = reinterpret_cast<sockaddr_in6 const&>(address);
        inet_ntop(AF_INET6, &v6.sin6_addr, host, sizeof host);
        return "[" + std::string(host) + "]:" + std::to_string(ntohs(v6.sin6_port));
    }
    return "?";
}

struct Connection {
    int fd = -1;
    StatusRequests requests;
    std::string peer;
    std::string data;
    long long total = 0;
    Clock::time_point last;
    bool holding = false;
    Clock::time_point hold_until;
};

class Server {
public:
    Server(ServerOptions const& options, JobStore store)
        : m_options(options)
        , m_store(std::move(store))
    {
    }

    ~Server()
    {
        for (auto& connection : m_connections)
            close(connection.fd);
        if (m_listen_fd >= 0)
            close(m_listen_fd);
    }

    int run()
    {
        if (!open_socket())
            return 1;
        while (true) {
            std::vector<pollfd> fds;
            fds.push_back({ g_signal_pipe[0], POLLIN, 0 });
            if (!m_options.refuse)
                fds.push_back({ m_listen_fd, POLLIN, 0 });
            size_t first_connection = fds.size();
            for (auto const& connection : m_connections)
                fds.push_back({ connection.fd, static_cast<short>(connection.holding ? POLLRDHUP : POLLIN), 0 });

            int ready = poll(fds.data(), fds.size(), next_timeout_ms());
            if (ready < 0 && errno != EINTR) {
                fprintf(stderr, "tillbay-printer: poll: %s\n", errno_text(errno).c_str());
                return 1;
            }
            if (fds[0].revents & POLLIN)
                break;
            if (!m_options.refuse && (fds[1].revents & POLLIN))
                accept_all();
            // Connections accepted just now were not polled; only the first
            // ones line up with fds.
            for (size_t i = 0; i + first_connection < fds.size(); ++i) {
                if (fds[i + first_connection].revents)
                    service(m_connections[i], fds[i + first_connection].revents);
            }
            expire();
            std::erase_if(m_connections, [](Connection const& connection) { return connection.fd < 0; });
        }
        for (auto& connection : m_connections) {
            if (!connection.holding && !connection.data.empty())
                finish_job(connection, "printer stopping");
        }
        return 0;
    }

private:
    bool open_socket()
    {
        sockaddr_storage address {};
        socklen_t length = 0;
        auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
        if (inet_pton(AF_INET, m_options.bind_address.c_str(), &v4->sin_addr) == 1) {
            v4->sin_family = AF_INET;
            v4->sin_port = htons(static_cast<uint16_t>(m_options.port));
            length = sizeof *v4;
        } else if (inet_pton(AF_INET6, m_options.bind_address.c_str(), &v6->sin6_addr) == 1) {
            v6->sin6_family = AF_INET6;
            v6->sin6_port = htons(static_cast<uint16_t>(m_options.port));
            length = sizeof *v6;
        } else {
            fprintf(stderr, "tillbay-printer: 주소가 올바르지 않습니다: %s\n", m_options.bind_address.c_str());
            return false;
        }
        m_listen_fd = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_listen_fd < 0) {
            fprintf(stderr, "tillbay-printer: socket: %s\n", errno_text(errno).c_str());
            return false;
        }
        int one = 1;
        setsockopt(m_listen_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (m_options.stop_after >= 0) {
            int size = stalled_receive_buffer;
            setsockopt(m_listen_fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        }
        if (bind(m_listen_fd, reinterpret_cast<sockaddr*>(&address), length) < 0) {
            fprintf(stderr, "tillbay-printer: %s 에 묶지 못했습니다: %s\n", m_options.bind_address.c_str(), errno_text(errno).c_str());
            return false;
        }
        // In refuse mode the port stays bound but never listens, so every
        // connection attempt is answered with a reset (connection refused)
        // and no other program can take the port meanwhile.
        if (!m_options.refuse && listen(m_listen_fd, 16) < 0) {
            fprintf(stderr, "tillbay-printer: listen: %s\n", errno_text(errno).c_str());
            return false;
        }
        set_nonblocking(m_listen_fd);
        sockaddr_storage bound {};
        socklen_t bound_length = sizeof bound;
        getsockname(m_listen_fd, reinterpret_cast<sockaddr*>(&bound), &bound_length);
        printf("listening on %s%s\n", address_text(bound).c_str(), m_options.refuse ? " (refusing connections)" : "");
        printf("jobs in %s\n", m_store.dir().c_str());
        fflush(stdout);
        return true;
    }

    void accept_all()
    {
        while (true) {
            sockaddr_storage peer {};
            socklen_t length = sizeof peer;
            int fd = accept4(m_listen_fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0)
                return;
            if (m_connections.size() >= max_connections) {
                close_with_reset(fd);
                continue;
            }
            Connection connection;
            connection.fd = fd;
            connection.peer = address_text(peer);
            connection.last = Clock::now();
            if (m_options.close_early == 0) {
                close_with_reset(fd);
                printf("connection from %s closed at once\n", connection.peer.c_str());
                fflush(stdout);
                continue;
            }
            if (m_options.stop_after == 0)
                start_holding(connection);
            m_connections.push_back(std::move(connection));
        }
    }

    // The state status requests are answered with: the report file's first
    // word when there is a file with a known word, else --report.
    PaperReport current_report() const
    {
        if (!m_options.report_file.empty()) {
            auto text = os::read_prefix(m_options.report_file, 64);
            if (text.ok()) {
                std::string word;
                for (char c : text.value()) {
                    if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
                        if (!word.empty())
                            break;
                        continue;
                    }
                    word.push_back(c);
                }
                if (auto report = paper_report(word))
                    return *report;
            }
        }
        return paper_report(m_options.report).value_or(PaperReport::Ok);
    }

    void start_holding(Connection& connection)
    {
        connection.holding = true;
        connection.hold_until = Clock::now() + std::chrono::milliseconds(m_options.hold_ms);
    }

    void drop(Connection& connection)
    {
        close_with_reset(connection.fd);
        connection.fd = -1;
    }

    void service(Connection& connection, short revents)
    {
        if (connection.holding) {
            // Not reading: only a hang-up or an error ends the wait early.
            if (revents & (POLLRDHUP | POLLHUP | POLLERR))
                drop(connection);
            return;
        }
        size_t want = read_chunk;
        if (m_options.stop_after > 0)
            want = std::min<size_t>(want, static_cast<size_t>(m_options.stop_after - connection.total));
        if (m_options.close_early > 0)
            want = std::min<size_t>(want, static_cast<size_t>(m_options.close_early - connection.total));
        char buffer[read_chunk];
        ssize_t got = recv(connection.fd, buffer, want, 0);
        if (got < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                return;
            finish_job(connection, "connection error: " + errno_text(errno));
            drop(connection);
            return;
        }
        if (got == 0) {
            connection.data += connection.requests.release();
            finish_job(connection, "closed by client");
            close(connection.fd);
            connection.fd = -1;
            return;
        }
        connection.data += connection.requests.take(std::string_view(buffer, static_cast<size_t>(got)), [&](int n) {
            char answer = status_answer(current_report(), n);
            // One byte into a socket whose send buffer is empty: it never blocks.
            [[maybe_unused]] auto ignored = send(connection.fd, &answer, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        });
        connection.total += got;
        connection.last = Clock::now();
        if (connection.data.size() >= max_job_bytes) {
            finish_job(connection, "job too large");
            drop(connection);
            return;
        }
        if (m_options.close_early > 0 && connection.total >= m_options.close_early) {
            finish_job(connection, "closed early after " + std::to_string(connection.total) + " bytes");
            drop(connection);
            return;
        }
        if (m_options.stop_after > 0 && connection.total >= m_options.stop_after) {
            finish_job(connection, "stopped reading after " + std::to_string(connection.total) + " bytes");
            start_holding(connection);
        }
    }

    void expire()
    {
        auto now = Clock::now();
        for (auto& connection : m_connections) {
            if (connection.fd < 0)
                continue;
            if (connection.holding) {
                if (now >= connection.hold_until)
                    drop(connection);
                continue;
            }
            if (!connection.data.empty() && now - connection.last >= std::chrono::milliseconds(m_options.idle_ms))
                finish_job(connection, "idle");
        }
    }

    int next_timeout_ms() const
    {
        auto now = Clock::now();
        long long best = -1;
        auto consider = [&](Clock::time_point when) {
            long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(when - now).count() + 1;
            ms = std::max(ms, 0LL);
            if (best < 0 || ms < best)
                best = ms;
        };
        for (auto const& connection : m_connections) {
            if (connection.holding)
                consider(connection.hold_until);
            else if (!connection.data.empty())
                consider(connection.last + std::chrono::milliseconds(m_options.idle_ms));
        }
        return static_cast<int>(best);
    }

    void finish_job(Connection& connection, std::string const& reason)
    {
        if (connection.data.empty())
            return;
        auto stored = m_store.store(connection.data);
        if (stored.ok()) {
            printf("job %s: %zu bytes from %s (%s)\n", job_name(stored.value()).c_str(), connection.data.size(), connection.peer.c_str(), reason.c_str());
        } else {
            fprintf(stderr, "tillbay-printer: 작업을 저장하지 못했습니다: %s\n", stored.error().detail.c_str());
        }
        fflush(stdout);
        connection.data.clear();
    }

    ServerOptions m_options;
    JobStore m_store;
    int m_listen_fd = -1;
    std::vector<Connection> m_connections;
};

} // namespace

std::string job_name(int number)
{
    char buffer[16];
    snprintf(buffer, sizeof buffer, "%04d", number);
    return buffer;
}

Result<JobStore> JobStore::create(std::string dir, std::string encoding, int columns)
{
    if (dir.empty())
        dir = ".";
    auto made = os::make_dir(dir);
    if (!made.ok())
        return made.release_error();
    DIR* listing = opendir(dir.c_str());
    if (!listing)
        return Error::from_detail("cannot list " + dir + ": " + errno_text(errno), errno);
    int highest = 0;
    while (dirent* entry = readdir(listing)) {
        std::string_view name = entry->d_name;
        if (name.size() < 8 || !name.ends_with(".bin"))
            continue;
        std::string_view digits = name.substr(0, name.size() - 4);
        if (digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        highest = std::max(highest, std::stoi(std::string(digits)));
    }
    closedir(listing);
    return JobStore(std::move(dir), std::move(encoding), columns, highest + 1);
}

Result<int> JobStore::store(std::string_view bytes)
{
    int number = m_next++;
    std::string base = m_dir + "/" + job_name(number);
    DecodeOptions decode_options;
    decode_options.encoding = m_encoding;
    auto events = decode(bytes, decode_options);
    HtmlOptions html_options;
    html_options.title = "인쇄 작업 " + job_name(number);
    html_options.columns = m_columns;
    TRY(os::write_file_atomic(base + ".txt", render_text(events)));
    TRY(os::write_file_atomic(base + ".html", render_html(events, html_options)));
    TRY(os::write_file_atomic(base + ".bin", bytes));
    return number;
}

int run_server(ServerOptions const& options)
{
    auto store = JobStore::create(options.jobs_dir, options.encoding, options.columns);
    if (!store.ok()) {
        fprintf(stderr, "tillbay-printer: 작업 폴더를 쓸 수 없습니다: %s (%s)\n", options.jobs_dir.c_str(), store.error().detail.c_str());
        return 1;
    }
    if (pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) < 0) {
        fprintf(stderr, "tillbay-printer: pipe: %s\n", errno_text(errno).c_str());
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    Server server(options, store.release_value());
    return server.run();
}

} // namespace tillbay::printer

#include "pos_rig.h"

#include <openssl/err.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace bench {

namespace {

// The children's process groups, for a signal that ends the benchmark early.
std::atomic<int> g_groups[5] = { -1, -1, -1, -1, -1 };

void end_children_and_exit(int signal_number)
{
    for (auto& group : g_groups) {
        int pid = group.load();
        if (pid > 0)
            ::kill(-pid, SIGKILL);
    }
    std::_Exit(128 + signal_number);
}

std::string ini_value(std::string const& ini, std::string const& section, std::string const& key)
{
    size_t at = ini.find("[" + section + "]");
    if (at == std::string::npos)
        return {};
    size_t end = ini.find("\n[", at);
    size_t line = ini.find("\n" + key + "=", at);
    if (line == std::string::npos || (end != std::string::npos && line > end))
        return {};
    line += key.size() + 2;
    size_t stop = ini.find_first_of("\r\n", line);
    return ini.substr(line, stop == std::string::npos ? std::string::npos : stop - line);
}

} // namespace

std::vector<int> descendants_of(int root)
{
    std::map<int, std::vector<int>> children;
    if (DIR* proc = ::opendir("/proc")) {
        while (dirent* entry = ::readdir(proc)) {
            int pid = std::atoi(entry->d_name);
            if (pid <= 0)
                continue;
            std::string stat = e2e::read_text("/proc/" + std::to_string(pid) + "/stat");
            size_t close = stat.rfind(')');
            if (close == std::string::npos)
                continue;
            int parent = 0;
            char state = 0;
            if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) == 2)
                children[parent].push_back(pid);
        }
        ::closedir(proc);
    }
    std::vector<int> out { root };
    for (size_t i = 0; i < out.size(); ++i)
        for (int child : children[out[i]])
            out.push_back(child);
    return out;
}

// Wall-clock milliseconds, the clock the page's Date.now() reads.
double wall_ms()
{
    timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

void end_children_on_signals()
{
    for (int signal_number : { SIGINT, SIGTERM, SIGHUP })
        std::signal(signal_number, end_children_and_exit);
    // A write to a connection the platform has already closed (the relay
    // peer's "pong" while it stops) must fail as a write, not end the run.
    std::signal(SIGPIPE, SIG_IGN);
}

void end_on_signals_too(int pid)
{
    for (size_t i = 2; i < std::size(g_groups); ++i) {
        int free = -1;
        if (g_groups[i].compare_exchange_strong(free, pid))
            return;
    }
}

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t index = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

bool RelayPeer::start(int port, std::string const& header, int storeidx)
{
    m_context = SSL_CTX_new(TLS_client_method());
    if (!m_context)
        return false;
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return false;
    m_ssl = SSL_new(m_context);
    SSL_set_fd(m_ssl, m_fd);
    if (SSL_connect(m_ssl) != 1)
        return false;
    std::string registration = "register&storeidx=" + std::to_string(storeidx) + "&devicetype=1";
    if (SSL_write(m_ssl, header.data(), static_cast<int>(header.size())) <= 0
        || SSL_write(m_ssl, registration.data(), static_cast<int>(registration.size())) <= 0)
        return false;
    m_reader = std::thread([this] { read_loop(); });
    return true;
}

void RelayPeer::stop()
{
    m_stopping = true;
    if (m_fd >= 0)
        ::shutdown(m_fd, SHUT_RDWR);
    if (m_reader.joinable())
        m_reader.join();
    if (m_ssl)
        SSL_free(m_ssl);
    if (m_context)
        SSL_CTX_free(m_context);
    if (m_fd >= 0)
        ::close(m_fd);
    m_ssl = nullptr;
    m_context = nullptr;
    m_fd = -1;
}

std::optional<double> RelayPeer::seen(long long orderidx)
{
    std::lock_guard lock(m_lock);
    auto found = m_seen.find(orderidx);
    return found == m_seen.end() ? std::nullopt : std::optional<double>(found->second);
}

void RelayPeer::read_loop()
{
    std::string pending;
    char buffer[4096];
    while (!m_stopping) {
        int n = SSL_read(m_ssl, buffer, sizeof buffer);
        if (n <= 0)
            return;
        double now = wall_ms();
        pending.append(buffer, static_cast<size_t>(n));
        scan(pending, now);
    }
}

void RelayPeer::scan(std::string& pending, double now)
{
    size_t keep_from = pending.size();
    for (size_t at = 0; at < pending.size();) {
        if (pending.compare(at, 4, "ping") == 0) {
            SSL_write(m_ssl, "pong", 4);
            at += 4;
            continue;
        }
        if (pending.compare(at, 4, "pong") == 0) {
            at += 4;
            continue;
        }
        // An event text runs to the next event, ping or pong, as the
        // program's own scanner reads it.
        size_t next = std::string::npos;
        for (char const* mark : { "storeidx=", "ping", "pong" })
            next = std::min(next, pending.find(mark, at + 1));
        size_t end = next == std::string::npos ? pending.size() : next;
        std::string event = pending.substr(at, end - at);
        size_t idx = event.find("orderidx=");
        size_t kind = event.find("event=");
        bool complete = next != std::string::npos || (kind != std::string::npos && event.size() > kind + 6 + 7);
        if (!complete) {
            keep_from = at;
            break;
        }
        if (idx != std::string::npos && event.find("event=NEWORDER") != std::string::npos) {
            long long orderidx = std::atoll(event.c_str() + idx + 9);
            {
                std::lock_guard lock(m_lock);
                m_seen.emplace(orderidx, now);
            }
            if (on_order)
                on_order(orderidx);
        }
        at = end;
    }
    pending.erase(0, keep_from);
}

std::string Rig::value_of(std::string const& expression) const
{
    return e2e::json_field(e2e::http(port, "POST", "/eval", expression).body, "value");
}

bool Rig::on_page(int page_class) const
{
    std::string doc = e2e::http(port, "GET", "/doc").body;
    return e2e::json_field(doc, "class") == std::to_string(page_class) && e2e::json_field(doc, "ready") == "true";
}

int Rig::subscribers() const
{
    return std::atoi(e2e::json_field(e2e::http(control, "GET", "/control/relay?store=1").body, "subscribers").c_str());
}

void Rig::start_program()
{
    std::vector<std::string> command { "xvfb-run", "-a", "-s", "-screen 0 1400x900x24" };
    // TB_BENCH_HEAPTRACK=<file> runs the program under heaptrack, which
    // writes its allocations to <file>.zst for heaptrack_print. It runs in a
    // session of its own, so that ending the rig's group ends the display
    // (and with it the program) but lets heaptrack finish its file.
    if (char const* heaptrack = std::getenv("TB_BENCH_HEAPTRACK"); heaptrack && *heaptrack)
        command.insert(command.end(), { "setsid", "heaptrack", "-o", heaptrack });
    command.push_back(pos + "/tillbay");
    program = e2e::Child::start(command,
        { "LOCALAPPDATA=" + home, "TILLBAY_TESTPORT=" + std::to_string(port), "WEBKIT_DISABLE_COMPOSITING_MODE=1",
            "NO_AT_BRIDGE=1", "DBUS_SESSION_BUS_ADDRESS=" },
        pos_log);
    g_groups[1] = program.pid();
}

bool Rig::fail(std::string const& why)
{
    failure = why;
    return false;
}

Rig::~Rig()
{
    peer.stop();
    program.stop();
    platform.stop();
    for (auto& group : g_groups)
        group = -1;
    // TB_BENCH_KEEP keeps the run's folder (logs included) for a closer look.
    if (!root.empty() && std::getenv("TB_BENCH_KEEP")) {
        std::fprintf(stderr, "kept %s\n", root.c_str());
    } else if (!root.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
}

bool Rig::set_up(std::string const& name, bool with_relay_peer, std::function<bool(Rig&)> const& before_program)
{
    std::string build = TB_BUILD_DIR;
    root = e2e::make_temp_dir(name);
    if (root.empty())
        return fail("no temporary folder");
    pos = root + "/pos";
    home = root + "/home";
    ::mkdir(home.c_str(), 0755);
    int api = e2e::free_port(), web = e2e::free_port();
    relay = e2e::free_port();
    control = e2e::free_port();
    std::string tool = build + "/tools/platform/tillbay-platform";
    {
        auto init = e2e::Child::start({ tool, "init", pos, "--api-port", std::to_string(api), "--relay-port",
                                          std::to_string(relay), "--web-port", std::to_string(web) },
            {}, root + "/init.log");
        if (!e2e::wait_for([&] { return !init.running(); }, 20s))
            return fail("platform init did not finish");
    }
    if (!e2e::copy_file(build + "/app/tillbay", pos + "/tillbay", true)
        || !e2e::copy_dir_files(build + "/app/webext", pos + "/webext") || !e2e::copy_dir_files(build + "/ui-bundle", pos)
        || !e2e::copy_dir_files(build + "/ui-bundle", root + "/ui"))
        return fail("could not lay out the program folder");

    platform_log = root + "/platform.log";
    platform = e2e::Child::start({ tool, "serve", "--data", pos + "/platform-data", "--api-port", std::to_string(api),
                                     "--relay-port", std::to_string(relay), "--web-port", std::to_string(web),
                                     "--control-port", std::to_string(control), "--ui", root + "/ui" },
        {}, platform_log);
    g_groups[0] = platform.pid();
    if (!e2e::wait_for([&] { return e2e::read_text(platform_log).find("ready") != std::string::npos; }, 20s))
        return fail("the platform did not start");
    if (before_program && !before_program(*this))
        return false;

    port = e2e::free_port();
    pos_log = root + "/tillbay.log";
    log = home + "/TillBay/bridge.log";
    start_program();
    if (!e2e::wait_for([&] { return on_page(1); }, 45s))
        return fail("no sign-in page");
    // A first update check may take the web host's bundle as new and ask for a restart.
    if (e2e::wait_for([&] { return e2e::read_text(log).find("UPD 상태 app-ready") != std::string::npos; }, 5s)) {
        program.stop();
        start_program();
        if (!e2e::wait_for([&] { return on_page(1); }, 45s))
            return fail("no sign-in page after the restart");
    }
    if (!e2e::wait_for(
            [&] {
                return value_of("typeof window.tillwave==='object'&&typeof window.setLoginMode==='function'"
                                "&&document.readyState==='complete'")
                    == "true";
            },
            10s))
        return fail("the sign-in form did not become ready");
    value_of("document.getElementById('tabPos').click();document.getElementById('userId').value='tillbay01';"
             "document.getElementById('userPw').value='pos1234!';"
             "document.getElementById('loginForm').requestSubmit();true");
    if (!e2e::wait_for([&] { return on_page(2); }, 20s))
        return fail("the staff sign-in did not reach the order board");
    if (!e2e::wait_for([&] { return value_of("document.getElementById('relayPill').classList.contains('on')") == "true"; }, 15s)
        || !e2e::wait_for([&] { return subscribers() == 1; }, 10s))
        return fail("the program did not register on the relay");

    if (!with_relay_peer)
        return true;
    std::string header = ini_value(e2e::read_text(pos + "/tillbay.ini"), "RELAY", "header");
    if (header.empty() || !peer.start(relay, header, 1))
        return fail("the relay peer could not register");
    if (!e2e::wait_for([&] { return subscribers() == 2; }, 10s))
        return fail("the relay peer is not counted as a subscriber");
    return true;
}

long long Rig::create_order(int table) const
{
    std::string body = R"({"store":1,"kind":"table","table":)" + std::to_string(table)
        + R"(,"pay":"paid","lines":[{"mname":"김치찌개","qty":1,"price":9000}]})";
    auto answer = e2e::http(control, "POST", "/control/orders", body);
    if (answer.status != 200)
        return 0;
    return std::atoll(e2e::json_field(answer.body, "orderidx").c_str());
}

std::string Rig::requests_after(long long seq) const
{
    return e2e::http(control, "GET", "/control/requests?after=" + std::to_string(seq)).body;
}

long long Rig::last_request_seq() const
{
    std::string body = requests_after(0);
    long long seq = 0;
    for (size_t at = body.find("\"seq\":"); at != std::string::npos; at = body.find("\"seq\":", at + 6))
        seq = std::max(seq, std::atoll(body.c_str() + at + 6));
    return seq;
}

std::vector<int> Rig::program_pids() const { return program.pid() > 0 ? descendants_of(program.pid()) : std::vector<int> {}; }

} // namespace bench

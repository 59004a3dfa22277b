// What the kitchen feels: from the platform's control call for a new paid
// order to the last byte of its kitchen ticket at tillbay-printer, end to
// end. The reference platform and the real tillbay (under an Xvfb of its
// own, signed in as staff, printing kitchen tickets by itself) run as in the
// end-to-end tests; fifty orders are created one at a time.
//
// The floor, measured on the same control calls in the same run: a bare
// client registered on the relay for the same store which, on each NEWORDER
// event, makes the store calls the ticket needs (the list, then the order's
// detail, each over a new TLS connection), builds the same ticket bytes and
// sends them to a second tillbay-printer over TCP. The POS's path is that
// plus the event's hand-over to the UI thread and the command lane, the
// page callback, the print journal and the print queue.
//
// The last byte's time is the job file's modification time at the printer.

#include "e2e_support.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "printing/kitchen_ticket.h"
#include "printing/printer_settings.h"
#include "server/api.h"
#include "server/signin.h"
#include "server/transport.h"
#include "session/session.h"

#include <benchmark/benchmark.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr int order_count = 50;
constexpr auto per_order_limit = 10s;
// A pause between orders, so that each ticket is printed before the next
// control call goes out.
constexpr auto pause_between_orders = 300ms;

// Wall-clock milliseconds, the clock the page's Date.now() reads.
double wall_ms()
{
    timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// The children's process groups, for a signal that ends the benchmark early.
std::atomic<int> g_groups[4] = { -1, -1, -1, -1 };

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

// A raw TLS client on the relay: header and registration, then it reads and
// notes the arrival time of each order's first event. The relay's own
// certificate is made by the platform at init; the peer does not check it,
// as it only stands in for the relay's round trip on loopback.
class RelayPeer {
public:
    ~RelayPeer() { stop(); }

    // Runs on the reader thread for each new order.
    std::function<void(long long)> on_order;

    bool start(int port, std::string const& header, int storeidx)
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

    void stop()
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

    std::optional<double> seen(long long orderidx)
    {
        std::lock_guard lock(m_lock);
        auto found = m_seen.find(orderidx);
        return found == m_seen.end() ? std::nullopt : std::optional<double>(found->second);
    }

private:
    void read_loop()
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

    // Answers each "ping" and notes "orderidx=<digits>&" of NEWORDER events;
    // an incomplete tail stays for the next read.
    void scan(std::string& pending, double now)
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

    SSL_CTX* m_context = nullptr;
    SSL* m_ssl = nullptr;
    int m_fd = -1;
    std::atomic<bool> m_stopping { false };
    std::thread m_reader;
    std::mutex m_lock;
    std::map<long long, double> m_seen;
};

// The job file's last write in wall-clock milliseconds, or nothing yet.
std::optional<double> job_done_ms(std::string const& jobs, int n)
{
    char name[32];
    std::snprintf(name, sizeof name, "/%04d.bin", n);
    struct stat st {};
    if (::stat((jobs + name).c_str(), &st) != 0)
        return std::nullopt;
    return static_cast<double>(st.st_mtim.tv_sec) * 1000.0 + static_cast<double>(st.st_mtim.tv_nsec) / 1e6;
}

bool send_to_printer(int port, std::string const& bytes)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    for (size_t at = 0; ok && at < bytes.size();) {
        ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        ok = n > 0;
        at += n > 0 ? static_cast<size_t>(n) : 0;
    }
    if (fd >= 0)
        ::close(fd);
    return ok;
}

// The floor client's work after each event, on a thread of its own.
class Floor {
public:
    ~Floor() { stop(); }

    void start(int printer_port)
    {
        m_port = printer_port;
        m_worker = std::thread([this] { work(); });
    }
    void add(long long orderidx)
    {
        std::lock_guard lock(m_lock);
        m_orders.push_back(orderidx);
        m_wake.notify_one();
    }
    void stop()
    {
        {
            std::lock_guard lock(m_lock);
            m_stopping = true;
            m_wake.notify_one();
        }
        if (m_worker.joinable())
            m_worker.join();
    }
    int failures() const { return m_failures; }

private:
    void work()
    {
        for (;;) {
            long long orderidx;
            {
                std::unique_lock lock(m_lock);
                m_wake.wait(lock, [&] { return m_stopping || !m_orders.empty(); });
                if (m_stopping)
                    return;
                orderidx = m_orders.front();
                m_orders.pop_front();
            }
            std::string store = std::to_string(tillbay::session::storeidx());
            auto list = tillbay::api::store_call("cmd=110&storeidx=" + store);
            auto detail = tillbay::api::store_call("cmd=111&storeidx=" + store + "&orderidx=" + std::to_string(orderidx));
            if (!list.ok() || !detail.ok() || !detail.value().accepted()) {
                ++m_failures;
                continue;
            }
            auto record = tillbay::printing::ticket_from_json(detail.value().resultData, static_cast<int>(orderidx));
            auto kitchen = tillbay::printing::read_kitchen_record();
            auto bytes = tillbay::printing::build_ticket(kitchen.record, tillbay::printing::read_kitchen_style(), record,
                std::time(nullptr));
            if (!bytes.ok() || !send_to_printer(m_port, bytes.value().bytes))
                ++m_failures;
        }
    }

    int m_port = 0;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<long long> m_orders;
    bool m_stopping = false;
    std::thread m_worker;
    std::atomic<int> m_failures { 0 };
};

// The platform, two printers, the signed-in program and the floor client.
struct Rig {
    std::string root, pos, home, log, pos_log, platform_log;
    std::string pos_jobs, floor_jobs;
    int port = 0, control = 0, relay = 0, pos_printer = 0, floor_printer = 0;
    e2e::Child platform, program, printer_a, printer_b;
    RelayPeer peer;
    Floor floor;
    std::string failure;

    std::string value_of(std::string const& expression) const
    {
        return e2e::json_field(e2e::http(port, "POST", "/eval", expression).body, "value");
    }
    bool on_page(int page_class) const
    {
        std::string doc = e2e::http(port, "GET", "/doc").body;
        return e2e::json_field(doc, "class") == std::to_string(page_class) && e2e::json_field(doc, "ready") == "true";
    }
    int subscribers() const
    {
        return std::atoi(e2e::json_field(e2e::http(control, "GET", "/control/relay?store=1").body, "subscribers").c_str());
    }

    void start_program()
    {
        program = e2e::Child::start({ "xvfb-run", "-a", "-s", "-screen 0 1400x900x24", pos + "/tillbay" },
            { "LOCALAPPDATA=" + home, "TILLBAY_TESTPORT=" + std::to_string(port), "WEBKIT_DISABLE_COMPOSITING_MODE=1",
                "NO_AT_BRIDGE=1", "DBUS_SESSION_BUS_ADDRESS=" },
            pos_log);
        g_groups[1] = program.pid();
    }

    e2e::Child start_printer(int printer_port, std::string const& jobs, std::string const& name)
    {
        return e2e::Child::start({ std::string(TB_BUILD_DIR) + "/tools/printer/tillbay-printer", "--port", std::to_string(printer_port),
                                     "--jobs", jobs, "--idle-ms", "2000" },
            {}, root + "/" + name + ".log");
    }

    bool set_up()
    {
        std::string build = TB_BUILD_DIR;
        root = e2e::make_temp_dir("tb-bench-kitchen");
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

        pos_jobs = root + "/pos-jobs";
        floor_jobs = root + "/floor-jobs";
        pos_printer = e2e::free_port();
        floor_printer = e2e::free_port();
        printer_a = start_printer(pos_printer, pos_jobs, "printer-pos");
        printer_b = start_printer(floor_printer, floor_jobs, "printer-floor");
        g_groups[2] = printer_a.pid();
        g_groups[3] = printer_b.pid();
        std::string ini = e2e::read_text(pos + "/tillbay.ini");
        ini += "[PRINTER]\r\nconnection=tcp|127.0.0.1|" + std::to_string(pos_printer)
            + "\r\n[KITCHEN]\r\nconnection=inherit\r\nauto=1\r\nwhen=0\r\n";
        e2e::write_text(pos + "/tillbay.ini", ini);

        platform_log = root + "/platform.log";
        platform = e2e::Child::start({ tool, "serve", "--data", pos + "/platform-data", "--api-port", std::to_string(api),
                                         "--relay-port", std::to_string(relay), "--web-port", std::to_string(web),
                                         "--control-port", std::to_string(control), "--ui", root + "/ui" },
            {}, platform_log);
        g_groups[0] = platform.pid();
        if (!e2e::wait_for([&] { return e2e::read_text(platform_log).find("ready") != std::string::npos; }, 20s))
            return fail("the platform did not start");

        port = e2e::free_port();
        pos_log = root + "/tillbay.log";
        log = home + "/TillBay/bridge.log";
        start_program();
        if (!e2e::wait_for([&] { return on_page(1); }, 45s))
            return fail("no sign-in page");
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

        // The floor client: the same settings, its own staff sign-in.
        tillbay::paths::set_exe_dir_for_testing(pos + "/");
        tillbay::settings::read_server_settings();
        auto const& server = tillbay::settings::server();
        tillbay::transport::configure(server.tls, server.tlsfp, server.host);
        auto staff = tillbay::signin::staff(tillbay::api::configured_endpoint(), "tillbay01", "pos1234!");
        if (!staff.ok())
            return fail("the floor client could not sign in: " + staff.error().message);
        tillbay::session::set_staff(staff.value().storeidx, staff.value().useridx, staff.value().shop_name, false);
        floor.start(floor_printer);
        peer.on_order = [this](long long orderidx) { floor.add(orderidx); };

        std::string header = ini_value(e2e::read_text(pos + "/tillbay.ini"), "RELAY", "header");
        if (header.empty() || !peer.start(relay, header, 1))
            return fail("the relay peer could not register");
        if (!e2e::wait_for([&] { return subscribers() == 2; }, 10s))
            return fail("the relay peer is not counted as a subscriber");
        // The board's first list (taken as handled) is behind us.
        std::this_thread::sleep_for(1s);
        return true;
    }

    bool fail(std::string const& why)
    {
        failure = why;
        return false;
    }

    ~Rig()
    {
        peer.stop();
        floor.stop();
        program.stop();
        platform.stop();
        printer_a.stop();
        printer_b.stop();
        for (auto& group : g_groups)
            group = -1;
        if (!root.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(root, ignored);
        }
    }
};

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t index = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

struct Figures {
    std::vector<double> pos, floor;
    int missed = 0;
};
Figures g_figures;

void BM_KitchenTicket(benchmark::State& state)
{
    auto rig = std::make_unique<Rig>();
    if (!rig->set_up()) {
        std::fprintf(stderr, "bench_kitchen_ticket: %s\n--- program log\n%s\n--- bridge log (head)\n%s\n", rig->failure.c_str(),
            e2e::read_text(rig->pos_log).c_str(), e2e::read_text(rig->log).substr(0, 4000).c_str());
        state.SkipWithError(rig->failure.c_str());
        for (auto _ : state) { }
        return;
    }
    Figures& f = g_figures;
    int pos_job = 0, floor_job = 0;
    for (auto _ : state) {
        for (int i = 0; i < order_count; ++i) {
            std::string body = R"({"store":1,"kind":"table","table":)" + std::to_string(1 + i % 12)
                + R"(,"pay":"paid","memo":"덜 맵게","lines":[{"mname":"김치찌개","qty":2,"price":9000,"options":["곱빼기"]},)"
                  R"({"mname":"공기밥","qty":1,"price":1000}]})";
            double sent = wall_ms();
            auto answer = e2e::http(rig->control, "POST", "/control/orders", body);
            if (answer.status != 200) {
                state.SkipWithError(("the control call failed: " + answer.body).c_str());
                break;
            }
            std::optional<double> pos_at, floor_at;
            auto deadline = std::chrono::steady_clock::now() + per_order_limit;
            while ((!pos_at || !floor_at) && std::chrono::steady_clock::now() < deadline) {
                if (!pos_at)
                    pos_at = job_done_ms(rig->pos_jobs, pos_job + 1);
                if (!floor_at)
                    floor_at = job_done_ms(rig->floor_jobs, floor_job + 1);
                if (!pos_at || !floor_at)
                    std::this_thread::sleep_for(2ms);
            }
            // A job file keeps growing until its connection ends: read the time again a moment later.
            std::this_thread::sleep_for(pause_between_orders);
            if (pos_at) {
                pos_at = job_done_ms(rig->pos_jobs, ++pos_job);
            }
            if (floor_at) {
                floor_at = job_done_ms(rig->floor_jobs, ++floor_job);
            }
            if (!pos_at || !floor_at) {
                ++f.missed;
                continue;
            }
            f.pos.push_back(*pos_at - sent);
            f.floor.push_back(*floor_at - sent);
        }
    }
    double pos = percentile(f.pos, 0.5);
    double floor = percentile(f.floor, 0.5);
    state.SetIterationTime(pos / 1000.0);
    state.counters["orders"] = static_cast<double>(f.pos.size());
    state.counters["missed"] = f.missed;
    state.counters["pos_median_ms"] = pos;
    state.counters["pos_p90_ms"] = percentile(f.pos, 0.9);
    state.counters["floor_median_ms"] = floor;
    state.counters["floor_p90_ms"] = percentile(f.floor, 0.9);
    if (floor > 0)
        state.counters["pos/floor"] = pos / floor;
}

BENCHMARK(BM_KitchenTicket)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    for (int signal_number : { SIGINT, SIGTERM, SIGHUP })
        std::signal(signal_number, end_children_and_exit);
    std::signal(SIGPIPE, SIG_IGN);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    Figures const& f = g_figures;
    if (f.pos.empty()) {
        std::printf("kitchen ticket: no order was measured\n");
        return 1;
    }
    double pos = percentile(f.pos, 0.5), pos90 = percentile(f.pos, 0.9);
    double floor = percentile(f.floor, 0.5), floor90 = percentile(f.floor, 0.9);
    std::printf("orders measured %zu of %d (missed %d), from the control call to the ticket's last byte\n", f.pos.size(),
        order_count, f.missed);
    std::printf("kitchen ticket median %.1f ms (p90 %.1f ms), floor median %.1f ms (p90 %.1f ms)\n", pos, pos90, floor, floor90);
    std::printf("ratio median %.2f (goal at most 2), p90 %.2f (goal at most 3)\n", floor > 0 ? pos / floor : 0.0,
        floor90 > 0 ? pos90 / floor90 : 0.0);
    return 0;
}

// How long a new customer order takes from the platform to the order board,
// end to end: the reference platform and the real tillbay (under an Xvfb of
// its own, signed in as staff) run as in the end-to-end tests; a hook put
// into the board through the automation endpoint notes the wall-clock time
// at which setOrderList first carries each order. Fifty orders are created
// one at a time through the platform's control interface.
//
// The peer, measured on the same control calls: a bare OpenSSL client
// registered on the relay for the same store, which only reads the NEWORDER
// event. The POS's path is that plus the event hand-over to the UI thread, the
// list reload (a store call over a new TLS connection) and the callback into
// the page, so the ratio says what the program adds on top of the relay.
//
// The platform raises the event before it answers the control call, so the
// relay peer often has the event before the call returns. Both figures are
// therefore taken from the moment the control call is sent; the board's
// figure from the call's return is printed beside them.

#include "e2e_support.h"

#include <benchmark/benchmark.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
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
constexpr auto per_order_limit = 5s;
// A pause between orders, so that each one is carried by a reload of its own
// and the board is idle again when the next control call goes out.
constexpr auto pause_between_orders = 250ms;

// Wall-clock milliseconds, the clock the page's Date.now() reads.
double wall_ms()
{
    timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// The children's process groups, for a signal that ends the benchmark early.
std::atomic<int> g_groups[3] = { -1, -1, -1 };

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
                std::lock_guard lock(m_lock);
                m_seen.emplace(orderidx, now);
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

// The platform, the signed-in program and the relay peer, set up once.
struct Rig {
    std::string root, pos, home, log, pos_log, platform_log;
    int port = 0, control = 0, relay = 0;
    e2e::Child platform, program;
    RelayPeer peer;
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

    bool set_up()
    {
        std::string build = TB_BUILD_DIR;
        root = e2e::make_temp_dir("tb-bench-push");
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

        std::string header = ini_value(e2e::read_text(pos + "/tillbay.ini"), "RELAY", "header");
        if (header.empty() || !peer.start(relay, header, 1))
            return fail("the relay peer could not register");
        if (!e2e::wait_for([&] { return subscribers() == 2; }, 10s))
            return fail("the relay peer is not counted as a subscriber");

        // The hook notes when setOrderList first carries each order, before the
        // board's own handler draws it.
        std::string hooked = value_of(
            "(function(){if(window.__bench)return 'again';var inner=window.setOrderList;if(typeof inner!=='function')"
            "return typeof inner;var seen={};window.__bench={seen:seen,calls:0};window.setOrderList=function(text){"
            "var t=Date.now(),p=performance.now();window.__bench.calls++;try{var d=typeof text==='string'?JSON.parse(text):text;"
            "(d&&d.orders||[]).forEach(function(o){var k=String(o.orderidx);if(!(k in seen))seen[k]=[t,p];});}catch(e){}"
            "return inner.apply(this,arguments);};return 'hooked';})()");
        if (hooked != "\"hooked\"")
            return fail("the page hook was not installed: " + hooked);
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
        program.stop();
        platform.stop();
        g_groups[0] = g_groups[1] = -1;
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
    std::vector<double> page_from_send, page_from_return, peer_from_send;
    int missed = 0;
};
Figures g_figures;

void BM_PushToPage(benchmark::State& state)
{
    auto rig = std::make_unique<Rig>();
    if (!rig->set_up()) {
        std::fprintf(stderr, "bench_push_to_page: %s\n--- program log\n%s\n--- bridge log (tail)\n%s\n", rig->failure.c_str(),
            e2e::read_text(rig->pos_log).c_str(), e2e::read_text(rig->log).substr(0, 4000).c_str());
        state.SkipWithError(rig->failure.c_str());
        for (auto _ : state) { }
        return;
    }
    Figures& f = g_figures;
    for (auto _ : state) {
        for (int i = 0; i < order_count; ++i) {
            std::string body = R"({"store":1,"kind":"table","table":)" + std::to_string(1 + i % 12)
                + R"(,"pay":"paid","lines":[{"mname":"김치찌개","qty":1,"price":9000}]})";
            double sent = wall_ms();
            auto answer = e2e::http(rig->control, "POST", "/control/orders", body);
            double returned = wall_ms();
            long long orderidx = std::atoll(e2e::json_field(answer.body, "orderidx").c_str());
            if (answer.status != 200 || orderidx <= 0) {
                state.SkipWithError(("the control call failed: " + answer.body).c_str());
                break;
            }
            std::optional<double> page_at, peer_at;
            std::string probe = "(function(){var s=window.__bench.seen['" + std::to_string(orderidx) + "'];return s?s[0]:0;})()";
            auto deadline = std::chrono::steady_clock::now() + per_order_limit;
            while ((!page_at || !peer_at) && std::chrono::steady_clock::now() < deadline) {
                if (!peer_at)
                    peer_at = rig->peer.seen(orderidx);
                if (!page_at) {
                    double at = std::atof(rig->value_of(probe).c_str());
                    if (at > 0)
                        page_at = at;
                }
                if (!page_at || !peer_at)
                    std::this_thread::sleep_for(10ms);
            }
            if (!page_at || !peer_at) {
                ++f.missed;
                continue;
            }
            f.page_from_send.push_back(*page_at - sent);
            f.page_from_return.push_back(*page_at - returned);
            f.peer_from_send.push_back(*peer_at - sent);
            std::this_thread::sleep_for(pause_between_orders);
        }
    }
    double page = percentile(f.page_from_send, 0.5);
    double peer = percentile(f.peer_from_send, 0.5);
    state.SetIterationTime(page / 1000.0);
    state.counters["orders"] = static_cast<double>(f.page_from_send.size());
    state.counters["missed"] = f.missed;
    state.counters["page_median_ms"] = page;
    state.counters["page_p90_ms"] = percentile(f.page_from_send, 0.9);
    state.counters["page_after_return_median_ms"] = percentile(f.page_from_return, 0.5);
    state.counters["peer_median_ms"] = peer;
    state.counters["peer_p90_ms"] = percentile(f.peer_from_send, 0.9);
    if (peer > 0)
        state.counters["page/peer"] = page / peer;
}

BENCHMARK(BM_PushToPage)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    for (int signal_number : { SIGINT, SIGTERM, SIGHUP })
        std::signal(signal_number, end_children_and_exit);
    // A write to a connection the platform has already closed (the relay
    // peer's "pong" while it stops) must fail as a write, not end the run.
    std::signal(SIGPIPE, SIG_IGN);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    Figures const& f = g_figures;
    if (f.page_from_send.empty()) {
        std::printf("push→page: no order was measured\n");
        return 1;
    }
    double page = percentile(f.page_from_send, 0.5);
    double peer = percentile(f.peer_from_send, 0.5);
    std::printf("orders measured %zu of %d (missed %d), times from the control call being sent\n", f.page_from_send.size(),
        order_count, f.missed);
    std::printf("push→page median %.1f ms (p90 %.1f ms), relay peer median %.1f ms (p90 %.1f ms)\n", page,
        percentile(f.page_from_send, 0.9), peer, percentile(f.peer_from_send, 0.9));
    std::printf("push→page after the control call returned: median %.1f ms, p90 %.1f ms\n", percentile(f.page_from_return, 0.5),
        percentile(f.page_from_return, 0.9));
    std::printf("push→page median %.1f ms, relay peer median %.1f ms, ratio %.2f\n", page, peer, peer > 0 ? page / peer : 0.0);
    return 0;
}

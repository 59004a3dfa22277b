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

#include "floor_client.h"
#include "pos_rig.h"
#include "printing/kitchen_ticket.h"
#include "printing/printer_settings.h"
#include "server/api.h"
#include "session/session.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
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

using namespace bench;

constexpr int order_count = 50;
constexpr auto per_order_limit = 10s;
// A pause between orders, so that each ticket is printed before the next
// control call goes out.
constexpr auto pause_between_orders = 300ms;

// Wall-clock milliseconds, the clock the page's Date.now() reads.
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

// The floor client's work after each event: the list, the order's detail,
// the ticket to the second printer.
class Floor {
public:
    void start(int printer_port)
    {
        m_worker.start([this, printer_port](long long orderidx) { print(orderidx, printer_port); });
    }
    void add(long long orderidx) { m_worker.add(orderidx); }
    void stop() { m_worker.stop(); }
    int failures() const { return m_failures; }

private:
    void print(long long orderidx, int printer_port)
    {
        std::string store = std::to_string(tillbay::session::storeidx());
        auto list = tillbay::api::store_call("cmd=110&storeidx=" + store);
        auto detail = tillbay::api::store_call("cmd=111&storeidx=" + store + "&orderidx=" + std::to_string(orderidx));
        if (!list.ok() || !detail.ok() || !detail.value().accepted()) {
            ++m_failures;
            return;
        }
        auto record = tillbay::printing::ticket_from_json(detail.value().resultData, static_cast<int>(orderidx));
        auto kitchen = tillbay::printing::read_kitchen_record();
        auto bytes = tillbay::printing::build_ticket(kitchen.record, tillbay::printing::read_kitchen_style(), record,
            std::time(nullptr));
        if (!bytes.ok() || !send_to_printer(printer_port, bytes.value().bytes))
            ++m_failures;
    }

    std::atomic<int> m_failures { 0 };
    FloorWorker m_worker;
};

// The shared rig with two printers (the program's and the floor's) and the
// floor client.
struct KitchenRig {
    Rig rig;
    std::string pos_jobs, floor_jobs;
    int floor_printer = 0;
    e2e::Child printer_a, printer_b;
    Floor floor;

    e2e::Child start_printer(int printer_port, std::string const& jobs, std::string const& name)
    {
        auto printer = e2e::Child::start({ std::string(TB_BUILD_DIR) + "/tools/printer/tillbay-printer", "--port",
                                             std::to_string(printer_port), "--jobs", jobs, "--idle-ms", "2000" },
            {}, rig.root + "/" + name + ".log");
        end_on_signals_too(printer.pid());
        return printer;
    }

    bool set_up()
    {
        // The program prints its kitchen tickets to the first printer.
        rig.peer.on_order = [this](long long orderidx) { floor.add(orderidx); };
        bool ready = rig.set_up("tb-bench-kitchen", true, [this](Rig& r) {
            pos_jobs = r.root + "/pos-jobs";
            floor_jobs = r.root + "/floor-jobs";
            int pos_printer = e2e::free_port();
            floor_printer = e2e::free_port();
            printer_a = start_printer(pos_printer, pos_jobs, "printer-pos");
            printer_b = start_printer(floor_printer, floor_jobs, "printer-floor");
            std::string ini = e2e::read_text(r.pos + "/tillbay.ini");
            ini += "[PRINTER]\r\nconnection=tcp|127.0.0.1|" + std::to_string(pos_printer)
                + "\r\n[KITCHEN]\r\nconnection=inherit\r\nauto=1\r\nwhen=0\r\n";
            e2e::write_text(r.pos + "/tillbay.ini", ini);
            return true;
        });
        if (!ready)
            return false;

        // The floor client: the same settings, its own staff sign-in.
        if (!sign_in_floor_client(rig))
            return false;
        floor.start(floor_printer);
        // The board's first list (taken as handled) is behind us.
        std::this_thread::sleep_for(1s);
        return true;
    }

    ~KitchenRig()
    {
        rig.peer.stop();
        floor.stop();
        printer_a.stop();
        printer_b.stop();
    }
};

struct Figures {
    std::vector<double> pos, floor;
    int missed = 0;
};
Figures g_figures;

void BM_KitchenTicket(benchmark::State& state)
{
    auto kitchen = std::make_unique<KitchenRig>();
    Rig const& rig = kitchen->rig;
    if (!kitchen->set_up()) {
        std::fprintf(stderr, "bench_kitchen_ticket: %s\n--- program log\n%s\n--- bridge log (head)\n%s\n", rig.failure.c_str(),
            e2e::read_text(rig.pos_log).c_str(), e2e::read_text(rig.log).substr(0, 4000).c_str());
        state.SkipWithError(rig.failure.c_str());
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
            auto answer = e2e::http(rig.control, "POST", "/control/orders", body);
            if (answer.status != 200) {
                state.SkipWithError(("the control call failed: " + answer.body).c_str());
                break;
            }
            std::optional<double> pos_at, floor_at;
            auto deadline = std::chrono::steady_clock::now() + per_order_limit;
            while ((!pos_at || !floor_at) && std::chrono::steady_clock::now() < deadline) {
                if (!pos_at)
                    pos_at = job_done_ms(kitchen->pos_jobs, pos_job + 1);
                if (!floor_at)
                    floor_at = job_done_ms(kitchen->floor_jobs, floor_job + 1);
                if (!pos_at || !floor_at)
                    std::this_thread::sleep_for(2ms);
            }
            // A job file keeps growing until its connection ends: read the time again a moment later.
            std::this_thread::sleep_for(pause_between_orders);
            if (pos_at) {
                pos_at = job_done_ms(kitchen->pos_jobs, ++pos_job);
            }
            if (floor_at) {
                floor_at = job_done_ms(kitchen->floor_jobs, ++floor_job);
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
    using bench::percentile;
    bench::end_children_on_signals();
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

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
// The list floor, on the same events in the same run: a bare client that on
// each NEWORDER event makes the list call the board needs (a store call over
// a new TLS connection, with the program's own server code) and notes when
// the list that holds the order has arrived. What the program adds on top of
// that is the hand-overs between its threads and the page callback.
//
// The platform raises the event before it answers the control call, so the
// relay peer often has the event before the call returns. Both figures are
// therefore taken from the moment the control call is sent; the board's
// figure from the call's return is printed beside them.

#include "floor_client.h"
#include "pos_rig.h"
#include "server/api.h"
#include "session/session.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

using namespace bench;

constexpr int order_count = 50;
constexpr auto per_order_limit = 5s;
// A pause between orders, so that each one is carried by a reload of its own
// and the board is idle again when the next control call goes out.
constexpr auto pause_between_orders = 250ms;

// The list floor's work after each event: the list call, and the moment the
// list that holds the order has arrived.
class ListFloor {
public:
    void start()
    {
        m_worker.start([this](long long orderidx) { fetch(orderidx); });
    }
    void add(long long orderidx) { m_worker.add(orderidx); }
    void stop() { m_worker.stop(); }
    std::optional<double> seen(long long orderidx)
    {
        std::lock_guard lock(m_lock);
        auto found = m_seen.find(orderidx);
        return found == m_seen.end() ? std::nullopt : std::optional<double>(found->second);
    }

private:
    void fetch(long long orderidx)
    {
        auto list = tillbay::api::store_call("cmd=110&storeidx=" + std::to_string(tillbay::session::storeidx()));
        double at = wall_ms();
        if (list.ok() && list.value().accepted()
            && list.value().resultData.find("\"orderidx\":" + std::to_string(orderidx) + ",") != std::string::npos) {
            std::lock_guard lock(m_lock);
            m_seen.emplace(orderidx, at);
        }
    }

    std::mutex m_lock;
    std::map<long long, double> m_seen;
    FloorWorker m_worker;
};

// Notes when setOrderList first carries each order, before the board's own
// handler draws it, on the page's sub-millisecond clock (the time origin plus
// the time since; Date.now() would round to whole milliseconds).
bool hook_the_board(Rig& rig)
{
    std::string hooked = rig.value_of(
        "(function(){if(window.__bench)return 'again';var inner=window.setOrderList;if(typeof inner!=='function')"
        "return typeof inner;var seen={};window.__bench={seen:seen,calls:0};window.setOrderList=function(text){"
        "var t=performance.timeOrigin+performance.now(),p=performance.now();window.__bench.calls++;try{var d=typeof text==='string'?JSON.parse(text):text;"
        "(d&&d.orders||[]).forEach(function(o){var k=String(o.orderidx);if(!(k in seen))seen[k]=[t,p];});}catch(e){}"
        "return inner.apply(this,arguments);};return 'hooked';})()");
    if (hooked != "\"hooked\"") {
        rig.failure = "the page hook was not installed: " + hooked;
        return false;
    }
    return true;
}

struct Figures {
    std::vector<double> page_from_send, page_from_return, peer_from_send, floor_from_send;
    int missed = 0;
};
Figures g_figures;

void BM_PushToPage(benchmark::State& state)
{
    // The floor outlives the rig, whose relay peer hands it the events.
    ListFloor floor;
    auto rig = std::make_unique<Rig>();
    rig->peer.on_order = [&floor](long long orderidx) { floor.add(orderidx); };
    if (!rig->set_up("tb-bench-push", true) || !hook_the_board(*rig) || !sign_in_floor_client(*rig)) {
        std::fprintf(stderr, "bench_push_to_page: %s\n--- program log\n%s\n--- bridge log (tail)\n%s\n", rig->failure.c_str(),
            e2e::read_text(rig->pos_log).c_str(), e2e::read_text(rig->log).substr(0, 4000).c_str());
        state.SkipWithError(rig->failure.c_str());
        for (auto _ : state) { }
        return;
    }
    floor.start();
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
            std::optional<double> page_at, peer_at, floor_at;
            std::string probe = "(function(){var s=window.__bench.seen['" + std::to_string(orderidx) + "'];return s?s[0]:0;})()";
            auto deadline = std::chrono::steady_clock::now() + per_order_limit;
            while ((!page_at || !peer_at || !floor_at) && std::chrono::steady_clock::now() < deadline) {
                if (!peer_at)
                    peer_at = rig->peer.seen(orderidx);
                if (!floor_at)
                    floor_at = floor.seen(orderidx);
                if (!page_at) {
                    double at = std::atof(rig->value_of(probe).c_str());
                    if (at > 0)
                        page_at = at;
                }
                if (!page_at || !peer_at || !floor_at)
                    std::this_thread::sleep_for(10ms);
            }
            if (!page_at || !peer_at || !floor_at) {
                ++f.missed;
                continue;
            }
            f.page_from_send.push_back(*page_at - sent);
            f.page_from_return.push_back(*page_at - returned);
            f.peer_from_send.push_back(*peer_at - sent);
            f.floor_from_send.push_back(*floor_at - sent);
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
    double floor_median = percentile(f.floor_from_send, 0.5);
    state.counters["list_floor_median_ms"] = floor_median;
    if (floor_median > 0)
        state.counters["page/list_floor"] = page / floor_median;
    rig->peer.stop();
    floor.stop();
}

BENCHMARK(BM_PushToPage)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    end_children_on_signals();
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
    double floor = percentile(f.floor_from_send, 0.5);
    std::printf("list floor (the event, then the list call) median %.1f ms (p90 %.1f ms); push→page ÷ list floor %.2f\n",
        floor, percentile(f.floor_from_send, 0.9), floor > 0 ? page / floor : 0.0);
    std::printf("push→page median %.1f ms, relay peer median %.1f ms, ratio %.2f\n", page, peer, peer > 0 ? page / peer : 0.0);
    return 0;
}

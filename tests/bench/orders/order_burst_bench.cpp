// A busy moment at the counter: 300 customer orders arrive at 20 a second
// while the window must keep answering. The real program under Xvfb against
// the reference platform, signed in on the order board. Figures:
//   - how many order-list reloads the burst cost (the platform's request log
//     counts the list calls; one per drain at most, so far fewer than 300);
//   - how long the window took to answer a trivial script sent through the
//     automation endpoint every 25 ms meanwhile: the longest, the 90th
//     percentile and the median;
//   - that every order reached the board.

#include "pos_rig.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

using namespace bench;

constexpr int order_count = 300;
constexpr auto order_spacing = 50ms; // 20 orders a second
constexpr auto probe_spacing = 25ms;

struct Figures {
    int reloads = 0;
    int list_callbacks = 0;
    int orders_shown = 0;
    std::vector<double> answer_ms;
};
Figures g_figures;

int count_of(std::string const& text, std::string const& needle)
{
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size()))
        ++n;
    return n;
}

void BM_OrderBurst(benchmark::State& state)
{
    auto rig = std::make_unique<Rig>();
    if (!rig->set_up("tb-bench-burst", false)) {
        std::fprintf(stderr, "bench_order_burst: %s\n%s\n", rig->failure.c_str(), e2e::read_text(rig->pos_log).c_str());
        state.SkipWithError(rig->failure.c_str());
        for (auto _ : state) { }
        return;
    }
    rig->value_of("(function(){var inner=window.setOrderList;window.__calls=0;window.setOrderList=function(){"
                  "window.__calls++;return inner.apply(this,arguments);};return true;})()");
    Figures& f = g_figures;
    for (auto _ : state) {
        long long seq = rig->last_request_seq();
        std::atomic<bool> probing { true };
        std::thread prober([&] {
            while (probing) {
                auto sent = Clock::now();
                (void)rig->value_of("1+1");
                f.answer_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
                std::this_thread::sleep_until(sent + probe_spacing);
            }
        });
        long long last = 0;
        auto next = Clock::now();
        for (int i = 0; i < order_count; ++i) {
            last = rig->create_order(1 + i % 12);
            next += order_spacing;
            std::this_thread::sleep_until(next);
        }
        std::string probe = "!!document.querySelector('.card[data-orderidx=\"" + std::to_string(last) + "\"]')";
        bool shown = e2e::wait_for([&] { return rig->value_of(probe) == "true"; }, 30s);
        std::this_thread::sleep_for(500ms);
        probing = false;
        prober.join();
        if (!shown)
            state.SkipWithError("the last order did not reach the board");
        f.reloads = count_of(rig->requests_after(seq), "cmd=110&");
        f.list_callbacks = std::atoi(rig->value_of("window.__calls").c_str());
        f.orders_shown = std::atoi(rig->value_of("document.querySelectorAll('.card').length").c_str());
    }
    double longest = f.answer_ms.empty() ? 0 : percentile(f.answer_ms, 1.0);
    state.SetIterationTime(longest / 1000.0);
    state.counters["reloads"] = f.reloads;
    state.counters["answer_max_ms"] = longest;
    state.counters["answer_p90_ms"] = percentile(f.answer_ms, 0.9);
}

BENCHMARK(BM_OrderBurst)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

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
    if (f.answer_ms.empty()) {
        std::printf("order burst: nothing was measured\n");
        return 1;
    }
    std::printf("order burst: %d orders at 20 a second; %d list reloads, %d setOrderList calls, %d cards on the board\n",
        order_count, f.reloads, f.list_callbacks, f.orders_shown);
    std::printf("window answered %zu scripts meanwhile: longest %.1f ms, p90 %.1f ms, median %.1f ms\n", f.answer_ms.size(),
        percentile(f.answer_ms, 1.0), percentile(f.answer_ms, 0.9), percentile(f.answer_ms, 0.5));
    return 0;
}

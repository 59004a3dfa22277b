// What the program costs in memory on a busy board. The real program under
// Xvfb against the reference platform, signed in, with 300 orders on the
// board; beside it a minimal WebKitGTK window (minimal_board_window) that
// keeps the same page open with the same 300-order list, under an Xvfb of
// its own. The figure is the proportional set size (PSS) of each side's own
// processes: the program, or the minimal window, with their web processes.
// Then the same 300-order list is reloaded 1,000 times through the program's
// real path (refreshorders: the command lane, the store call, setOrderList)
// and the program's PSS is read again.
//
// PSS splits a shared library page between every process that maps it, so a
// side's figure drops while the other side (or any other WebKit program on
// the machine) runs. The ratio therefore compares the two sides read at the
// same moment, while both are open and share alike; the program's reading
// before the minimal window starts is shown beside it, and so is each
// process's anonymous share (its heaps, Pss_Anon).

#include "pos_rig.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

using namespace bench;

constexpr int order_count = 300;
constexpr int reload_count = 1000;
constexpr int warm_up_reloads = 100;
// Time for the web processes to settle (garbage collection, caches) before a reading.
constexpr auto settle = 8s;

// The processes that count: the program or the minimal window, and WebKit's.
bool counted(std::string const& name)
{
    return name == "tillbay" || name == "minimal_board_w" || name.rfind("WebKit", 0) == 0;
}

double rollup_kb(std::string const& rollup, char const* field)
{
    size_t at = rollup.find(field);
    return at == std::string::npos ? -1 : std::atof(rollup.c_str() + at + std::strlen(field));
}

// The PSS of the counted processes, in MB; each one's share (and its
// anonymous part) goes to the breakdown line when one is given, and their
// anonymous parts add up in anon_mb when it is given.
double pss_mb(std::vector<int> const& pids, std::string* breakdown = nullptr, double* anon_mb = nullptr)
{
    double kb = 0, anon_kb = 0;
    for (int pid : pids) {
        std::string name = e2e::read_text("/proc/" + std::to_string(pid) + "/comm");
        while (!name.empty() && (name.back() == '\n' || name.back() == '\r'))
            name.pop_back();
        if (!counted(name))
            continue;
        std::string rollup = e2e::read_text("/proc/" + std::to_string(pid) + "/smaps_rollup");
        double own = rollup_kb(rollup, "\nPss:");
        if (own < 0)
            continue;
        double anon = std::max(0.0, rollup_kb(rollup, "\nPss_Anon:"));
        kb += own;
        anon_kb += anon;
        if (breakdown) {
            char part[128];
            std::snprintf(part, sizeof part, "%s%s %.1f MB (anon %.1f)", breakdown->empty() ? "" : ", ", name.c_str(),
                own / 1024.0, anon / 1024.0);
            *breakdown += part;
        }
    }
    if (anon_mb)
        *anon_mb = anon_kb / 1024.0;
    return kb / 1024.0;
}

struct Figures {
    std::string program_parts, minimal_parts, after_parts, beside_parts;
    double program_mb = 0;
    double minimal_mb = 0;
    double program_beside_mb = 0;
    double before_reloads_mb = 0;
    double after_reloads_mb = 0;
    double before_reloads_anon_mb = 0;
    int reloads = 0;
    std::vector<double> steps_mb, steps_anon_mb;
};
Figures g_figures;

bool reload(Rig& rig, int times)
{
    int before = std::atoi(rig.value_of("window.__calls").c_str());
    for (int sent = 0; sent < times; sent += 50) {
        rig.value_of("for(var i=0;i<" + std::to_string(std::min(50, times - sent)) + ";i++)TW.send('refreshorders');true");
        // The bridge takes at most 256 waiting page messages: let the lane catch up.
        e2e::wait_for([&] { return std::atoi(rig.value_of("window.__calls").c_str()) >= before + sent; }, 60s);
    }
    return e2e::wait_for([&] { return std::atoi(rig.value_of("window.__calls").c_str()) >= before + times; }, 120s);
}

void BM_BoardMemory(benchmark::State& state)
{
    auto rig = std::make_unique<Rig>();
    if (!rig->set_up("tb-bench-memory", false)) {
        std::fprintf(stderr, "bench_board_memory: %s\n%s\n", rig->failure.c_str(), e2e::read_text(rig->pos_log).c_str());
        state.SkipWithError(rig->failure.c_str());
        for (auto _ : state) { }
        return;
    }
    rig->value_of("(function(){var inner=window.setOrderList;window.__calls=0;window.setOrderList=function(t){"
                  "window.__calls++;window.__list=t;return inner.apply(this,arguments);};return true;})()");
    Figures& f = g_figures;
    for (auto _ : state) {
        for (int i = 0; i < order_count; ++i)
            rig->create_order(1 + i % 12);
        if (!e2e::wait_for([&] { return std::atoi(rig->value_of("document.querySelectorAll('.card').length").c_str()) >= order_count; }, 60s)) {
            state.SkipWithError("the orders did not reach the board");
            break;
        }
        std::this_thread::sleep_for(settle);
        f.program_mb = pss_mb(rig->program_pids(), &f.program_parts);
        // TB_BENCH_HOLD=<seconds> keeps everything as it is for a closer look.
        if (char const* hold = std::getenv("TB_BENCH_HOLD")) {
            std::fprintf(stderr, "holding: program %d\n", rig->program.pid());
            std::this_thread::sleep_for(std::chrono::seconds(std::atoi(hold)));
        }

        // The minimal window with the same page and the same list.
        std::string list = rig->value_of("window.__list");
        std::string script = rig->root + "/list.js";
        std::string marker = rig->root + "/shown";
        e2e::write_text(script, "window.setOrderList(" + list + ");true");
        auto peer = e2e::Child::start({ "xvfb-run", "-a", "-s", "-screen 0 1400x900x24", TB_MINIMAL_BOARD_WINDOW,
                                          "file://" + rig->pos + "/orders.html", script, marker },
            { "WEBKIT_DISABLE_COMPOSITING_MODE=1", "NO_AT_BRIDGE=1" }, rig->root + "/minimal.log");
        if (!e2e::wait_for([&] { return ::access(marker.c_str(), F_OK) == 0; }, 60s)) {
            state.SkipWithError("the minimal window did not show the list");
            break;
        }
        std::this_thread::sleep_for(settle);
        // The minimal window and its web processes, below its xvfb-run.
        f.minimal_mb = pss_mb(descendants_of(peer.pid()), &f.minimal_parts);
        f.program_beside_mb = pss_mb(rig->program_pids(), &f.beside_parts);
        peer.stop();

        reload(*rig, warm_up_reloads);
        std::this_thread::sleep_for(settle);
        f.before_reloads_mb = pss_mb(rig->program_pids(), nullptr, &f.before_reloads_anon_mb);
        // Read after every quarter, so that growth can be told from the
        // memory a garbage collector keeps for a while.
        bool all = true;
        for (int quarter = 1; quarter <= 4 && all; ++quarter) {
            all = reload(*rig, reload_count / 4);
            std::this_thread::sleep_for(settle);
            double anon = 0;
            f.steps_mb.push_back(pss_mb(rig->program_pids(), quarter == 4 ? &f.after_parts : nullptr, &anon));
            f.steps_anon_mb.push_back(anon);
        }
        if (!all) {
            state.SkipWithError("the reloads did not all arrive");
            break;
        }
        f.reloads = reload_count;
        f.after_reloads_mb = f.steps_mb.back();
    }
    state.SetIterationTime(1);
    state.counters["program_mb"] = f.program_beside_mb;
    state.counters["program_alone_mb"] = f.program_mb;
    state.counters["minimal_mb"] = f.minimal_mb;
    if (f.minimal_mb > 0)
        state.counters["program/minimal"] = f.program_beside_mb / f.minimal_mb;
    state.counters["growth_mb"] = f.after_reloads_mb - f.before_reloads_mb;
}

BENCHMARK(BM_BoardMemory)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

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
    if (f.program_mb <= 0) {
        std::printf("board memory: nothing was measured\n");
        return 1;
    }
    std::printf("board memory with %d orders, both open: program %.1f MB PSS, minimal WebKitGTK window %.1f MB, ratio %.2f\n",
        order_count, f.program_beside_mb, f.minimal_mb, f.minimal_mb > 0 ? f.program_beside_mb / f.minimal_mb : 0.0);
    std::printf("  program: %s\n  minimal window: %s\n", f.beside_parts.c_str(), f.minimal_parts.c_str());
    std::printf("  program before the minimal window started (its libraries not shared with it): %.1f MB: %s\n",
        f.program_mb, f.program_parts.c_str());
    std::printf("after %d reloads of the same list: %.1f MB -> %.1f MB (%+.1f MB)\n", f.reloads, f.before_reloads_mb,
        f.after_reloads_mb, f.after_reloads_mb - f.before_reloads_mb);
    std::printf("  after each 250 reloads:");
    for (double mb : f.steps_mb)
        std::printf(" %.1f MB", mb);
    std::printf("\n  anonymous part: %.1f MB, after each 250 reloads:", f.before_reloads_anon_mb);
    for (double mb : f.steps_anon_mb)
        std::printf(" %.1f MB", mb);
    std::printf("\n  program after the reloads: %s\n", f.after_parts.c_str());
    return 0;
}

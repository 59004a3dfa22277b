// Start-up time of tillbay to a ready sign-in page, beside a minimal
// WebKitGTK window loading the same login.html, on one Xvfb display. The
// figure that matters is the ratio of the two ("tillbay / minimal").
#include "e2e_support.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

struct Setup {
    std::string root, pos, display;
    e2e::Child xvfb;
    double minimal_seconds = 0;
    double tillbay_seconds = 0;
    int minimal_runs = 0;
    int tillbay_runs = 0;

    Setup()
    {
        root = e2e::make_temp_dir("tb-bench-shell");
        pos = root + "/pos";
        std::string build = TB_BUILD_DIR;
        ::mkdir(pos.c_str(), 0755);
        e2e::copy_file(build + "/app/tillbay", pos + "/tillbay", true);
        e2e::copy_dir_files(build + "/app/webext", pos + "/webext");
        e2e::copy_dir_files(build + "/ui-bundle", pos);
        // A web host that answers nothing: the update check and the service
        // watch fail fast and stay out of the measurement.
        e2e::write_text(pos + "/tillbay.ini", "[SERVER]\nhost=127.0.0.1\nwebhost=127.0.0.1:9\nport=9\nrelayport=9\ntls=1\n");
        display = ":" + std::to_string(90 + (::getpid() % 100));
        xvfb = e2e::Child::start({ "Xvfb", display, "-screen", "0", "1400x900x24", "-nolisten", "tcp" }, {}, root + "/xvfb.log");
        std::this_thread::sleep_for(1s);
    }
};

Setup& setup()
{
    static Setup instance;
    return instance;
}

std::vector<std::string> display_env(Setup& s, std::string const& home)
{
    return { "DISPLAY=" + s.display, "LOCALAPPDATA=" + home, "WEBKIT_DISABLE_COMPOSITING_MODE=1", "NO_AT_BRIDGE=1",
        "DBUS_SESSION_BUS_ADDRESS=" };
}

void BM_MinimalWebKitWindow(benchmark::State& state)
{
    Setup& s = setup();
    for (auto _ : state) {
        std::string home = e2e::make_temp_dir("tb-bench-home");
        auto begin = std::chrono::steady_clock::now();
        auto child = e2e::Child::start({ TB_MINIMAL_WINDOW, "file://" + s.pos + "/login.html" }, display_env(s, home),
            home + "/minimal.log");
        e2e::wait_for([&] { return !child.running(); }, 60s);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        state.SetIterationTime(seconds);
        s.minimal_seconds += seconds;
        ++s.minimal_runs;
    }
}

void BM_TillbayToSignInPage(benchmark::State& state)
{
    Setup& s = setup();
    for (auto _ : state) {
        std::string home = e2e::make_temp_dir("tb-bench-home");
        int port = e2e::free_port();
        auto env = display_env(s, home);
        env.push_back("TILLBAY_TESTPORT=" + std::to_string(port));
        auto begin = std::chrono::steady_clock::now();
        auto child = e2e::Child::start({ s.pos + "/tillbay" }, env, home + "/tillbay.log");
        bool ready = false;
        auto deadline = begin + 60s;
        while (!ready && std::chrono::steady_clock::now() < deadline) {
            auto doc = e2e::http(port, "GET", "/doc").body;
            ready = e2e::json_field(doc, "ready") == "true" && e2e::json_field(doc, "class") == "1";
            if (!ready)
                std::this_thread::sleep_for(10ms);
        }
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        state.SetIterationTime(seconds);
        if (!ready)
            state.SkipWithError("the sign-in page did not become ready");
        s.tillbay_seconds += seconds;
        ++s.tillbay_runs;
        child.stop();
        if (s.minimal_runs > 0)
            state.counters["tillbay/minimal"] = (s.tillbay_seconds / s.tillbay_runs) / (s.minimal_seconds / s.minimal_runs);
    }
}

BENCHMARK(BM_MinimalWebKitWindow)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TillbayToSignInPage)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

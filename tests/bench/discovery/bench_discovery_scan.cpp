// The printer search over a /24 with five printers, beside nmap's connect
// scan of the same hosts and ports (every address probed, as the search
// does), in the same run on the same made-up LAN of network namespaces.
// The figure that matters is the ratio search / nmap: at most 1.
//
// Needs root for the namespaces; without them every benchmark is skipped
// with the reason, and nothing touches this machine's own network.

#include "tests/integration/discovery/driver_session.h"
#include "tests/integration/discovery/lan_fixture.h"
#include "tests/integration/discovery/peers.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <memory>

using namespace tillbay::test;

namespace {

constexpr char const* pos_address = "10.96.0.10";

struct Shop {
    Lan lan;
    std::string pos;
    std::vector<Process> printers;
    double search_seconds = 0;
    double nmap_seconds = 0;
};

Shop* shop(std::string& why)
{
    static std::unique_ptr<Shop> made;
    static std::string reason = Lan::unavailable_reason();
    if (reason.empty() && !have_program("/usr/bin/nmap"))
        reason = "nmap is not installed";
    why = reason;
    if (!reason.empty())
        return nullptr;
    if (!made) {
        ::setenv("TB_BUILD_DIR", TB_BUILD_DIR, 0);
        made = std::make_unique<Shop>();
        made->pos = made->lan.add_host("pos", { std::string(pos_address) + "/24" });
        for (int i = 0; i < 5; ++i) {
            std::string address = "10.96.0." + std::to_string(21 + i * 40);
            std::string ns = made->lan.add_host("p" + std::to_string(i), { address + "/24" });
            made->printers.push_back(start_printer(made->lan, ns, address));
        }
        if (!made->lan.ok()) {
            why = "the test LAN could not be built";
            return nullptr;
        }
    }
    return made.get();
}

// Both start from an empty neighbour table.
void forget_neighbours(Shop& s) { s.lan.exec(s.pos, { "ip", "neigh", "flush", "all" }); }

// One search, in seconds, and the number of entries of its final answer.
double time_search(Shop& s, size_t& found)
{
    forget_neighbours(s);
    DriverSession session(s.pos, { "CUPS_SERVER=" + s.lan.folder() + "/none.sock" });
    session.wait_for([](auto const& l) { return l == "READY"; }, std::chrono::seconds(5));
    auto started = std::chrono::steady_clock::now();
    session.send("discoverprinters</>r</>1");
    std::string line = session.wait_for(
        [](auto const& l) { return l.find("done:true") != std::string::npos; }, std::chrono::seconds(60));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    found = parse_answer(line).items.size();
    return seconds;
}

// nmap's connect scan of the same hosts and ports, in seconds, and the hosts with 9100 open.
double time_nmap(Shop& s, size_t& found)
{
    forget_neighbours(s);
    std::string output;
    auto started = std::chrono::steady_clock::now();
    s.lan.exec(s.pos,
        { "nmap", "-sT", "-Pn", "-n", "-p", "9100,9101,9102,631,515", "--exclude", pos_address, "-oG", "-",
            "10.96.0.1-254" },
        &output);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    found = 0;
    for (size_t at = output.find("9100/open"); at != std::string::npos; at = output.find("9100/open", at + 1))
        ++found;
    return seconds;
}

// Each iteration runs the whole search (announcements, scan, SNMP) and then
// nmap over the same 253 addresses; the time reported is the search's.
void BM_PrinterSearchBesideNmapSlash24(benchmark::State& state)
{
    std::string why;
    Shop* s = shop(why);
    if (!s) {
        state.SkipWithError(("skipped: " + why).c_str());
        return;
    }
    double search_total = 0, nmap_total = 0;
    size_t search_found = 0, nmap_found = 0;
    for (auto _ : state) {
        double search = time_search(*s, search_found);
        double nmap = time_nmap(*s, nmap_found);
        state.SetIterationTime(search);
        search_total += search;
        nmap_total += nmap;
    }
    state.counters["search_s"] = benchmark::Counter(search_total, benchmark::Counter::kAvgIterations);
    state.counters["nmap_s"] = benchmark::Counter(nmap_total, benchmark::Counter::kAvgIterations);
    state.counters["search_over_nmap"] = nmap_total > 0 ? search_total / nmap_total : 0;
    state.counters["printers_search"] = static_cast<double>(search_found);
    state.counters["printers_nmap"] = static_cast<double>(nmap_found);
}

} // namespace

BENCHMARK(BM_PrinterSearchBesideNmapSlash24)->Iterations(3)->UseManualTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();

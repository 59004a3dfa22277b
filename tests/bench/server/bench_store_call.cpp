// Sequential store calls against the reference platform on loopback, beside
// the same exchange made by `openssl s_client` (same envelope bytes, same
// server, TLS 1.2), each with and without TLS session resumption. The
// figures that matter are the ratios printed at the end:
//   - our call against s_client's handshake-and-exchange (s_client pays a
//     process start too, so a ratio below 1 is expected);
//   - a resumed call against a full-handshake call, for both clients.

#include "../../integration/server/peer.h"

#include "foundation/settings.h"
#include "os/fs.h"
#include "server/api.h"
#include "session/session.h"
#include "server/signin.h"
#include "server/transport.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tillbay;

namespace {

peers::Platform* g_platform = nullptr;
peers::TempDir* g_appdata = nullptr;
std::string g_command;
std::string g_envelope_file;
std::string g_session_file;

bool run_s_client(bool resume, bool save_session)
{
    std::string connect = "127.0.0.1:" + std::to_string(g_platform->api_port);
    std::vector<std::string> argv { "openssl", "s_client", "-connect", connect, "-tls1_2", "-quiet" };
    if (save_session)
        argv.insert(argv.end(), { "-sess_out", g_session_file });
    else if (resume)
        argv.insert(argv.end(), { "-sess_in", g_session_file });
    std::vector<char*> args;
    for (auto& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, g_envelope_file.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, "openssl", &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    int status = 0;
    ::waitpid(pid, &status, 0);
    // s_client exits with 1 when the server hangs up without a close_notify,
    // which is how the platform ends every exchange; only a crash or a
    // missing session file counts as a failure.
    if (!WIFEXITED(status))
        return false;
    return !save_session || ::access(g_session_file.c_str(), R_OK) == 0;
}

void BM_StoreCall(benchmark::State& state)
{
    if (!g_platform) {
        state.SkipWithError("tillbay-platform is not built");
        return;
    }
    bool resume = state.range(0) != 0;
    transport::set_session_resumption(resume);
    (void)api::store_call(g_command); // leaves a session to resume from
    for (auto _ : state) {
        auto result = api::store_call(g_command);
        if (!result.ok() || !result.value().accepted()) {
            state.SkipWithError(result.ok() ? "refused" : result.error().message.c_str());
            break;
        }
        benchmark::DoNotOptimize(result.value().resultData.size());
    }
    state.SetLabel(resume ? "resumed sessions" : "full handshakes");
    transport::set_session_resumption(true);
}
BENCHMARK(BM_StoreCall)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpensslClient(benchmark::State& state)
{
    if (!g_platform) {
        state.SkipWithError("tillbay-platform is not built");
        return;
    }
    bool resume = state.range(0) != 0;
    if (resume && !run_s_client(false, true)) {
        state.SkipWithError("openssl s_client could not save a session");
        return;
    }
    for (auto _ : state) {
        if (!run_s_client(resume, false)) {
            state.SkipWithError("openssl s_client failed");
            break;
        }
    }
    state.SetLabel(resume ? "s_client -sess_in" : "s_client full handshake");
}
BENCHMARK(BM_OpensslClient)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps each run's time per iteration, to print the ratios after the table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(std::vector<Run> const& runs) override
    {
        for (auto const& run : runs) {
            if (!run.error_occurred && run.iterations > 0)
                times[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

bool set_up()
{
    g_appdata = new peers::TempDir;
    ::setenv("LOCALAPPDATA", g_appdata->path().c_str(), 1);
    auto* platform = new peers::Platform;
    if (!platform->start() || !platform->configure_pos()) {
        delete platform;
        return false;
    }
    g_platform = platform;
    auto staff = signin::staff(api::configured_endpoint(), platform->staff_id, platform->staff_password);
    if (!staff.ok()) {
        std::fprintf(stderr, "sign-in failed: %s\n", staff.error().message.c_str());
        return false;
    }
    session::set_staff(staff.value().storeidx, staff.value().useridx, staff.value().shop_name, false);
    g_command = "cmd=110&storeidx=" + std::to_string(staff.value().storeidx);
    auto envelope = api::store_envelope(settings::server_header().str(), session::useridx(), g_command,
        session::access_token().str());
    g_envelope_file = platform->dir.file("envelope.json");
    g_session_file = platform->dir.file("s_client.session");
    return envelope.ok() && os::write_file(g_envelope_file, envelope.value().str()).ok();
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (!set_up())
        std::fprintf(stderr, "bench_store_call: no platform, the benchmarks skip\n");
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ratio = [&](char const* a, char const* b, char const* what) {
        if (reporter.times.count(a) && reporter.times.count(b) && reporter.times[b] > 0)
            std::printf("%-58s %.3f\n", what, reporter.times[a] / reporter.times[b]);
    };
    ratio("BM_StoreCall/0/real_time", "BM_OpensslClient/0/real_time", "store call / s_client, full handshakes:");
    ratio("BM_StoreCall/1/real_time", "BM_OpensslClient/1/real_time", "store call / s_client, resumed sessions:");
    ratio("BM_StoreCall/1/real_time", "BM_StoreCall/0/real_time", "store call resumed / full handshake:");
    ratio("BM_OpensslClient/1/real_time", "BM_OpensslClient/0/real_time", "s_client resumed / full handshake:");
    delete g_platform;
    delete g_appdata;
    benchmark::Shutdown();
    return 0;
}

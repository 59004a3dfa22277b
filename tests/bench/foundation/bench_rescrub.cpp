// The rescrub of an old 16 MiB bridge log at start-up, against `sed` making
// one substitution pass over the same file in place. Both read the whole
// file, rewrite it to a temporary file and rename it over the old one; ours
// also flushes it to disk before the rename, as every file the program
// replaces is. The counter "ratio" is our time divided by sed's.

#include "foundation/log_internal.h"
#include "os/fs.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/wait.h>

extern char** environ;

using namespace tillbay;
namespace fs = std::filesystem;

namespace {

// A log as an older version wrote it: every line cut to 300 bytes of
// message, nothing scrubbed. Mostly plain lines, a good share of order-list
// callbacks, and sign-ins and cash payments now and then.
std::string make_old_log(size_t limit)
{
    std::mt19937 random(7);
    std::string log;
    log.reserve(limit);
    int second = 0;
    while (true) {
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "%02d:%02d:%02d.%03d ", (second / 3600) % 24, (second / 60) % 60,
            second % 60, static_cast<int>(random() % 1000));
        ++second;
        std::string tag;
        std::string message;
        unsigned kind = random() % 100;
        if (kind < 20) {
            tag = "<<UI";
            message = "window.setOrderList&&setOrderList([";
            for (int i = 0; i < 4; ++i) {
                message += "{\"orderidx\":" + std::to_string(100000 + random() % 900000)
                    + ",\"tel\":\"010-" + std::to_string(1000 + random() % 9000) + "-" + std::to_string(1000 + random() % 9000)
                    + "\",\"addr\":\"서울시 마포구 월드컵로 " + std::to_string(random() % 300) + "\",\"memo\":\"문 앞에 놓아 주세요\"},";
            }
            message.back() = ']';
            message += ")";
        } else if (kind < 25) {
            tag = "JS>>";
            message = "login</>shop" + std::to_string(random() % 100) + "</>pw" + std::to_string(random());
        } else if (kind < 30) {
            tag = "JS>>";
            message = "cashpay</>" + std::to_string(random() % 100000) + "</>010-1234-" + std::to_string(1000 + random() % 9000);
        } else if (kind < 60) {
            tag = "JS>>";
            message = "viewinfo</>orderdetail</>" + std::to_string(random() % 100000);
        } else {
            tag = "UI";
            message = "주문 목록 새로 고침 " + std::to_string(random() % 50) + "건, 인쇄 대기 " + std::to_string(random() % 3) + "건";
        }
        if (message.size() > log::detail::bridge_message_limit)
            message.resize(log::detail::bridge_message_limit);
        std::string line = prefix + tag + " " + message + "\r\n";
        if (log.size() + line.size() > limit)
            break;
        log += line;
    }
    return log;
}

struct Fixture {
    std::string folder;
    std::string path;
    std::string content;

    Fixture()
    {
        std::string pattern = (fs::temp_directory_path() / "tb-bench-rescrub-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        folder = pattern;
        path = folder + "/bridge.log";
        content = make_old_log(log::detail::rescrub_max_file);
    }
    ~Fixture()
    {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    void restore() const
    {
        if (!os::write_file(path, content).ok())
            std::abort();
    }
};

Fixture& fixture()
{
    static Fixture instance;
    return instance;
}

// One pass of sed over the file in place: hide whatever follows the last
// separator of a line, a substitution of the same kind as the rules make.
bool run_sed(std::string const& path)
{
    std::string program = "sed";
    std::string in_place = "-i";
    std::string expression = "-e";
    std::string script = "s#</>[^<]*$#</>***#";
    std::string target = path;
    char* argv[] = { program.data(), in_place.data(), expression.data(), script.data(), target.data(), nullptr };
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "sed", nullptr, nullptr, argv, environ) != 0)
        return false;
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_RescrubBesideSed(benchmark::State& state)
{
    auto& f = fixture();
    double ours = 0;
    double sed = 0;
    int changed = 0;
    for (auto _ : state) {
        f.restore();
        auto start = std::chrono::steady_clock::now();
        auto result = log::detail::rescrub_file(f.path);
        double elapsed = seconds_since(start);
        if (!result.ok) {
            state.SkipWithError("rescrub failed");
            return;
        }
        changed = result.changed_lines;
        ours += elapsed;
        state.SetIterationTime(elapsed);

        f.restore();
        start = std::chrono::steady_clock::now();
        if (!run_sed(f.path)) {
            state.SkipWithError("sed failed");
            return;
        }
        sed += seconds_since(start);
    }
    auto iterations = static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(f.content.size()));
    state.counters["log_MiB"] = static_cast<double>(f.content.size()) / (1 << 20);
    state.counters["changed_lines"] = changed;
    state.counters["rescrub_ms"] = ours / iterations * 1000;
    state.counters["sed_ms"] = sed / iterations * 1000;
    state.counters["ratio"] = sed > 0 ? ours / sed : 0;
}
BENCHMARK(BM_RescrubBesideSed)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// The second start of the day: nothing changes, so nothing is written.
void BM_RescrubAlreadyClean(benchmark::State& state)
{
    auto& f = fixture();
    f.restore();
    if (!log::detail::rescrub_file(f.path).ok) {
        state.SkipWithError("rescrub failed");
        return;
    }
    for (auto _ : state) {
        auto result = log::detail::rescrub_file(f.path);
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(f.content.size()));
}
BENCHMARK(BM_RescrubAlreadyClean)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

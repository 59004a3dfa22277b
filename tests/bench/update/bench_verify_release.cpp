// Verifying a release at start-up (128 files, 20 MiB) beside `sha256sum` over
// the same files, spawned in the same run. The figure that matters is the
// ratio: our verification reads and hashes every file once, as sha256sum does.

#include "tests/unit/update/fixture.h"
#include "update/bundle_store.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

using namespace tillbay;
using namespace tillbay::test;

namespace {

struct Release {
    TempDir dir;
    std::string id;
    std::vector<std::string> paths;

    Release()
    {
        constexpr int files = 128;
        constexpr size_t total = 20 * 1024 * 1024;
        Files content = pages("bench");
        std::string block(total / files, '\0');
        for (int i = 0; static_cast<int>(content.size()) < files; ++i) {
            for (size_t j = 0; j < block.size(); ++j)
                block[j] = static_cast<char>((j * 131 + static_cast<size_t>(i) * 7) & 0xff);
            content["js/part" + std::to_string(i) + ".js"] = block;
        }
        write_files(dir / "install", content);
        bundle::Store store({ dir / "store", dir / "legacy", dir / "install" });
        (void)store.install(std::nullopt, manifest_of("bench", content));
        auto m = manifest_of("bench", content);
        id = update::build_bundle_manifest(m.ui_version, m.files, m.sha256).value().release_id;
        for (auto const& [name, _] : content)
            paths.push_back(dir / ("store/" + id + "/" + name));
    }
};

double sha256sum_seconds(std::vector<std::string> const& paths)
{
    std::vector<char*> argv { const_cast<char*>("/usr/bin/sha256sum") };
    for (auto const& p : paths)
        argv.push_back(const_cast<char*>(p.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        return 0;
    int status = 0;
    waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_VerifyReleaseBesideSha256sum(benchmark::State& state)
{
    static Release release;
    bundle::Store store({ release.dir / "store", release.dir / "legacy", "" });
    double ours = 0, peer = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        auto verified = store.verify_release(release.id);
        ours += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!verified) {
            state.SkipWithError("release did not verify");
            return;
        }
        peer += sha256sum_seconds(release.paths);
    }
    auto n = static_cast<double>(state.iterations());
    state.counters["ours_ms"] = ours / n * 1000;
    state.counters["sha256sum_ms"] = peer / n * 1000;
    state.counters["ratio"] = peer > 0 ? ours / peer : 0;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 20 * 1024 * 1024);
}
BENCHMARK(BM_VerifyReleaseBesideSha256sum)->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

BENCHMARK_MAIN();

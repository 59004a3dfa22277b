// The field readers search the whole answer for a quoted key, once per field.
// Their cost is measured beside a plain memmem scan of the same 64 KiB answer
// for the same pattern, run in the same binary; the "ratio" counter of the
// reader benchmarks is reader time / memmem time.

#include "foundation/json_text.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>

namespace {

// A realistic order-list answer of 64 KiB: the keys read last sit at the end.
std::string const& answer()
{
    static std::string const text = [] {
        std::string s = "{\"resultType\":\"list\",\"orders\":[";
        int i = 0;
        while (s.size() < 64 * 1024 - 200) {
            if (i)
                s += ',';
            s += "{\"orderidx\":" + std::to_string(1000 + i) + ",\"tablenum\":" + std::to_string(i % 30)
                + ",\"mname\":\"김치찌개 \\\"매운맛\\\"\",\"paystatus\":1,\"requestmemo\":\"덜 맵게 해 주세요\"}";
            ++i;
        }
        s += "],\"message\":\"정상 처리되었습니다\",\"resultCode\":\"0\"}";
        return s;
    }();
    return text;
}

double memmem_seconds_per_scan(char const* pattern)
{
    auto const& text = answer();
    size_t length = strlen(pattern);
    int const rounds = 2000;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
        void const* hit = memmem(text.data(), text.size(), pattern, length);
        benchmark::DoNotOptimize(hit);
    }
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() / rounds;
}

void BM_MemmemScan(benchmark::State& state)
{
    auto const& text = answer();
    for (auto _ : state) {
        void const* hit = memmem(text.data(), text.size(), "\"resultCode\"", 12);
        benchmark::DoNotOptimize(hit);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_MemmemScan);

void BM_IntField(benchmark::State& state)
{
    auto const& text = answer();
    double peer = memmem_seconds_per_scan("\"resultCode\"");
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        int code = tillbay::json::int_field(text, "resultCode", -1);
        benchmark::DoNotOptimize(code);
    }
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
    state.counters["ratio"] = (elapsed.count() / static_cast<double>(state.iterations())) / peer;
}
BENCHMARK(BM_IntField);

void BM_TextField(benchmark::State& state)
{
    auto const& text = answer();
    double peer = memmem_seconds_per_scan("\"message\"");
    std::string out;
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        bool found = tillbay::json::text_field(text, "message", out, 1024);
        benchmark::DoNotOptimize(found);
    }
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
    state.counters["ratio"] = (elapsed.count() / static_cast<double>(state.iterations())) / peer;
}
BENCHMARK(BM_TextField);

// Walking the whole list object by object is quadratic in the number of
// orders by design (each call starts again at the key); this shows the cost
// of reaching the last object against one memmem scan of the whole answer.
void BM_ArrayObjectLast(benchmark::State& state)
{
    auto const& text = answer();
    int last = 0;
    while (!tillbay::json::array_object(text, "orders", last + 1, 4096).empty())
        ++last;
    double peer = memmem_seconds_per_scan("\"resultCode\"");
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        auto object = tillbay::json::array_object(text, "orders", last, 4096);
        benchmark::DoNotOptimize(object);
    }
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
    state.counters["ratio"] = (elapsed.count() / static_cast<double>(state.iterations())) / peer;
}
BENCHMARK(BM_ArrayObjectLast);

} // namespace

BENCHMARK_MAIN();

// The kitchen filter over a 500-order list beside the cheapest scan of the
// same text that can find what it looks for: memchr for every brace and
// strstr for every "paystatus". Read the ratio of the two times; the filter
// should stay within a small factor of a plain scan.

#include "orders/kitchen_filter.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

namespace {

std::string order_list(int count)
{
    std::string text = "{\"orders\":[";
    for (int i = 0; i < count; ++i) {
        if (i)
            text += ',';
        bool plain = i % 10 == 0;
        bool unpaid_prepaid = i % 7 == 0;
        text += "{\"orderidx\":" + std::to_string(1000 + i) + ",\"ordernum\":\"" + std::to_string(i) + "\",\"tablenum\":"
            + std::to_string(i % 12) + ",\"status\":1,\"paystatus\":" + (unpaid_prepaid ? "0" : "1") + ",\"prepay\":1,\"ordersrc\":\""
            + (plain ? "plainpay" : "table") + "\",\"menucount\":2,\"items\":[{\"mname\":\"김치찌개\",\"qty\":2,\"comment\":\"덜 맵게 {}\"},"
            "{\"mname\":\"공기밥\",\"qty\":1,\"comment\":\"\"}],\"pickup\":0,\"pickuptime\":0,\"waitmin\":"
            + std::to_string(i % 40) + ",\"totalamount\":19000,\"requestmemo\":\"수저 2벌 [부탁] \\\"빨리\\\"\"}";
    }
    return text + "],\"storeidx\":1}";
}

std::string const& list500()
{
    static std::string text = order_list(500);
    return text;
}

void BM_KitchenFilter(benchmark::State& state)
{
    std::string const& text = list500();
    for (auto _ : state) {
        std::string out = tillbay::orders::kitchen_filter(text);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_MemchrStrstrScan(benchmark::State& state)
{
    std::string const& text = list500();
    for (auto _ : state) {
        size_t braces = 0, keys = 0;
        char const* p = text.c_str();
        char const* end = p + text.size();
        while ((p = static_cast<char const*>(std::memchr(p, '{', end - p)))) {
            ++braces;
            ++p;
        }
        for (char const* q = text.c_str(); (q = std::strstr(q, "\"paystatus\"")); ++q)
            ++keys;
        benchmark::DoNotOptimize(braces + keys);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

} // namespace

BENCHMARK(BM_KitchenFilter);
BENCHMARK(BM_MemchrStrstrScan);
BENCHMARK_MAIN();

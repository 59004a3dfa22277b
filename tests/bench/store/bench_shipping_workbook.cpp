// The shipping list as a workbook: 5,000 rows of 14 columns of CSV turned
// into an xlsx file, beside Python's xlsxwriter writing the same sheet from
// the same CSV in the same run. The figure that matters is the ratio.

#include "os/fs.h"
#include "store/csv.h"
#include "store/shipping_list.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

using namespace tillbay;
using namespace tillbay::store;

namespace {

constexpr int data_rows = 5000;

std::string shipping_csv()
{
    CsvTable table { { "주문번호", "주문일시", "상품명", "옵션", "수량", "결제금액", "받는분", "연락처", "우편번호", "주소",
        "배송메모", "택배사", "송장번호", "상태" } };
    char const* products[] = { "김치찌개 밀키트", "수제 떡볶이 2인분", "한우 불고기 500g", "유기농 쌀 10kg" };
    char const* memos[] = { "", "문 앞에 놓아 주세요", "경비실에 맡겨 주세요, 부탁드립니다", "배송 전 \"연락\" 주세요" };
    for (int i = 0; i < data_rows; ++i) {
        std::string n = std::to_string(i);
        table.push_back({ "20240305-" + n, "2024-03-05 " + std::to_string(9 + i % 12) + ":" + std::to_string(10 + i % 50),
            products[i % 4], i % 3 ? "기본" : "매운맛, 곱빼기", std::to_string(1 + i % 7), std::to_string(9900 + 100 * i),
            "고객" + n, "010-" + std::to_string(2000 + i % 8000) + "-" + std::to_string(1000 + i % 9000),
            "0" + std::to_string(1000 + i % 9000), "서울특별시 중구 세종대로 " + n + "번길 " + std::to_string(i % 40),
            memos[i % 4], i % 2 ? "CJ대한통운" : "우체국택배", std::to_string(600000000000LL + i), "결제완료" });
    }
    return write_csv(table, ByteOrderMark::Utf8);
}

struct Fixture {
    std::filesystem::path dir;
    std::string csv;
    std::filesystem::path csv_path;

    Fixture()
    {
        char pattern[] = "/tmp/tb-bench-sheet-XXXXXX";
        dir = mkdtemp(pattern);
        csv = shipping_csv();
        csv_path = dir / "list.csv";
        (void)os::write_file(csv_path, csv);
    }
    ~Fixture() { std::filesystem::remove_all(dir); }
};

// The mean seconds of one xlsxwriter conversion, as the peer reports it.
double xlsxwriter_seconds(Fixture const& fixture, int repeats)
{
    std::string command = "/usr/bin/python3 '" XLSXWRITER_PEER "' '" + fixture.csv_path.string() + "' '"
        + (fixture.dir / "peer.xlsx").string() + "' " + std::to_string(repeats);
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return 0;
    char line[64] = {};
    bool read = fgets(line, sizeof line, pipe) != nullptr;
    int status = pclose(pipe);
    return read && status == 0 ? std::strtod(line, nullptr) : 0;
}

void BM_ShippingListWorkbookBesideXlsxwriter(benchmark::State& state)
{
    static Fixture fixture;
    auto out = (fixture.dir / "발송목록.xlsx").string();
    double ours = 0;
    double converting = 0;
    size_t bytes = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        auto workbook = shipping_list_workbook(fixture.csv);
        auto converted = std::chrono::steady_clock::now();
        // Saved as the program saves it: beside the target, flushed, renamed.
        if (!workbook || !os::write_file_replacing(out, workbook.value().bytes).ok()) {
            state.SkipWithError("conversion failed");
            return;
        }
        auto saved = std::chrono::steady_clock::now();
        ours += std::chrono::duration<double>(saved - start).count();
        converting += std::chrono::duration<double>(converted - start).count();
        bytes = workbook.value().bytes.size();
    }
    auto n = static_cast<double>(state.iterations());
    double peer = xlsxwriter_seconds(fixture, 5);
    if (peer <= 0) {
        state.SkipWithError("xlsxwriter peer did not run (python3-xlsxwriter)");
        return;
    }
    state.counters["ours_ms"] = ours / n * 1000;
    state.counters["convert_ms"] = converting / n * 1000;
    state.counters["xlsxwriter_ms"] = peer * 1000;
    state.counters["ratio"] = ours / n / peer;
    state.counters["xlsx_bytes"] = static_cast<double>(bytes);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fixture.csv.size()));
}
BENCHMARK(BM_ShippingListWorkbookBesideXlsxwriter)->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

BENCHMARK_MAIN();

// Building a receipt of 40 menu lines (the printer's bytes in code page 949
// and the on-screen view) beside escpos-buffer, an ESC/POS library from npm,
// building the same receipt's lines into a buffer under Node in the same
// run. The "ratio" counter is our time / the library's time (goal: at most
// 0.05). The library is installed into the build folder by this benchmark
// the first time it runs (npm); without node and npm the ratio is left out.

#include "printing/receipt_layout.h"
#include "tools/printer/escpos_decoder.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace tillbay;
using namespace tillbay::printing;
namespace fs = std::filesystem;

namespace {

constexpr int menu_lines = 40;
constexpr char const* peer_package = "escpos-buffer@4.1.0";

double g_peer_ns = 0;

ReceiptRecord receipt()
{
    std::string json = R"({"shopname":"틸베이 한식당","address":"서울특별시 마포구 양화로 45 1층 틸베이빌딩",)"
                       R"("biznumber":"214-86-53129","bizname":"김민준","tel":"0231435521","tid":"7012345678","vat":1,)"
                       R"("ordernum":"117","idate":"2024-05-01 12:30","tablenum":7,"paymethod":"CARD",)"
                       R"("requestmemo":"덜 맵게 해 주시고 수저는 빼 주세요","usekjeon":0,"usemilege":0,"menus":[)";
    char const* names[] = { "김치찌개", "된장찌개", "제육볶음", "불고기정식", "비빔밥", "떡볶이", "김밥", "공기밥" };
    long long total = 0;
    for (int i = 0; i < menu_lines; ++i) {
        long long qty = 1 + i % 3;
        long long price = 4000 + 500 * (i % 7);
        total += qty * price;
        json += std::string(i ? "," : "") + R"({"mname":")" + names[i % 8] + R"(","qty":)" + std::to_string(qty)
            + R"(,"price":)" + std::to_string(price) + R"(,"amount":)" + std::to_string(qty * price)
            + (i % 4 == 0 ? R"(,"options":[{"optionname":"곱빼기"},{"optionname":"덜 맵게"}]})" : "}");
    }
    json += R"(],"totalamount":)" + std::to_string(total) + R"(,"payamount":)" + std::to_string(total)
        + R"(,"cards":[{"issueCardName":"신한카드","cardNoEnc":"9410-12**-****-3456","installment":"3","applNo":"30012345",)"
        + R"("amount":)" + std::to_string(total) + R"(,"tranDate":"20240501","tranTime":"123512"}],"status":1})";
    auto record = receipt_from_json(json);
    adjust(record, {});
    return record;
}

std::string json_text(std::string const& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// Our receipt's lines as the printer reads them, for the peer to write.
std::string lines_json(std::string const& bytes)
{
    std::string out = "[";
    std::string line;
    bool center = false, big = false, any = false;
    auto flush = [&] {
        out += std::string(any ? "," : "") + "{\"text\":" + json_text(line) + ",\"center\":" + (center ? "true" : "false")
            + ",\"big\":" + (big ? "true" : "false") + "}";
        any = true;
        line.clear();
    };
    for (auto const& event : printer::decode(bytes)) {
        if (event.kind == printer::EventKind::Text)
            line += event.text;
        else if (event.kind == printer::EventKind::Newline)
            flush();
        else if (event.kind == printer::EventKind::Align)
            center = event.n1 == 1;
        else if (event.kind == printer::EventKind::PrintMode)
            big = (event.n1 & 0x30) != 0;
    }
    return out + "]";
}

std::string run(std::string const& command)
{
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
            out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

// The peer's time for one receipt, in nanoseconds; 0 when it cannot run.
double measure_peer(std::string const& bytes)
{
    std::string peers = std::string(TB_BUILD_DIR) + "/bench-peers";
    std::string modules = peers + "/node_modules";
    if (!fs::exists(modules + "/escpos-buffer/package.json")) {
        std::fprintf(stderr, "bench_receipt: installing %s with npm into %s\n", peer_package, peers.c_str());
        fs::create_directories(peers);
        std::string install = "npm install --prefix '" + peers + "' --no-audit --no-fund --silent " + peer_package + " >&2";
        if (std::system(install.c_str()) != 0 || !fs::exists(modules + "/escpos-buffer/package.json")) {
            std::fprintf(stderr, "bench_receipt: %s could not be installed; the ratio is left out\n", peer_package);
            return 0;
        }
    }
    std::string lines = peers + "/receipt-lines.json";
    std::ofstream(lines) << lines_json(bytes);
    std::string answer = run("node '" + std::string(TB_SOURCE_DIR) + "/tests/bench/printing/escpos_buffer_peer.js' '" + modules
        + "' '" + lines + "' 300");
    auto at = answer.find("\"ns\":");
    if (at == std::string::npos) {
        std::fprintf(stderr, "bench_receipt: the peer did not run: %s\n", answer.c_str());
        return 0;
    }
    return std::atof(answer.c_str() + at + 5);
}

void BM_ReceiptBytesAndView(benchmark::State& state)
{
    auto record = receipt();
    PrinterRecord printer;
    size_t bytes = 0, view = 0;
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        auto document = build_receipt(record, printer, WithView::Yes);
        bytes = document.value().bytes.size();
        view = document.value().view.size();
        benchmark::DoNotOptimize(document);
    }
    double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count()
        / static_cast<double>(state.iterations());
    state.counters["bytes"] = static_cast<double>(bytes);
    state.counters["view_bytes"] = static_cast<double>(view);
    state.counters["ours_us"] = ns / 1000;
    if (g_peer_ns > 0) {
        state.counters["peer_us"] = g_peer_ns / 1000;
        state.counters["ratio"] = ns / g_peer_ns;
    }
}
BENCHMARK(BM_ReceiptBytesAndView);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    PrinterRecord printer;
    g_peer_ns = measure_peer(build_receipt(receipt(), printer, WithView::No).value().bytes);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
